#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// True when the bytes begin with the signature of an OLE compound file.
bool IsCompoundFileSignature(const QByteArray& head);

// The names of every storage and stream of the compound file at path, read from its
// directory; nullopt when the file is no compound file or its structure is damaged.
std::optional<QStringList> CompoundFileEntryNames(const QString& path);

// The first bytes (at most 64) of the stream called name in the compound file at path;
// nullopt when there is no such stream, it is shorter, or the file is damaged.
std::optional<QByteArray> CompoundFileStreamHead(const QString& path, const QString& name, int bytes);
