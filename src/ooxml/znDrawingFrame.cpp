#include "ooxml/znDrawingFrame.h"

#include "ooxml/znDrawingXml.h"
#include "package/znXml.h"

#include <cstring>
#include <vector>

using namespace ZnDrawingXml;

namespace {

bool isDeclaration(const pugi::xml_attribute& a)
{
    return std::strcmp(a.name(), "xmlns") == 0 || std::strncmp(a.name(), "xmlns:", 6) == 0;
}

// The namespace bound to a declaration's prefix at node, looked up through its ancestors;
// null when nothing binds it there.
const char* boundAt(pugi::xml_node node, const char* declaration)
{
    for (; node; node = node.parent())
        if (node.type() == pugi::node_element)
            if (const pugi::xml_attribute a = node.attribute(declaration))
                return a.value();
    return nullptr;
}

// Every element of the subtree in document order, without recursion: a frame may nest
// group shapes and text boxes deeply.
template <typename F>
void forEachElement(pugi::xml_node root, F&& visit)
{
    pugi::xml_node node = root;
    while (node) {
        if (node.type() == pugi::node_element)
            visit(node);
        if (pugi::xml_node child = node.first_child()) {
            node = child;
            continue;
        }
        while (node != root && !node.next_sibling())
            node = node.parent();
        if (node == root)
            break;
        node = node.next_sibling();
    }
}

// True for an attribute that names a relationship of the part: any attribute in the
// relationships namespace, and VML's o:relid.
bool isRelAttribute(const pugi::xml_node& element, const pugi::xml_attribute& a)
{
    const char* colon = std::strchr(a.name(), ':');
    if (!colon || isDeclaration(a))
        return false;
    const std::string declaration = "xmlns:" + std::string(a.name(), size_t(colon - a.name()));
    const char* uri = boundAt(element, declaration.c_str());
    if (!uri)
        return false;
    return std::strcmp(uri, ZnNs::R) == 0 || (std::strcmp(uri, kUriOffice) == 0 && std::strcmp(colon + 1, "relid") == 0);
}

} // namespace

std::shared_ptr<const pugi::xml_document> RecordFrame(const pugi::xml_node& unit)
{
    auto doc = std::make_shared<pugi::xml_document>();
    pugi::xml_node copy = doc->append_copy(unit);
    // The nearest declaration of a prefix is the one in force; outer ones of the same
    // prefix are shadowed.
    for (pugi::xml_node n = unit.parent(); n; n = n.parent()) {
        if (n.type() != pugi::node_element)
            continue;
        for (pugi::xml_attribute a = n.first_attribute(); a; a = a.next_attribute())
            if (isDeclaration(a) && !copy.attribute(a.name()))
                copy.append_attribute(a.name()).set_value(a.value());
    }
    return doc;
}

QSet<QString> FrameRelIds(const pugi::xml_node& frame)
{
    QSet<QString> ids;
    forEachElement(frame, [&](pugi::xml_node e) {
        for (pugi::xml_attribute a = e.first_attribute(); a; a = a.next_attribute())
            if (isRelAttribute(e, a) && *a.value())
                ids.insert(QString::fromUtf8(a.value()));
    });
    return ids;
}

pugi::xml_node PasteFrame(const pugi::xml_document& frame, pugi::xml_node parent, pugi::xml_node before,
                          const TznFrameEdit& edit)
{
    pugi::xml_node root = before ? parent.insert_copy_before(frame.document_element(), before)
                                 : parent.append_copy(frame.document_element());
    const std::string newRel = edit.NewRelId.toStdString();
    // Ids given within this frame; the document's set is only read, so that a paste costs
    // no copy of it.
    QSet<int> given;
    const auto used = [&](int id) { return edit.UsedDocPrIds.contains(id) || given.contains(id); };
    int nextDocPr = 1;
    std::vector<pugi::xml_node> crops;
    forEachElement(root, [&](pugi::xml_node e) {
        for (pugi::xml_attribute a = e.first_attribute(); a; a = a.next_attribute()) {
            if (!isRelAttribute(e, a))
                continue;
            if (edit.OldRelIds.contains(QString::fromUtf8(a.value()))) {
                a.set_value(newRel.c_str());
                // The crop that goes with the picture's own reference, in DrawingML and VML.
                if (IsElement(e, ZnNs::A, "blip"))
                    crops.push_back(ChildElement(e.parent(), ZnNs::A, "srcRect"));
                else if (IsElement(e, kUriVml, "imagedata"))
                    crops.push_back(e);
            } else if (const auto renamed = edit.Rels.constFind(QString::fromUtf8(a.value())); renamed != edit.Rels.constEnd()) {
                a.set_value(renamed->toUtf8().constData());
            }
        }
        if (IsElement(e, ZnNs::WP, "docPr")) {
            pugi::xml_attribute id = e.attribute("id");
            if (!id)
                id = e.append_attribute("id");
            if (id.as_int(0) <= 0 || used(id.as_int(0))) {
                while (used(nextDocPr))
                    ++nextDocPr;
                id.set_value(nextDocPr);
            }
            given.insert(id.as_int(0));
        }
    });
    if (edit.DropCrop) {
        for (pugi::xml_node crop : crops) {
            if (!crop)
                continue;
            if (IsElement(crop, ZnNs::A, "srcRect")) {
                crop.parent().remove_child(crop);
                continue;
            }
            for (const char* side : {"cropleft", "croptop", "cropright", "cropbottom"})
                crop.remove_attribute(side);
        }
    }
    // Declarations the landing place already makes are not repeated.
    for (pugi::xml_attribute a = root.first_attribute(); a;) {
        const pugi::xml_attribute next = a.next_attribute();
        if (isDeclaration(a)) {
            const char* inScope = boundAt(parent, a.name());
            if (inScope && std::strcmp(inScope, a.value()) == 0)
                root.remove_attribute(a);
        }
        a = next;
    }
    return root;
}
