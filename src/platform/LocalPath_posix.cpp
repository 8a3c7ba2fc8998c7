#include "platform/znLocalPath.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString systemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

TznLocalFileInfo LocalFileInfo(const QString& path)
{
    TznLocalFileInfo info;
    struct stat st;
    if (path.isEmpty() || stat(EncodeLocalPath(path).constData(), &st) != 0)
        return info;
    info.Exists = true;
    info.IsFile = S_ISREG(st.st_mode);
    info.IsDir = S_ISDIR(st.st_mode);
    info.Size = info.IsFile ? qint64(st.st_size) : 0;
    return info;
}

bool OpenLocalFile(QFile& file, const QString& path, QIODevice::OpenMode mode, QString* error)
{
    if (!HasRawBytes(path)) {
        file.setFileName(path);
        if (file.open(mode))
            return true;
        if (error)
            *error = file.errorString();
        return false;
    }
    const bool write = mode & QIODevice::WriteOnly;
    const int fd = ::open(EncodeLocalPath(path).constData(), (write ? O_RDWR : O_RDONLY) | O_CLOEXEC);
    if (fd < 0) {
        if (error)
            *error = systemReason(errno);
        return false;
    }
    if (!file.open(fd, mode & ~QIODevice::ExistingOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

bool RemoveLocalFile(const QString& path, QString* error)
{
    if (::unlink(EncodeLocalPath(path).constData()) == 0)
        return true;
    if (error)
        *error = systemReason(errno);
    return false;
}

bool RenameLocalFile(const QString& from, const QString& to, QString* error)
{
    const QByteArray target = EncodeLocalPath(to);
    struct stat st;
    if (lstat(target.constData(), &st) == 0) {
        if (error)
            *error = QStringLiteral("Destination file exists");
        return false;
    }
    if (::rename(EncodeLocalPath(from).constData(), target.constData()) == 0)
        return true;
    if (error)
        *error = systemReason(errno);
    return false;
}

std::optional<std::pair<uint64_t, uint64_t>> LocalFileIdentity(const QString& path)
{
    struct stat st;
    if (path.isEmpty() || stat(EncodeLocalPath(path).constData(), &st) != 0)
        return std::nullopt;
    return std::make_pair(static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino));
}

QString ReserveLocalFileName(const QString& folder, const QString& prefix, const QString& suffix, QString* error)
{
    QByteArray name = EncodeLocalPath(folder + u'/' + prefix) + "XXXXXX" + EncodeLocalPath(suffix);
    const int fd = mkostemps(name.data(), int(EncodeLocalPath(suffix).size()), O_CLOEXEC);
    if (fd < 0) {
        if (error)
            *error = systemReason(errno);
        return QString();
    }
    ::close(fd);
    return DecodeLocalPath(name);
}

bool IsProcessRunning(qint64 pid)
{
    if (pid <= 0)
        return false;
    // A process of another user cannot be signalled but still runs.
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}
