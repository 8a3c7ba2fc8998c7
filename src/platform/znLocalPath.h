#pragma once

#include <QFile>
#include <QString>

#include <cstdint>
#include <optional>
#include <utility>

// Local file names are bytes. A name that is valid UTF-8 is the text it
// spells, exactly as QFile::decodeName gives it. In a name that is not,
// every byte that is no part of a valid sequence becomes a character of its
// own, U+DC80 + (byte - 0x80): a lone low surrogate, which no valid text
// holds, so the exact bytes can be made again. Qt's file classes would
// turn such a character into a different name; the functions below open,
// stat, rename and remove by the original bytes.
QString DecodeLocalPath(const QByteArray& bytes);
// The bytes of a path that DecodeLocalPath gave, or QFile::encodeName's
// bytes for a path without such characters.
QByteArray EncodeLocalPath(const QString& path);
// True when path holds a byte that is not valid UTF-8.
bool HasRawBytes(const QString& path);
// The path for people: each such byte written as "\xHH".
QString ReadableLocalPath(const QString& path);

// What a path names, links followed.
struct TznLocalFileInfo
{
    bool Exists = false;
    bool IsFile = false;
    bool IsDir = false;
    qint64 Size = 0;
};
TznLocalFileInfo LocalFileInfo(const QString& path);

// Opens file on path by its bytes; mode is ReadOnly, or ReadWrite with
// ExistingOnly (never creates or cuts the file); error gets the reason.
bool OpenLocalFile(QFile& file, const QString& path, QIODevice::OpenMode mode = QIODevice::ReadOnly,
                   QString* error = nullptr);
// Removes the file path names; error gets the system's reason.
bool RemoveLocalFile(const QString& path, QString* error = nullptr);
// Renames from to to, refusing a to that exists; error gets the reason.
bool RenameLocalFile(const QString& from, const QString& to, QString* error = nullptr);
// The same key for every path naming one file (device and node), or none.
std::optional<std::pair<uint64_t, uint64_t>> LocalFileIdentity(const QString& path);
// Reserves a new name in folder, prefix + six random characters + suffix, by
// creating an empty file of that name that no one else had; empty, with the
// system's reason for the failing call in error, when the folder cannot
// take one.
QString ReserveLocalFileName(const QString& folder, const QString& prefix, const QString& suffix, QString* error = nullptr);

// The prefix of the temporary files this process writes beside documents:
// ".~lp-" + its process id + "-", so that a later run can tell whose they are.
QString WorkFilePrefix();
// The process id in the name of such a temporary file; 0 for a name without one.
qint64 WorkFileOwner(const QString& name);
// True while a process of this id runs (or may run: one that cannot be asked counts).
bool IsProcessRunning(qint64 pid);

// This process's own folder for scratch files of the document engines,
// leafpress-run-<pid>-XXXXXX in the temporary folder, made on first use;
// empty when it cannot be made. Before it is made, the scratch that ended
// processes left there is removed (RemoveStaleScratch). It goes when the
// process ends normally.
QString ScratchFolder();
// Removes from tempFolder what runs killed before they could clean up left:
// run folders leafpress-run-<pid>-* and the office pipe sockets
// OSL_PIPE_<uid>_leafpress-<pid>-* whose process no longer runs, and those
// of this process's own id except the folder own (an ended process whose id
// came again).
void RemoveStaleScratch(const QString& tempFolder, const QString& own = QString());
