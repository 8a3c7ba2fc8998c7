#include "platform/znLocalPath.h"

#include <QFileInfo>

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
