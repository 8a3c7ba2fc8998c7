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
