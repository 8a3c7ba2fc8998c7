#pragma once

#include "package/znPackageParts.h"

#include <QHash>
#include <QString>

#include <optional>

// One part's relationships by id: read once from its relationships, then kept up to date
// with the relationships added through it, so that a document of many drawings does not
// search them all for each drawing. Forget it whenever the relationships change otherwise.
class TznRelationLookup
{
public:
    // The first relationship of rels with this id, as rels.ById gives it.
    std::optional<TznRelationship> ById(const TznRelationships& rels, const QString& id);
    // Adds a relationship to rels as rels.Add does; returns its id.
    QString Add(TznRelationships& rels, const QString& type, const QString& target, bool external);
    // Reads rels again at the next ask.
    void Forget();

private:
    bool FKnown = false;
    QHash<QString, TznRelationship> FById;
};
