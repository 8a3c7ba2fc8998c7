#include "ooxml/znFontSubset.h"

#include "package/znXml.h"
#include "platform/znError.h"

#include <hb-subset.h>
#include <hb.h>

#include <cstring>
#include <memory>

namespace {

// Fonts larger than this are no embedded text font; they stay.
constexpr qint64 kMaxFontBytes = qint64(64) << 20;

QString attr(const pugi::xml_node& node, const char* ns, const char* local)
{
    return QString::fromUtf8(AttributeNs(node, ns, local).value());
}

// The characters of every text node below node.
void collectText(const pugi::xml_node& node, QSet<char32_t>& out)
{
    struct TznWalker : pugi::xml_tree_walker
    {
        QSet<char32_t>* Out;
        bool for_each(pugi::xml_node& n) override
        {
            if (n.type() == pugi::node_pcdata || n.type() == pugi::node_cdata) {
                for (char32_t c : QString::fromUtf8(n.value()).toUcs4())
                    Out->insert(c);
            } else if (n.type() == pugi::node_element && std::strcmp(LocalName(n), "sym") == 0) {
                // A symbol character: its code, and where symbol fonts put it.
                bool ok = false;
                const uint code = QString::fromUtf8(AttributeNs(n, ZnNs::W, "char").value()).toUInt(&ok, 16);
                if (ok && code < 0x110000) {
                    Out->insert(char32_t(code));
                    Out->insert(char32_t(code < 0x100 ? code + 0xF000 : code));
                }
            }
            return true;
        }
    } walker;
    walker.Out = &out;
    const_cast<pugi::xml_node&>(node).traverse(walker);
}

// The characters of the document: the text of every XML part in its main part's folder.
QSet<char32_t> documentCharacters(const TznPackage& package, const TznPartName& mainPart)
{
    QSet<char32_t> used;
    for (char32_t c = 0x20; c < 0x7F; ++c)
        used.insert(c);
    for (char32_t c = 0xA0; c < 0x100; ++c)
        used.insert(c);
    const QString folder = mainPart.BaseFolder();
    for (const TznPartName& part : package.Parts()) {
        if (!part.Name().startsWith(folder, Qt::CaseInsensitive) || part.Extension().compare(QLatin1String("xml"), Qt::CaseInsensitive) != 0)
            continue;
        pugi::xml_document xml;
        LoadXml(xml, package.Read(part), part.Name());
        collectText(xml, used);
    }
    return used;
}

struct TznBlobFree
{
    void operator()(hb_blob_t* b) const { hb_blob_destroy(b); }
};
struct TznFaceFree
{
    void operator()(hb_face_t* f) const { hb_face_destroy(f); }
};
struct TznInputFree
{
    void operator()(hb_subset_input_t* i) const { hb_subset_input_destroy(i); }
};

} // namespace

std::optional<QByteArray> ObfuscatedFont(const QByteArray& font, const QString& fontKey)
{
    QString hex = fontKey;
    hex.remove(QLatin1Char('{')).remove(QLatin1Char('}')).remove(QLatin1Char('-'));
    const QByteArray key = QByteArray::fromHex(hex.toLatin1());
    if (hex.size() != 32 || key.size() != 16 || key.toHex().compare(hex.toLatin1(), Qt::CaseInsensitive) != 0 || font.size() < 32)
        return std::nullopt;
    QByteArray out = font;
    for (int i = 0; i < 32; ++i)
        out[i] = char(out[i] ^ key[15 - i % 16]);
    return out;
}

std::optional<QByteArray> SubsetFont(const QByteArray& font, const QSet<char32_t>& characters)
{
    if (font.size() < 12 || font.size() > kMaxFontBytes)
        return std::nullopt;
    const std::unique_ptr<hb_blob_t, TznBlobFree> blob(
        hb_blob_create(font.constData(), unsigned(font.size()), HB_MEMORY_MODE_READONLY, nullptr, nullptr));
    const std::unique_ptr<hb_face_t, TznFaceFree> face(hb_face_create(blob.get(), 0));
    if (hb_face_get_glyph_count(face.get()) == 0)
        return std::nullopt;
    const std::unique_ptr<hb_subset_input_t, TznInputFree> input(hb_subset_input_create_or_fail());
    if (!input)
        return std::nullopt;
    hb_set_t* unicodes = hb_subset_input_unicode_set(input.get());
    for (char32_t c : characters)
        hb_set_add(unicodes, hb_codepoint_t(c));
    // The font's names stay whole: a reader finds the embedded font by them.
    hb_set_t* names = hb_subset_input_set(input.get(), HB_SUBSET_SETS_NAME_ID);
    hb_set_clear(names);
    hb_set_invert(names);
    const std::unique_ptr<hb_face_t, TznFaceFree> subset(hb_subset_or_fail(face.get(), input.get()));
    if (!subset)
        return std::nullopt;
    const std::unique_ptr<hb_blob_t, TznBlobFree> out(hb_face_reference_blob(subset.get()));
    unsigned length = 0;
    const char* data = hb_blob_get_data(out.get(), &length);
    if (!data || length < 12)
        return std::nullopt;
    return QByteArray(data, qsizetype(length));
}

