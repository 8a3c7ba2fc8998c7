#include "project/znFileUtils.h"

#include "platform/znError.h"
#include "platform/znLocalPath.h"
#include "platform/znReplaceFile.h"
#include "platform/znPath.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <system_error>

int32_t PackDosTime(int year, int month, int day, int hour, int minute, int second)
{
    if (year < 1980 || year > 2107)
        return -1;
    const uint32_t date = uint32_t(((year - 1980) << 9) | (month << 5) | day);
    const uint32_t time = uint32_t((hour << 11) | (minute << 5) | (second / 2));
    return int32_t((date << 16) | time);
}

qint64 TznFileUtils::FileSizeOf(const QString& path)
{
    return LocalFileInfo(path).Size;
}

bool TznFileUtils::CopyFileOver(const QString& source, const QString& target, QString* error)
{
    auto fail = [&](const QString& reason) {
        if (error)
            *error = reason;
        return false;
    };
    QFile in;
    QString reason;
    if (!OpenLocalFile(in, source, QIODevice::ReadOnly, &reason))
        return fail(reason);
    QSaveFile out(target);
    if (!out.open(QIODevice::WriteOnly))
        return fail(out.errorString());
    char buf[1 << 16];
    for (;;) {
        const qint64 n = in.read(buf, sizeof buf);
        if (n < 0)
            return fail(in.errorString());
        if (n == 0)
            break;
        if (out.write(buf, n) != n)
            return fail(out.errorString());
    }
    if (!out.commit())
        return fail(out.errorString());
    return true;
}

bool TznFileUtils::ReplaceFile(const QString& file, const QString& target, QString* error)
{
    return ReplaceFileAtomically(file, target, error);
}

int32_t TznFileUtils::FileDosTime(const QString& path, bool creationTime, bool utc)
{
    QString p = path;
    // A folder named with a trailing delimiter means the folder itself.
    while (p.size() > 1 && HasTrailingDelimiter(p))
        p.chop(1);
    const QFileInfo info(p);
    if (!info.exists())
        return -1;
    QDateTime t = creationTime ? info.birthTime() : info.lastModified();
    if (!t.isValid())
        t = creationTime ? info.metadataChangeTime() : info.lastModified();
    if (!t.isValid())
        return -1;
    t = utc ? t.toUTC() : t.toLocalTime();
    const QDate d = t.date();
    const QTime tm = t.time();
    return PackDosTime(d.year(), d.month(), d.day(), tm.hour(), tm.minute(), tm.second());
}

QString TznFileUtils::ReadFileText(const QString& path, int unitSize)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw EznError(QStringLiteral("Cannot open file \"%1\". %2").arg(path, file.errorString()));
    const QByteArray bytes = file.readAll();
    if (unitSize != 2)
        return QString::fromLatin1(bytes);
    QString text(bytes.size() / 2, Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i)
        text[i] = QChar(char16_t(uint8_t(bytes[2 * i]) | (uint8_t(bytes[2 * i + 1]) << 8)));
    return text;
}

void TznFileUtils::WriteFileText(const QString& path, const QString& text, int unitSize, bool append)
{
    const QString folder = FolderPart(path);
    if (!folder.isEmpty() && !QFileInfo(folder).isDir())
        QDir().mkpath(folder);
    QFile file(path);
    const QIODevice::OpenMode mode = append ? (QIODevice::WriteOnly | QIODevice::Append)
                                            : (QIODevice::WriteOnly | QIODevice::Truncate);
    if (!file.open(mode))
        throw EznError(QStringLiteral("Cannot create file \"%1\". %2").arg(path, file.errorString()));
    QByteArray bytes;
    if (unitSize == 2) {
        bytes.resize(text.size() * 2);
        for (qsizetype i = 0; i < text.size(); ++i) {
            const char16_t u = text[i].unicode();
            bytes[2 * i] = char(u & 0xFF);
            bytes[2 * i + 1] = char(u >> 8);
        }
    } else {
        bytes = text.toLatin1();
    }
    if (file.write(bytes) != bytes.size())
        throw EznError(QStringLiteral("Cannot write file \"%1\". %2").arg(path, file.errorString()));
}
