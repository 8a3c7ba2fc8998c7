#include "platform/znFileTimes.h"

#include "platform/znLocalPath.h"

#include <QFile>

bool ReadFileTimes(const QString& path, TznFileTimes& times)
{
    QFile file;
    if (!OpenLocalFile(file, path))
        return false;
    times.Creation = file.fileTime(QFileDevice::FileBirthTime);
    times.LastAccess = file.fileTime(QFileDevice::FileAccessTime);
    times.LastWrite = file.fileTime(QFileDevice::FileModificationTime);
    return true;
}

bool WriteFileTimes(const QString& path, const TznFileTimes& times)
{
    QFile file;
    // ReadWrite with ExistingOnly opens for writing without cutting the file
    // and without creating one.
    if (!OpenLocalFile(file, path, QIODevice::ReadWrite | QIODevice::ExistingOnly))
        return false;
    if (times.Creation.isValid())
        file.setFileTime(times.Creation, QFileDevice::FileBirthTime);
    if (times.LastAccess.isValid())
        file.setFileTime(times.LastAccess, QFileDevice::FileAccessTime);
    return times.LastWrite.isValid() && file.setFileTime(times.LastWrite, QFileDevice::FileModificationTime);
}