TznFontSubsetResult SubsetEmbeddedFonts(TznPackage& package, const TznPartName& mainPart, TznRelationships& mainRels)
{
    TznFontSubsetResult result;
    const auto tableRel = mainRels.ByTypeSuffix(QStringLiteral("fontTable"));
    if (!tableRel || tableRel->External)
        return result;
    const TznPartName table = mainPart.Resolve(tableRel->Target);
    if (!package.Has(table) || !package.Has(table.RelsName()))
        return result;
    try {
        pugi::xml_document fonts;
        LoadXml(fonts, package.Read(table), table.Name());
        TznRelationships rels;
        rels.Load(package.Read(table.RelsName()), table.RelsName().Name());
        std::optional<QSet<char32_t>> used;
        QSet<QString> done;
        for (pugi::xml_node font = fonts.document_element().first_child(); font; font = font.next_sibling()) {
            if (!IsElement(font, ZnNs::W, "font"))
                continue;
            // A symbol font's characters are not the text's.
            if (const pugi::xml_node charset = ChildElement(font, ZnNs::W, "charset");
                charset && attr(charset, ZnNs::W, "val").compare(QLatin1String("02"), Qt::CaseInsensitive) == 0)
                continue;
            for (pugi::xml_node embed = font.first_child(); embed; embed = embed.next_sibling()) {
                if (embed.type() != pugi::node_element || std::strncmp(LocalName(embed), "embed", 5) != 0)
                    continue;
                const auto rel = rels.ById(attr(embed, ZnNs::R, "id"));
                if (!rel || rel->External)
                    continue;
                const TznPartName part = table.Resolve(rel->Target);
                if (!package.Has(part) || done.contains(part.Key()) || package.SizeOf(part) > kMaxFontBytes)
                    continue;
                done.insert(part.Key());
                const QString key = attr(embed, ZnNs::W, "fontKey");
                const QByteArray stored = package.Read(part);
                // Without a key the part is the font itself.
                const std::optional<QByteArray> plain = key.isEmpty() ? std::optional<QByteArray>(stored) : ObfuscatedFont(stored, key);
                if (!plain)
                    continue;
                if (!used)
                    used = documentCharacters(package, mainPart);
                const std::optional<QByteArray> subset = SubsetFont(*plain, *used);
                if (!subset || subset->size() >= stored.size())
                    continue;
                const std::optional<QByteArray> written = key.isEmpty() ? subset : ObfuscatedFont(*subset, key);
                if (!written)
                    continue;
                package.Write(part, *written);
                ++result.Subset;
            }
        }
    } catch (const EznError&) {
        return result;  // what was written is whole fonts; the rest stays
    }
    if (result.Subset == 0)
        return result;
    // The document says it embeds subsets, so that its writer keeps them subsets.
    const auto settingsRel = mainRels.ByTypeSuffix(QStringLiteral("settings"));
    if (!settingsRel || settingsRel->External)
        return result;
    const TznPartName settingsPart = mainPart.Resolve(settingsRel->Target);
    try {
        pugi::xml_document settings;
        LoadXml(settings, package.Read(settingsPart), settingsPart.Name());
        pugi::xml_node root = settings.document_element();
        if (ChildElement(root, ZnNs::W, "saveSubsetFonts"))
            return result;
        pugi::xml_node after = ChildElement(root, ZnNs::W, "embedSystemFonts");
        if (!after)
            after = ChildElement(root, ZnNs::W, "embedTrueTypeFonts");
        if (!after)
            return result;
        const QString prefix = QString::fromUtf8(after.name()).section(QLatin1Char(':'), 0, -2);
        const QByteArray name = (prefix.isEmpty() ? QString() : prefix + QLatin1Char(':')).toUtf8() + "saveSubsetFonts";
        root.insert_child_after(name.constData(), after);
        package.Write(settingsPart, SaveXml(settings));
        result.SettingsChanged = true;
    } catch (const EznError&) {
        // the fonts are subsets; the setting only keeps them so
    }
    return result;
}
