#pragma once

#include <QDateTime>
#include <QString>

// The three time stamps of a file; a time the platform does not keep is
// invalid (creation on most POSIX file systems).
struct TznFileTimes
{
    QDateTime Creation;
    QDateTime LastAccess;
    QDateTime LastWrite;
};

// Reads the times of the file at path; false when it cannot be opened for reading.
bool ReadFileTimes(const QString& path, TznFileTimes& times);

// Sets the valid times on the file at path, each one the platform can set
// (POSIX sets no creation time); the file is opened for writing without
// being changed. False when it cannot be opened or the last-write time was
// not set.
bool WriteFileTimes(const QString& path, const TznFileTimes& times);
