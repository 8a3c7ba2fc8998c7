#include "platform/znTextFile.h"

#include "platform/znError.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>
#include <QStringDecoder>
#include <QStringEncoder>

#include <cerrno>
#include <cstdio>
#include <cstring>

QString DecodeText(const QByteArray& bytes)
{
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return QString::fromUtf8(bytes.constData() + 3, bytes.size() - 3);
    if (bytes.startsWith("\xFF\xFE")) {
        QStringDecoder dec(QStringConverter::Utf16LE);
        return dec(bytes.mid(2));
    }
    if (bytes.startsWith("\xFE\xFF")) {
        QStringDecoder dec(QStringConverter::Utf16BE);
        return dec(bytes.mid(2));
    }
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    QString text = utf8(bytes);
    if (!utf8.hasError())
        return text;
    QStringDecoder local(QStringConverter::System, QStringConverter::Flag::Stateless);
    text = local(bytes);
    if (!local.hasError())
        return text;
    // The locale's code page cannot hold these bytes either (a UTF-8
    // locale): take each byte as one character so that none is lost.
    return QString::fromLatin1(bytes);
}

QByteArray EncodeText(const QString& text)
{
    QStringEncoder enc(QStringConverter::System);
    return enc(text);
}

std::optional<QString> ReadTextFile(const QString& path, qint64 maxBytes)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    if (file.size() > maxBytes)
        return std::nullopt;
    const QByteArray bytes = file.read(maxBytes + 1);
    if (bytes.size() > maxBytes)
        return std::nullopt;
    return DecodeText(bytes);
}

QStringList SplitLines(const QString& text)
{
    QStringList lines;
    qsizetype start = 0;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text[i];
        if (c == u'\r' || c == u'\n') {
            lines << text.mid(start, i - start);
            if (c == u'\r' && i + 1 < n && text[i + 1] == u'\n')
                ++i;
            start = i + 1;
        }
    }
    if (start < n)
        lines << text.mid(start);
    return lines;
}

QString JoinLines(const QStringList& lines)
{
    QString text;
    for (const QString& line : lines) {
        text += line;
        text += QStringLiteral("\r\n");
    }
    return text;
}

namespace {

// A device or pipe (/dev/stdout, /dev/full) is written into as it is:
// renaming a temporary file over it would replace the device itself.
void writeInPlace(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw EznError(QStringLiteral("Cannot create file \"%1\". %2").arg(path, file.errorString()));
    if (file.write(bytes) != bytes.size() || !file.flush())
        throw EznError(QStringLiteral("Cannot write file \"%1\". %2").arg(path, file.errorString()));
    file.close();
    if (file.error() != QFileDevice::NoError)
        throw EznError(QStringLiteral("Cannot write file \"%1\". %2").arg(path, file.errorString()));
}

} // namespace

void WriteTextFile(const QString& given, const QStringList& lines)
{
    const QFileInfo existing(given);
    const QByteArray bytes = EncodeText(JoinLines(lines));
    if (existing.exists() && !existing.isFile() && !existing.isDir()) {
        writeInPlace(given, bytes);
        return;
    }
    // A link is followed, so that the file it names gets the lines.
    const QString path = existing.isSymLink() && existing.exists() ? existing.canonicalFilePath() : given;
    // Every step is checked by itself: a full disk may refuse the bytes at
    // the write, at the flush or only at the close, and an older file must
    // stay as it was until the new one is whole.
    QTemporaryFile file(path + QStringLiteral(".XXXXXX"));
    if (!file.open())
        throw EznError(QStringLiteral("Cannot create file \"%1\". %2").arg(path, file.errorString()));
    if (file.write(bytes) != bytes.size() || !file.flush())
        throw EznError(QStringLiteral("Cannot write file \"%1\". %2").arg(path, file.errorString()));
    const QString temporary = file.fileName();
    // The new file gets the older one's permissions, or those a new file
    // would get; the temporary name starts out readable by its owner only.
    file.setPermissions(existing.isFile() ? existing.permissions()
                                          : QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup
                                                | QFileDevice::ReadOther);
    file.close();
    if (file.error() != QFileDevice::NoError)
        throw EznError(QStringLiteral("Cannot write file \"%1\". %2").arg(path, file.errorString()));
    // The system's rename replaces the older file in one step where it can;
    // where it refuses an existing name, the older file goes first.
    if (std::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(path).constData()) != 0) {
        const QString reason = QString::fromLocal8Bit(std::strerror(errno));
        if (!existing.isFile() || !QFile::remove(path) || !QFile::rename(temporary, path))
            throw EznError(QStringLiteral("Cannot write file \"%1\". %2").arg(path, reason));
    }
    file.setAutoRemove(false);
}
