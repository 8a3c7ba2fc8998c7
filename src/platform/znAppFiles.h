#pragma once

#include <QString>

// Full path of the running executable.
QString ExecutablePath();

// Where a file the program keeps beside its executable really lives. When the
// executable's folder can be written that is the path itself; otherwise the
// same file name under the user's configuration folder. Reads look there first
// when it exists, so a file written once under the configuration folder wins.
QString SideFileForWrite(const QString& path);
QString SideFileForRead(const QString& path);
