#include "platform/znDirSearch.h"

#include <windows.h>

std::vector<TznSearchRec> FindEntries(const QString& folder, const QString& mask, int attr, QString* error)
{
    std::vector<TznSearchRec> found;
    if (error)
        error->clear();
    const QString pattern = folder + QStringLiteral("*");
    WIN32_FIND_DATAW data;
    HANDLE h = FindFirstFileExW(reinterpret_cast<const wchar_t*>(pattern.utf16()), FindExInfoBasic, &data,
                                FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        // An empty folder is no failure.
        if (error && code != ERROR_FILE_NOT_FOUND && code != ERROR_NO_MORE_FILES)
            *error = QStringLiteral("Windows error %1").arg(code);
        return found;
    }
    const DWORD excluded = ~static_cast<DWORD>(attr) & (faHidden | faSysFile | faVolumeId | faDirectory);
    do {
        const QString name = QString::fromWCharArray(data.cFileName);
        if (name == u"." || name == u"..")
            continue;
        if (data.dwFileAttributes & excluded)
            continue;
        if (!MatchesWildcard(name, mask))
            continue;
        found.push_back({name, static_cast<int>(data.dwFileAttributes & faBasic)});
    } while (FindNextFileW(h, &data));
    FindClose(h);
    SortByName(found);
    return found;
}

std::optional<std::pair<uint64_t, uint64_t>> FolderIdentity(const QString& folder)
{
    HANDLE h = CreateFileW(reinterpret_cast<const wchar_t*>(folder.utf16()), 0,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return std::nullopt;
    BY_HANDLE_FILE_INFORMATION info;
    const bool ok = GetFileInformationByHandle(h, &info);
    CloseHandle(h);
    if (!ok || !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return std::nullopt;
    return std::make_pair(static_cast<uint64_t>(info.dwVolumeSerialNumber),
                          (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow);
}
