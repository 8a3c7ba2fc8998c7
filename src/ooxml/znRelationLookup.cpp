#include "ooxml/znRelationLookup.h"

#include "package/znXml.h"

#include <string>

void TznRelationLookup::Read(const TznRelationships& rels)
{
    if (FKnown)
        return;
    FById.clear();
    for (const TznRelationship& r : rels.All())
        if (!FById.contains(r.Id))
            FById.insert(r.Id, r);
    FKnown = true;
}

std::optional<TznRelationship> TznRelationLookup::ById(const TznRelationships& rels, const QString& id)
{
    Read(rels);
    const auto it = FById.constFind(id);
    return it == FById.constEnd() ? std::nullopt : std::optional<TznRelationship>(*it);
}

QString TznRelationLookup::Add(const TznRelationships& rels, const QString& type, const QString& target, bool external)
{
    Read(rels);
    // As the relationships number a new one: past the count of ids in use, skipping any
    // taken.
    int n = int(FById.size()) + 1;
    while (FById.contains(QStringLiteral("rId%1").arg(n)))
        ++n;
    const TznRelationship rel{QStringLiteral("rId%1").arg(n), type, target, external};
    FById.insert(rel.Id, rel);
    FPending.append(rel);
    return rel.Id;
}

void TznRelationLookup::Flush(TznRelationships& rels, const QString& partName)
{
    if (FPending.isEmpty())
        return;
    // One pass over the relationships for every addition since the last flush.
    pugi::xml_document doc;
    LoadXml(doc, rels.Save(), partName);
    pugi::xml_node root = doc.document_element();
    const QString prefix = QString::fromUtf8(root.name()).section(QLatin1Char(':'), 0, -2);
    const std::string elementName = prefix.isEmpty() ? std::string("Relationship") : prefix.toStdString() + ":Relationship";
    for (const TznRelationship& r : FPending) {
        pugi::xml_node rel = root.append_child(elementName.c_str());
        rel.append_attribute("Id") = r.Id.toStdString().c_str();
        rel.append_attribute("Type") = r.Type.toStdString().c_str();
        rel.append_attribute("Target") = r.Target.toStdString().c_str();
        if (r.External)
            rel.append_attribute("TargetMode") = "External";
    }
    FPending.clear();
    rels.Load(SaveXml(doc), partName);
}

void TznRelationLookup::Forget()
{
    FKnown = false;
    FById.clear();
    FPending.clear();
}
