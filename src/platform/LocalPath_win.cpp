#include "platform/znLocalPath.h"

#include <QFileInfo>
#include <QTemporaryFile>

#include <windows.h>

// Windows names are UTF-16 text: there are no raw bytes, and Qt's classes
// serve every path.

TznLocalFileInfo LocalFileInfo(const QString& path)
{
    TznLocalFileInfo info;
    const QFileInfo fi(path);
    info.Exists = !path.isEmpty() && fi.exists();
    info.IsFile = info.Exists && fi.isFile();
    info.IsDir = info.Exists && fi.isDir();
    info.Size = info.IsFile ? fi.size() : 0;
    return info;
}

bool OpenLocalFile(QFile& file, const QString& path, QIODevice::OpenMode mode, QString* error)
{
    file.setFileName(path);
    if (file.open(mode))
        return true;
    if (error)
        *error = file.errorString();
    return false;
}

bool RemoveLocalFile(const QString& path, QString* error)
{
    QFile file(path);
    if (file.remove())
        return true;
    if (error)
        *error = file.errorString();
    return false;
}

bool RenameLocalFile(const QString& from, const QString& to, QString* error)
{
    QFile file(from);
    if (file.rename(to))
        return true;
    if (error)
        *error = file.errorString();
    return false;
}

std::optional<std::pair<uint64_t, uint64_t>> LocalFileIdentity(const QString&)
{
    return std::nullopt;
}

QString ReserveLocalFileName(const QString& folder, const QString& prefix, const QString& suffix, QString* error)
{
    QTemporaryFile file(folder + u'/' + prefix + QStringLiteral("XXXXXX") + suffix);
    file.setAutoRemove(false);
    if (!file.open()) {
        if (error)
            *error = file.errorString();
        return QString();
    }
    return file.fileName();
}

bool IsProcessRunning(qint64 pid)
{
    if (pid <= 0)
        return false;
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, DWORD(pid));
    if (!process)
        return GetLastError() == ERROR_ACCESS_DENIED;
    DWORD code = 0;
    const bool running = GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
    CloseHandle(process);
    return running;
}
