#include "project/znFileUtils.h"

#include <QDir>
#include <QFile>

#include <sys/stat.h>

bool TznFileUtils::IsFileOpen(const QString& path)
{
    struct stat target;
    if (stat(QFile::encodeName(path).constData(), &target) != 0)
        return false;
    // Every descriptor of every process we may look at; a process of another
    // user is not visible, and such a process cannot write our folders'
    // temporary files anyway.
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& pid : pids) {
        bool isPid = false;
        pid.toInt(&isPid);
        if (!isPid)
            continue;
        const QString fdDir = QStringLiteral("/proc/") + pid + QStringLiteral("/fd");
        const QStringList fds = QDir(fdDir).entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot);
        for (const QString& fd : fds) {
            struct stat st;
            if (stat(QFile::encodeName(fdDir + u'/' + fd).constData(), &st) == 0 && st.st_dev == target.st_dev
                && st.st_ino == target.st_ino)
                return true;
        }
    }
    return false;
}
