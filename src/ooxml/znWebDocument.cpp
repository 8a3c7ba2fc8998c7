#include "ooxml/znWebDocument.h"

#include "platform/znError.h"
#include "platform/znPath.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTemporaryFile>
#include <QTimer>
#include <QUrl>

#include <atomic>

namespace {

std::atomic<int> serverTimeoutMs{TznDownloadLimits().TimeoutMs};
std::atomic<int> serverDeadlineMs{TznDownloadLimits().DeadlineMs};

QString durationText(int ms)
{
    if (ms >= 60000 && ms % 60000 == 0)
        return ms == 60000 ? QStringLiteral("1 minute") : QStringLiteral("%1 minutes").arg(ms / 60000);
    return ms == 1000 ? QStringLiteral("1 second") : QStringLiteral("%1 seconds").arg(double(ms) / 1000);
}

} // namespace

void SetServerDownloadTimes(int timeoutMs, int deadlineMs)
{
    serverTimeoutMs = timeoutMs;
    serverDeadlineMs = deadlineMs;
}

TznDownloadLimits ServerDownloadLimits(qint64 maxSize)
{
    TznDownloadLimits limits;
    limits.MaxSize = maxSize;
    limits.TimeoutMs = serverTimeoutMs;
    limits.DeadlineMs = serverDeadlineMs;
    return limits;
}

bool IsWebAddress(const QString& name)
{
    return name.startsWith(QStringLiteral("http://"), Qt::CaseInsensitive)
           || name.startsWith(QStringLiteral("https://"), Qt::CaseInsensitive);
}

std::unique_ptr<QTemporaryFile> DownloadDocument(const QString& address, const TznDownloadLimits& limits)
{
    const QUrl url(address, QUrl::StrictMode);
    // The user name and password are for the server alone: no message
    // carries them, not even one of the network's that quotes the address.
    const QString shown = WithoutCredentials(address);
    auto fail = [&](QString reason) -> void {
        if (url.isValid() && !url.userInfo().isEmpty()) {
            for (const auto format : {QUrl::FullyEncoded, QUrl::PrettyDecoded})
                reason.replace(url.userInfo(format) + u'@', QString());
        }
        throw EznError(QStringLiteral("Cannot open \"%1\": %2").arg(shown, reason));
    };
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
    bool tooLong = false;
    QEventLoop loop;
    auto take = [&] {
        if (!reply->isOpen())
            return;
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
    // The silence limit alone never ends a server that sends a byte now and
    // then: the whole download has a deadline of its own.
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, [&] {
        tooLong = true;
        reply->abort();
    });
    if (limits.DeadlineMs > 0)
        deadline.start(limits.DeadlineMs);
    if (!reply->isFinished())
        loop.exec();
    deadline.stop();
    if (!reply->isFinished())
        fail(QStringLiteral("the download did not finish."));
    take();

    if (!tooLarge.isEmpty())
        fail(tooLarge);
    if (!writeError.isEmpty())
        fail(writeError);
    if (tooLong)
        fail(QStringLiteral("the download took longer than %1 and was stopped.").arg(durationText(limits.DeadlineMs)));
    const QNetworkReply::NetworkError error = reply->error();
    if (error == QNetworkReply::TooManyRedirectsError)
        fail(QStringLiteral("more than %1 redirects.").arg(limits.MaxRedirects));
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const bool answered = status >= 200 && status <= 299;
    // A length the server declared for bytes it sends as they are; with a
    // content coding Qt hands over other bytes than were counted.
    const QByteArray coding = reply->rawHeader("Content-Encoding").trimmed().toLower();
    const qint64 declared = coding.isEmpty() || coding == "identity"
        ? reply->header(QNetworkRequest::ContentLengthHeader).toLongLong()
        : 0;
    const qint64 received = file->size();
    if (answered && (error != QNetworkReply::NoError || (declared > 0 && received < declared))) {
        // The answer began and was cut short: by the server, the network or
        // a silence.
        QString reason = declared > 0 ? QStringLiteral("the download ended after %1 of %2 bytes").arg(received).arg(declared)
                                      : QStringLiteral("the download ended after %1 bytes").arg(received);
        if (error == QNetworkReply::OperationCanceledError)
            reason += QStringLiteral(" (no data for %1)").arg(durationText(limits.TimeoutMs));
        fail(reason + u'.');
    }
    if (error != QNetworkReply::NoError || (status != 0 && !answered)) {
        QString reason = reply->errorString();
        if (status != 0) {
            const QString phrase = reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
            reason = QStringLiteral("the server answered %1 %2").arg(status).arg(phrase).trimmed();
        } else if (error == QNetworkReply::OperationCanceledError) {
            reason = QStringLiteral("no answer within %1").arg(durationText(limits.TimeoutMs));
        }
        fail(reason + u'.');
    }
    if (!file->flush())
        fail(QStringLiteral("the download cannot be written (%1).").arg(file->errorString()));
    file->close();
    return file;
}
