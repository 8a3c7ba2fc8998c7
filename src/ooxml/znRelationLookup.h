#pragma once

#include "package/znPackageParts.h"

#include <QHash>
#include <QList>
#include <QString>

#include <optional>

// One part's relationships by id: read once from its relationships, then kept up to date
// with the relationships added through it, so that a document of many drawings neither
// searches them all for each drawing nor lists them all for each addition. Additions reach
// the relationships themselves at Flush, with the ids the relationships would have given.
class TznRelationLookup
{
public:
    // The first relationship of rels (with the additions not yet flushed) with this id.
    std::optional<TznRelationship> ById(const TznRelationships& rels, const QString& id);
    // Adds a relationship under the id rels.Add would give it; returns the id.
    QString Add(const TznRelationships& rels, const QString& type, const QString& target, bool external);
    // Writes the additions into rels (partName names the relationships' part in errors).
    void Flush(TznRelationships& rels, const QString& partName);
    // Reads rels again at the next ask; call it after Flush, when rels changed otherwise.
    void Forget();

private:
    void Read(const TznRelationships& rels);
    bool FKnown = false;
    QHash<QString, TznRelationship> FById;
    QList<TznRelationship> FPending;
};
