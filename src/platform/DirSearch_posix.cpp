#include "platform/znDirSearch.h"

#include "platform/znLocalPath.h"

#include <cerrno>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::vector<TznSearchRec> FindEntries(const QString& folder, const QString& mask, int attr, QString* error)
{
    std::vector<TznSearchRec> found;
    if (error)
        error->clear();
    const QByteArray path = EncodeLocalPath(folder.isEmpty() ? QStringLiteral(".") : folder);
    DIR* dir = opendir(path.constData());
    if (!dir) {
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(errno));
        return found;
    }
    const int dirFd = dirfd(dir);
    const int excluded = ~attr & (faHidden | faSysFile | faVolumeId | faDirectory);
    while (const dirent* entry = readdir(dir)) {
        const char* raw = entry->d_name;
        if (raw[0] == '.' && (raw[1] == 0 || (raw[1] == '.' && raw[2] == 0)))
            continue;
        const bool hidden = raw[0] == '.';
        if (hidden && (excluded & faHidden))
            continue;
        // A name that is not valid UTF-8 keeps its bytes, so that it can be
        // opened, and a folder entered, by exactly that name.
        const QString name = DecodeLocalPath(QByteArray(raw));
        if (!MatchesWildcard(name, mask))
            continue;

        // The entry's own type when the folder listing gives it; a link or
        // an unknown type is looked up, following the link.
        bool isDir = entry->d_type == DT_DIR;
        bool isFile = entry->d_type == DT_REG;
        bool readOnly = false;
        const bool needStat = (!isDir && !isFile) || (isFile && (attr & faReadOnly));
        if (needStat) {
            struct stat st;
            if (fstatat(dirFd, raw, &st, 0) != 0)
                continue;
            isDir = S_ISDIR(st.st_mode);
            isFile = S_ISREG(st.st_mode);
            readOnly = !(st.st_mode & S_IWUSR);
        }
        // Devices, pipes and sockets are no documents; opening one could
        // block a worker for good.
        if (!isDir && !isFile)
            continue;
        if (isDir && (excluded & faDirectory))
            continue;

        TznSearchRec rec;
        rec.Name = name;
        rec.Attr = isDir ? faDirectory : faArchive;
        if (hidden)
            rec.Attr |= faHidden;
        if (readOnly)
            rec.Attr |= faReadOnly;
        found.push_back(std::move(rec));
    }
    closedir(dir);
    SortByName(found);
    return found;
}

std::optional<std::pair<uint64_t, uint64_t>> FolderIdentity(const QString& folder)
{
    struct stat st;
    const QByteArray path = EncodeLocalPath(folder.isEmpty() ? QStringLiteral(".") : folder);
    if (stat(path.constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return std::nullopt;
    return std::make_pair(static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino));
}
