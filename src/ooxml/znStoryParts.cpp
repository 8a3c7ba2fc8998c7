#include "ooxml/znStoryParts.h"

#include "ooxml/znDrawingXml.h"
#include "package/znMediaParts.h"
#include "package/znXml.h"
#include "platform/znError.h"

#include <QHash>

#include <cstring>

using namespace ZnDrawingXml;

TznRelationships& TznStoryPart::RelsIn(const TznPackage& package)
{
    if (!Rels) {
        Rels = std::make_unique<TznRelationships>();
        const TznPartName relsPart = Name.RelsName();
        if (package.Has(relsPart))
            Rels->Load(package.Read(relsPart), relsPart.Name());
    }
    return *Rels;
}

QList<TznStory> ReadStoryParts(const pugi::xml_document& main, const TznPartName& mainPart, const TznRelationships& mainRels,
                               const TznPackage& package, TznStoryParts& parts)
{
    QList<TznStory> stories;
    parts.clear();
    parts.push_back(nullptr);
    // A part is read once however many sections name it, so that no picture is seen twice.
    QHash<QString, int> partOf;
    auto addPart = [&](const QString& relId, const QString& relTypeSuffix) -> int {
        const auto rel = mainRels.ById(relId);
        if (!rel || rel->External || !rel->Type.endsWith(QLatin1Char('/') + relTypeSuffix, Qt::CaseInsensitive))
            return -1;
        const TznPartName name = mainPart.Resolve(rel->Target);
        if (name == mainPart || partOf.contains(name.Key()))
            return -1;
        partOf.insert(name.Key(), -1);
        if (!package.Has(name))
            return -1;
        auto part = std::make_unique<TznStoryPart>();
        part->Name = name;
        try {
            LoadXml(part->Xml, package.Read(name), name.Name());
        } catch (const EznError&) {
            return -1; // a part that cannot be read stays as it is
        }
        parts.push_back(std::move(part));
        const int index = int(parts.size()) - 1;
        partOf.insert(name.Key(), index);
        return index;
    };
    for (pugi::xpath_node n : main.select_nodes("//*[local-name()='headerReference' or local-name()='footerReference']")) {
        const pugi::xml_node ref = n.node();
        const bool header = std::strcmp(LocalName(ref), "headerReference") == 0;
        const QString kind = text(AttributeNs(ref, ZnNs::W, "type"));
        const int type = kind == QLatin1String("even")  ? (header ? 6 : 8)
                         : kind == QLatin1String("first") ? (header ? 10 : 11)
                                                          : (header ? 7 : 9);
        const int part = addPart(text(AttributeNs(ref, ZnNs::R, "id")), header ? QStringLiteral("header") : QStringLiteral("footer"));
        if (part > 0)
            stories.append({type, part, parts[size_t(part)]->Xml.document_element()});
    }
    const struct { const char* Suffix; int Type; } notes[] = {{"footnotes", 2}, {"endnotes", 3}, {"comments", 4}};
    for (const auto& kind : notes) {
        for (const TznRelationship& r : mainRels.All()) {
            if (!r.Type.endsWith(QLatin1Char('/') + QLatin1String(kind.Suffix), Qt::CaseInsensitive))
                continue;
            const int part = addPart(r.Id, QLatin1String(kind.Suffix));
            if (part > 0)
                stories.append({kind.Type, part, parts[size_t(part)]->Xml.document_element()});
        }
    }
    return stories;
}

bool SaveStoryParts(TznStoryParts& parts, TznPackage& package, TznContentTypes& types, bool& typesChanged,
                    const QList<TznPartName>& candidates)
{
    bool written = false;
    for (size_t i = 1; i < parts.size(); ++i) {
        TznStoryPart& part = *parts[i];
        if (!part.Changed)
            continue;
        written = true;
        const TznMediaCleanup cleanup = RemoveUnusedMedia(part.Xml, part.Name, part.RelsIn(package), package, types, candidates);
        part.RelsChanged = part.RelsChanged || cleanup.RelsChanged;
        typesChanged = typesChanged || cleanup.TypesChanged;
        package.Write(part.Name, SaveXml(part.Xml));
        if (part.RelsChanged)
            package.Write(part.Name.RelsName(), part.RelsIn(package).Save());
    }
    return written;
}
