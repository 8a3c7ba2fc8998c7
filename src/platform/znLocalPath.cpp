#include "platform/znLocalPath.h"

#include <QCoreApplication>
#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <memory>
#include <mutex>

namespace {

constexpr char16_t kEscapeBase = 0xDC00;

bool isEscape(QChar c)
{
    return c.unicode() >= 0xDC80 && c.unicode() <= 0xDCFF;
}

// The length of the valid UTF-8 sequence at bytes[i], or 0; its code
// point in cp.
int sequenceAt(const QByteArray& bytes, qsizetype i, char32_t& cp)
{
    const auto b = [&](qsizetype k) { return static_cast<unsigned char>(bytes[k]); };
    const unsigned char lead = b(i);
    int length;
    char32_t min;
    if (lead < 0x80) {
        cp = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, cp = lead & 0x1F, min = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, cp = lead & 0x0F, min = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, cp = lead & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (i + length > bytes.size())
        return 0;
    for (int k = 1; k < length; ++k) {
        if ((b(i + k) & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (b(i + k) & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return length;
}

} // namespace

QString DecodeLocalPath(const QByteArray& bytes)
{
    QString text;
    bool valid = true;
    char32_t cp = 0;
    for (qsizetype i = 0; i < bytes.size();) {
        const int n = sequenceAt(bytes, i, cp);
        if (n == 0) {
            valid = false;
            text.append(QChar(char16_t(kEscapeBase + static_cast<unsigned char>(bytes[i]))));
            ++i;
            continue;
        }
        text.append(QString::fromUcs4(&cp, 1));
        i += n;
    }
    return valid ? QFile::decodeName(bytes) : text;
}

QByteArray EncodeLocalPath(const QString& path)
{
    if (!HasRawBytes(path))
        return QFile::encodeName(path);
    QByteArray bytes;
    for (qsizetype i = 0; i < path.size(); ++i) {
        const QChar c = path[i];
        if (c.isHighSurrogate() && i + 1 < path.size() && path[i + 1].isLowSurrogate()) {
            bytes += QStringView(path).mid(i, 2).toUtf8();
            ++i;
        } else if (isEscape(c)) {
            bytes += char(c.unicode() - kEscapeBase);
        } else {
            bytes += QStringView(&c, 1).toUtf8();
        }
    }
    return bytes;
}

bool HasRawBytes(const QString& path)
{
    for (qsizetype i = 0; i < path.size(); ++i) {
        if (path[i].isHighSurrogate() && i + 1 < path.size() && path[i + 1].isLowSurrogate())
            ++i;
        else if (isEscape(path[i]))
            return true;
    }
    return false;
}

QString ReadableLocalPath(const QString& path)
{
    if (!HasRawBytes(path))
        return path;
    QString text;
    for (qsizetype i = 0; i < path.size(); ++i) {
        const QChar c = path[i];
        if (c.isHighSurrogate() && i + 1 < path.size() && path[i + 1].isLowSurrogate()) {
            text += c;
            text += path[++i];
        } else if (isEscape(c)) {
            text += QStringLiteral("\\x")
                    + QString::number(c.unicode() - kEscapeBase, 16).toUpper().rightJustified(2, QLatin1Char('0'));
        } else {
            text += c;
        }
    }
    return text;
}

QString WorkFilePrefix()
{
    return QStringLiteral(".~lp-%1-").arg(QCoreApplication::applicationPid());
}

qint64 WorkFileOwner(const QString& name)
{
    static const QRegularExpression owned(QStringLiteral("^\\.~lp-([0-9]{1,10})-"));
    const QRegularExpressionMatch m = owned.match(name);
    return m.hasMatch() ? m.captured(1).toLongLong() : 0;
}

void RemoveStaleScratch(const QString& tempFolder, const QString& own)
{
    static const QRegularExpression owned(QStringLiteral("^(?:leafpress-run-|OSL_PIPE_[0-9]+_leafpress-)([0-9]{1,10})-"));
    const qint64 self = QCoreApplication::applicationPid();
    const QString ownName = QFileInfo(own).fileName();
    QDir folder(tempFolder);
    const QFileInfoList entries = folder.entryInfoList({QStringLiteral("leafpress-run-*"), QStringLiteral("OSL_PIPE_*_leafpress-*")},
                                                       QDir::Dirs | QDir::Files | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QFileInfo& entry : entries) {
        const QRegularExpressionMatch m = owned.match(entry.fileName());
        if (!m.hasMatch() || entry.fileName() == ownName)
            continue;
        const qint64 pid = m.captured(1).toLongLong();
        if (pid != self && IsProcessRunning(pid))
            continue;
        // Only what the run made is below its folder; links are removed,
        // never followed.
        if (entry.isDir() && !entry.isSymLink())
            QDir(entry.absoluteFilePath()).removeRecursively();
        else
            QFile::remove(entry.absoluteFilePath());
    }
}

namespace {

struct TznScratch
{
    std::unique_ptr<QTemporaryDir> Folder;
};

} // namespace

QString ScratchFolder()
{
    // Made once and kept for the life of the process; its destructor at the
    // process's normal end removes it with everything left in it.
    static TznScratch scratch;
    static std::once_flag once;
    std::call_once(once, [] {
        const QString temp = QDir::tempPath();
        RemoveStaleScratch(temp);
        // The office makes its pipe sockets in /tmp whatever TMPDIR says.
        const QString pipes = QStringLiteral("/tmp");
        if (QDir(pipes).exists() && QDir(pipes) != QDir(temp))
            RemoveStaleScratch(pipes);
        auto folder = std::make_unique<QTemporaryDir>(
            temp + QStringLiteral("/leafpress-run-%1-XXXXXX").arg(QCoreApplication::applicationPid()));
        if (folder->isValid())
            scratch.Folder = std::move(folder);
    });
    return scratch.Folder ? scratch.Folder->path() : QString();
}
