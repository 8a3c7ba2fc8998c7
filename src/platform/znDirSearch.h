#pragma once

#include <QString>

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

// Attribute bits of a directory entry. On POSIX a name starting with "." is
// hidden, a file its owner may not write is read-only, every other file has
// the archive bit; there is no system attribute.
enum : int {
    faReadOnly = 0x01,
    faHidden = 0x02,
    faSysFile = 0x04,
    faVolumeId = 0x08,
    faDirectory = 0x10,
    faArchive = 0x20,
    faDevice = 0x40,
    faNormal = 0x80,
    faTemporary = 0x100,
    faBasic = 0x1FF,
};

// One entry found by FindEntries.
struct TznSearchRec
{
    QString Name;
    int Attr = 0;
};

// Windows wildcard match, letter case ignored: "*" matches any run, none
// included; "?" one character, or nothing at the end of the mask or before
// a "."; a "." followed only by "*" may also meet the end of the name, so
// "*.*" matches every name.
bool MatchesWildcard(const QString& name, const QString& mask);

// The regular files and folders of folder whose names match mask, sorted by
// name with letter case ignored. An entry that is hidden, system or a
// folder is left out unless attr asks for that attribute; "." and ".." are
// never returned. A folder that cannot be read gives nothing; error, when
// given, then gets the system's reason (it is cleared otherwise).
std::vector<TznSearchRec> FindEntries(const QString& folder, const QString& mask, int attr, QString* error = nullptr);

// Sorts entries by name with letter case ignored, ties by exact name, so
// that listings are repeatable.
void SortByName(std::vector<TznSearchRec>& entries);

// A key that is the same for every path naming one folder (device and
// node), or none when the folder cannot be reached.
std::optional<std::pair<uint64_t, uint64_t>> FolderIdentity(const QString& folder);
