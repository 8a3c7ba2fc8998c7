#pragma once

#include "package/znPackage.h"
#include "package/znPartName.h"

#include <QByteArray>
#include <QHash>
#include <QString>

// The media parts pastes write: new parts named imageN.ext (the lowest N free), and the
// relationship under which each rendering was stored in each part, so that one rendering
// pasted in many places is stored once.
class TznPastedMedia
{
public:
    // Writes bytes as a new part in folder (a folder name ending in '/'); returns its name.
    TznPartName Write(TznPackage& package, const QString& folder, const QByteArray& bytes, const QString& extension);
    // The key of a rendering pasted into the part of that index. The digest of the bytes
    // pasted last is kept: one rendering pasted in many places is hashed once.
    QString KeyOf(int part, const QByteArray& bytes);
    // The relationship a rendering of that key was stored under; empty when none.
    QString RelOf(const QString& key) const { return FRelOf.value(key); }
    // Records the relationship a rendering of that key was stored under.
    void Remember(const QString& key, const QString& relId) { FRelOf.insert(key, relId); }
    // Forgets everything, once the package may have lost parts (after a save).
    void Clear();
    // The content type of a media extension; application/octet-stream when unknown.
    static QString ContentTypeOf(const QString& extension);

private:
    QHash<QString, QString> FRelOf;
    // By folder and extension: every N below is taken, while no part goes.
    QHash<QString, int> FFirstFree;
    // The bytes hashed last (a shared copy, so that their buffer stays theirs) and their digest.
    QByteArray FHashed;
    QString FDigest;
};
