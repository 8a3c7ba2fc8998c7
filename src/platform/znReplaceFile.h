#pragma once

#include <QString>

// Renames file over target in one step (an older target is replaced atomically, never
// deleted first); the new file takes the rights of the one it replaces. On failure the
// target is as it was and error, when given, holds the system's reason.
bool ReplaceFileAtomically(const QString& file, const QString& target, QString* error = nullptr);
