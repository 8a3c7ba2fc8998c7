#pragma once

#include <QString>

#include <cstdint>

// Class-level file helpers.
class TznFileUtils
{
public:
    // Size in bytes, 64 bits wide; 0 when the path names nothing.
    static qint64 FileSizeOf(const QString& path);
    // Copies source over target through a temporary file in the target's
    // folder, so that the target is either the old file or a whole copy.
    // False with the reason in error (when given) otherwise.
    static bool CopyFileOver(const QString& source, const QString& target, QString* error = nullptr);
    // Replaces target with file by a rename, keeping an older target's
    // permissions; the old target stays as it was when that fails. False
    // with the reason in error (when given) otherwise.
    static bool ReplaceFile(const QString& file, const QString& target, QString* error = nullptr);
    // True when a process (this one included) holds the file open; false
    // where that cannot be told.
    static bool IsFileOpen(const QString& path);
    // Creation time (creationTime) or last-write time of a file or folder,
    // local unless utc, packed as DOS date (high 16 bits) and time (low 16
    // bits); -1 when there is no such entry or the time cannot be packed.
    static int32_t FileDosTime(const QString& path, bool creationTime, bool utc);
    // The file's bytes taken as little-endian code units of unitSize bytes
    // (2: UTF-16), without conversion; a final partial unit is dropped.
    // Raises EznError when the file cannot be opened.
    static QString ReadFileText(const QString& path, int unitSize = 2);
    // Writes the text's code units little-endian, no byte-order mark, creating
    // the file's folder when missing; append writes at the end, otherwise the
    // file is cut to length 0 first. Raises EznError when it cannot be opened.
    static void WriteFileText(const QString& path, const QString& text, int unitSize = 2, bool append = false);
};

// Packs a date-time as a DOS date-time; -1 outside 1980-2107.
int32_t PackDosTime(int year, int month, int day, int hour, int minute, int second);
