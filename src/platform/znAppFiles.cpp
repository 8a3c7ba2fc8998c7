#include "platform/znAppFiles.h"

#include "platform/znPath.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace {

QString configFolder()
{
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/leafpress");
}

bool folderWritable(const QString& folder)
{
    const QFileInfo info(folder.isEmpty() ? QStringLiteral(".") : folder);
    return info.isDir() && info.isWritable();
}

} // namespace

QString ExecutablePath()
{
#ifndef _WIN32
    char buf[4096];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n > 0)
        return QString::fromLocal8Bit(buf, n);
#endif
    return QCoreApplication::instance() ? QCoreApplication::applicationFilePath() : QString();
}

QString SideFileForWrite(const QString& path)
{
    if (folderWritable(FolderPart(path)))
        return path;
    const QString folder = configFolder();
    QDir().mkpath(folder);
    return folder + u'/' + FileNamePart(path);
}

QString SideFileForRead(const QString& path)
{
    if (folderWritable(FolderPart(path)))
        return path;
    const QString alt = configFolder() + u'/' + FileNamePart(path);
    return QFileInfo::exists(alt) ? alt : path;
}
