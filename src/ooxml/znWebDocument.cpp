#include "ooxml/znWebDocument.h"

#include "platform/znError.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTemporaryFile>
#include <QUrl>

bool IsWebAddress(const QString& name)
{
    return name.startsWith(QStringLiteral("http://"), Qt::CaseInsensitive)
           || name.startsWith(QStringLiteral("https://"), Qt::CaseInsensitive);
}

std::unique_ptr<QTemporaryFile> DownloadDocument(const QString& address, const TznDownloadLimits& limits)
{
    auto fail = [&](const QString& reason) -> void {
        throw EznError(QStringLiteral("Cannot open \"%1\": %2").arg(address, reason));
    };
    const QUrl url(address, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty())
        fail(QStringLiteral("the address is not valid."));
    // Qt's network replies need the process's application object.
    if (!QCoreApplication::instance())
        fail(QStringLiteral("web documents cannot be fetched in this process."));

    const QString suffix = QFileInfo(url.path()).suffix();
    auto file = std::make_unique<QTemporaryFile>(QDir::tempPath() + QStringLiteral("/lp-web-XXXXXX")
                                                 + (suffix.isEmpty() ? QString() : u'.' + suffix));
    if (!file->open())
        fail(QStringLiteral("no temporary file can be written (%1).").arg(file->errorString()));

    // The download runs on the calling (worker) thread with an event loop of
    // its own that lives only for this call.
    QNetworkAccessManager manager;
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(limits.MaxRedirects);
    request.setTransferTimeout(limits.TimeoutMs);
    std::unique_ptr<QNetworkReply> reply(manager.get(request));

    QString tooLarge, writeError;
    QEventLoop loop;
    auto take = [&] {
        const QByteArray chunk = reply->readAll();
        if (chunk.isEmpty() || !tooLarge.isEmpty() || !writeError.isEmpty())
            return;
        if (limits.MaxSize > 0 && file->size() + chunk.size() > limits.MaxSize) {
            tooLarge = QStringLiteral("the document is larger than the limit of %1 bytes and is refused.").arg(limits.MaxSize);
            reply->abort();
            return;
        }
        if (file->write(chunk) != chunk.size()) {
            writeError = QStringLiteral("the download cannot be written (%1).").arg(file->errorString());
            reply->abort();
        }
    };
    QObject::connect(reply.get(), &QNetworkReply::metaDataChanged, &loop, [&] {
        const qint64 declared = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
        if (limits.MaxSize > 0 && declared > limits.MaxSize && tooLarge.isEmpty()) {
            tooLarge = QStringLiteral("the document is larger than the limit of %1 bytes and is refused.").arg(limits.MaxSize);
            reply->abort();
        }
    });
    QObject::connect(reply.get(), &QNetworkReply::readyRead, &loop, take);
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (!reply->isFinished())
        loop.exec();
    if (!reply->isFinished())
        fail(QStringLiteral("the download did not finish."));
    take();

    if (!tooLarge.isEmpty())
        fail(tooLarge);
    if (!writeError.isEmpty())
        fail(writeError);
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (reply->error() != QNetworkReply::NoError || (status != 0 && (status < 200 || status > 299))) {
        QString reason = reply->errorString();
        if (status != 0) {
            const QString phrase = reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
            reason = QStringLiteral("the server answered %1 %2").arg(status).arg(phrase).trimmed();
        } else if (reply->error() == QNetworkReply::OperationCanceledError) {
            reason = QStringLiteral("no answer within %1 seconds").arg(limits.TimeoutMs / 1000);
        }
        fail(reason + u'.');
    }
    if (!file->flush())
        fail(QStringLiteral("the download cannot be written (%1).").arg(file->errorString()));
    file->close();
    return file;
}
