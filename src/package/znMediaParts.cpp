#include "package/znMediaParts.h"

#include "platform/znError.h"

#include <QSet>

#include <cstring>

TznMediaCleanup RemoveUnusedMedia(const pugi::xml_document& main, const TznPartName& mainPart, TznRelationships& mainRels,
                                  TznPackage& package, TznContentTypes& types, QList<TznPartName> candidates)
{
    TznMediaCleanup out;
    // Every prefixed attribute value of the main part: relationship ids are among them.
    QSet<QString> referenced;
    struct TznCollector : pugi::xml_tree_walker
    {
        QSet<QString>* Out;
        bool for_each(pugi::xml_node& node) override
        {
            for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute())
                if (std::strchr(a.name(), ':'))
                    Out->insert(QString::fromUtf8(a.value()));
            return true;
        }
    } collector;
    collector.Out = &referenced;
    const_cast<pugi::xml_document&>(main).traverse(collector);

    QSet<QString> unreferenced;
    for (const TznRelationship& r : mainRels.All()) {
        if (r.External || !r.Type.endsWith(QLatin1String("/image"), Qt::CaseInsensitive) || referenced.contains(r.Id))
            continue;
        unreferenced.insert(r.Id);
        candidates.append(mainPart.Resolve(r.Target));
    }
    // Removed together: one by one, each removal would walk the whole set again.
    if (!unreferenced.isEmpty()) {
        mainRels.Remove(unreferenced);
        out.RelsChanged = true;
    }
    if (candidates.isEmpty())
        return out;
    // A media part stays while any relationship of any part still points at it.
    QSet<QString> used;
    for (const TznPartName& part : package.Parts()) {
        const TznPartName source = part.RelsSource();
        if (source.IsEmpty())
            continue;
        QList<TznRelationship> rels;
        if (part == mainPart.RelsName()) {
            rels = mainRels.All();
        } else {
            try {
                TznRelationships other;
                other.Load(package.Read(part), part.Name());
                rels = other.All();
            } catch (const EznError&) {
                return out;
            }
        }
        for (const TznRelationship& r : rels)
            if (!r.External)
                used.insert(source.Resolve(r.Target).Key());
    }
    QList<TznPartName> unused;
    QSet<QString> unusedKeys;
    for (const TznPartName& part : candidates) {
        if (used.contains(part.Key()) || !package.Has(part) || unusedKeys.contains(part.Key()))
            continue;
        unused.append(part);
        unusedKeys.insert(part.Key());
    }
    package.Remove(unused);
    if (types.RemoveOverrides(unusedKeys))
        out.TypesChanged = true;
    return out;
}
