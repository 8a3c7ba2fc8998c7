#include "package/znPackageParts.h"

#include "package/znXml.h"

#include <QSet>

#include <cstring>

namespace {
QString attr(const pugi::xml_node& node, const char* name) { return QString::fromUtf8(node.attribute(name).value()); }
std::string utf8(const QString& s) { return s.toStdString(); }
TznRelationship relationshipOf(const pugi::xml_node& rel)
{
    TznRelationship r;
    r.Id = attr(rel, "Id");
    r.Type = attr(rel, "Type");
    r.Target = attr(rel, "Target");
    r.External = attr(rel, "TargetMode").compare(QLatin1String("External"), Qt::CaseInsensitive) == 0;
    return r;
}
} // namespace

TznRelationships::TznRelationships()
{
    pugi::xml_node decl = FDoc.append_child(pugi::node_declaration);
    decl.append_attribute("version") = "1.0";
    decl.append_attribute("encoding") = "UTF-8";
    decl.append_attribute("standalone") = "yes";
    FDoc.append_child("Relationships").append_attribute("xmlns") = ZnNs::PackageRels;
}

void TznRelationships::Load(const QByteArray& bytes, const QString& partName)
{
    LoadXml(FDoc, bytes, partName);
}

QByteArray TznRelationships::Save() const { return SaveXml(FDoc); }

QList<TznRelationship> TznRelationships::All() const
{
    QList<TznRelationship> out;
    for (pugi::xml_node rel = FDoc.document_element().first_child(); rel; rel = rel.next_sibling()) {
        if (rel.type() != pugi::node_element || std::strcmp(LocalName(rel), "Relationship") != 0)
            continue;
        out.append(relationshipOf(rel));
    }
    return out;
}

std::optional<TznRelationship> TznRelationships::ById(const QString& id) const
{
    // Looked up once per drawing and picture: the ids are compared as written, without
    // building the whole list each time.
    const std::string wanted = utf8(id);
    for (pugi::xml_node rel = FDoc.document_element().first_child(); rel; rel = rel.next_sibling()) {
        if (rel.type() != pugi::node_element || std::strcmp(rel.attribute("Id").value(), wanted.c_str()) != 0
            || std::strcmp(LocalName(rel), "Relationship") != 0)
            continue;
        return relationshipOf(rel);
    }
    return std::nullopt;
}

std::optional<TznRelationship> TznRelationships::ByTypeSuffix(const QString& typeSuffix) const
{
    for (const TznRelationship& r : All())
        if (r.Type.endsWith(QLatin1Char('/') + typeSuffix, Qt::CaseInsensitive))
            return r;
    return std::nullopt;
}

QString TznRelationships::Add(const QString& type, const QString& target, bool external)
{
    QSet<QString> used;
    for (const TznRelationship& r : All())
        used.insert(r.Id);
    int n = int(used.size()) + 1;
    while (used.contains(QStringLiteral("rId%1").arg(n)))
        ++n;
    const QString id = QStringLiteral("rId%1").arg(n);
    pugi::xml_node root = FDoc.document_element();
    const QString prefix = QString::fromUtf8(root.name()).section(QLatin1Char(':'), 0, -2);
    const std::string elementName = prefix.isEmpty() ? std::string("Relationship") : utf8(prefix) + ":Relationship";
    pugi::xml_node rel = root.append_child(elementName.c_str());
    rel.append_attribute("Id") = utf8(id).c_str();
    rel.append_attribute("Type") = utf8(type).c_str();
    rel.append_attribute("Target") = utf8(target).c_str();
    if (external)
        rel.append_attribute("TargetMode") = "External";
    return id;
}

void TznRelationships::Remove(const QString& id) { Remove(QSet<QString>{id}); }

void TznRelationships::Remove(const QSet<QString>& ids)
{
    if (ids.isEmpty())
        return;
    pugi::xml_node root = FDoc.document_element();
    for (pugi::xml_node rel = root.first_child(); rel;) {
        pugi::xml_node next = rel.next_sibling();
        if (rel.type() == pugi::node_element && ids.contains(attr(rel, "Id")))
            root.remove_child(rel);
        rel = next;
    }
}

void TznRelationships::SetTarget(const QString& id, const QString& target)
{
    const std::string value = target.toStdString();
    for (pugi::xml_node rel = FDoc.document_element().first_child(); rel; rel = rel.next_sibling())
        if (rel.type() == pugi::node_element && attr(rel, "Id") == id) {
            pugi::xml_attribute a = rel.attribute("Target");
            if (!a)
                a = rel.append_attribute("Target");
            a.set_value(value.c_str());
        }
}

void TznContentTypes::Load(const QByteArray& bytes)
{
    LoadXml(FDoc, bytes, QStringLiteral("/[Content_Types].xml"));
}

QByteArray TznContentTypes::Save() const { return SaveXml(FDoc); }

QString TznContentTypes::ContentTypeOf(const TznPartName& part) const
{
    const pugi::xml_node root = FDoc.document_element();
    for (pugi::xml_node n = root.first_child(); n; n = n.next_sibling())
        if (n.type() == pugi::node_element && std::strcmp(LocalName(n), "Override") == 0
            && TznPartName(attr(n, "PartName")) == part)
            return attr(n, "ContentType");
    const QString ext = part.Extension();
    for (pugi::xml_node n = root.first_child(); n; n = n.next_sibling())
        if (n.type() == pugi::node_element && std::strcmp(LocalName(n), "Default") == 0
            && attr(n, "Extension").compare(ext, Qt::CaseInsensitive) == 0)
            return attr(n, "ContentType");
    return QString();
}

bool TznContentTypes::EnsureDefault(const QString& extension, const QString& contentType)
{
    pugi::xml_node root = FDoc.document_element();
    pugi::xml_node firstOverride;
    for (pugi::xml_node n = root.first_child(); n; n = n.next_sibling()) {
        if (n.type() != pugi::node_element)
            continue;
        if (std::strcmp(LocalName(n), "Default") == 0 && attr(n, "Extension").compare(extension, Qt::CaseInsensitive) == 0)
            return false;
        if (!firstOverride && std::strcmp(LocalName(n), "Override") == 0)
            firstOverride = n;
    }
    const QString prefix = QString::fromUtf8(root.name()).section(QLatin1Char(':'), 0, -2);
    const std::string name = prefix.isEmpty() ? std::string("Default") : utf8(prefix) + ":Default";
    // Defaults go before the overrides, where other writers put them.
    pugi::xml_node def = firstOverride ? root.insert_child_before(name.c_str(), firstOverride) : root.append_child(name.c_str());
    def.append_attribute("Extension") = utf8(extension).c_str();
    def.append_attribute("ContentType") = utf8(contentType).c_str();
    return true;
}

bool TznContentTypes::RemoveOverride(const TznPartName& part) { return RemoveOverrides(QSet<QString>{part.Key()}); }

bool TznContentTypes::RemoveOverrides(const QSet<QString>& keys)
{
    if (keys.isEmpty())
        return false;
    pugi::xml_node root = FDoc.document_element();
    bool removed = false;
    for (pugi::xml_node n = root.first_child(); n;) {
        pugi::xml_node next = n.next_sibling();
        if (n.type() == pugi::node_element && std::strcmp(LocalName(n), "Override") == 0
            && keys.contains(TznPartName(attr(n, "PartName")).Key())) {
            root.remove_child(n);
            removed = true;
        }
        n = next;
    }
    return removed;
}
