#include "ooxml/znRelationLookup.h"

std::optional<TznRelationship> TznRelationLookup::ById(const TznRelationships& rels, const QString& id)
{
    if (!FKnown) {
        FById.clear();
        for (const TznRelationship& r : rels.All())
            if (!FById.contains(r.Id))
                FById.insert(r.Id, r);
        FKnown = true;
    }
    const auto it = FById.constFind(id);
    return it == FById.constEnd() ? std::nullopt : std::optional<TznRelationship>(*it);
}

QString TznRelationLookup::Add(TznRelationships& rels, const QString& type, const QString& target, bool external)
{
    const QString id = rels.Add(type, target, external);
    if (FKnown && !FById.contains(id))
        FById.insert(id, {id, type, target, external});
    return id;
}

void TznRelationLookup::Forget()
{
    FKnown = false;
    FById.clear();
}
