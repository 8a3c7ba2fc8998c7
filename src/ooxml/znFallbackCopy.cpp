#include "ooxml/znFallbackCopy.h"

#include "ooxml/znDrawingXml.h"
#include "package/znXml.h"

#include <QHash>

#include <algorithm>
#include <cmath>
#include <vector>

using namespace ZnDrawingXml;

namespace {

// Visits the elements below root in document order without recursion; a visit that
// returns false leaves out the element's subtree.
template <typename F>
void visitElements(pugi::xml_node root, F&& visit)
{
    pugi::xml_node node = root.first_child();
    while (node) {
        if (node.type() == pugi::node_element && visit(node) && node.first_child()) {
            node = node.first_child();
            continue;
        }
        while (!node.next_sibling()) {
            node = node.parent();
            if (node == root)
                return;
        }
        node = node.next_sibling();
    }
}

// The text boxes below a node, nested ones included, in document order.
std::vector<pugi::xml_node> textBoxesIn(pugi::xml_node node)
{
    std::vector<pugi::xml_node> boxes;
    visitElements(node, [&](pugi::xml_node e) {
        if (IsElement(e, ZnNs::W, "txbxContent"))
            boxes.push_back(e);
        return true;
    });
    return boxes;
}

// The attribute by which a picture reference names its embedded picture: r:embed of a
// picture's a:blip, r:id (else o:relid) of v:imagedata; empty for anything else.
pugi::xml_attribute pictureRelOf(const pugi::xml_node& e)
{
    if (IsElement(e, ZnNs::A, "blip"))
        return IsElement(e.parent(), ZnNs::Pic, "blipFill") ? AttributeNs(e, ZnNs::R, "embed") : pugi::xml_attribute();
    if (!IsElement(e, kUriVml, "imagedata"))
        return pugi::xml_attribute();
    const pugi::xml_attribute id = AttributeNs(e, ZnNs::R, "id");
    return *id.value() ? id : AttributeNs(e, kUriOffice, "relid");
}

// The references of one text box's own pictures to the picture in document order: nested
// text boxes are stories of their own, and a fallback repeats its choice.
std::vector<pugi::xml_node> pictureReferencesIn(pugi::xml_node box, const TznSamePicture& samePicture)
{
    std::vector<pugi::xml_node> refs;
    QHash<QString, bool> same;  // by relationship id, asked once each
    visitElements(box, [&](pugi::xml_node e) {
        if (IsElement(e, ZnNs::W, "txbxContent") || IsElement(e, ZnNs::MC, "Fallback"))
            return false;
        if (const pugi::xml_attribute a = pictureRelOf(e)) {
            const QString id = QString::fromUtf8(a.value());
            auto known = same.constFind(id);
            if (known == same.constEnd())
                known = same.insert(id, samePicture(id));
            if (*known)
                refs.push_back(e);
        }
        return true;
    });
    return refs;
}

bool isWithin(pugi::xml_node node, const pugi::xml_node& ancestor)
{
    for (; node; node = node.parent())
        if (node == ancestor)
            return true;
    return false;
}

pugi::xml_node fallbackReferenceOf(const TznDrawing& d, const TznPictureFacts& f, const TznSamePicture& samePicture)
{
    if (!d.Story)
        return {};
    // The text box the drawing is in, and the alternate content whose choice holds it.
    pugi::xml_node box = d.Unit.parent();
    while (box && !IsElement(box, ZnNs::W, "txbxContent"))
        box = box.parent();
    pugi::xml_node branch = box.parent();
    while (branch && !IsElement(branch.parent(), ZnNs::MC, "AlternateContent"))
        branch = branch.parent();
    if (!box || !IsElement(branch, ZnNs::MC, "Choice"))
        return {};
    const pugi::xml_node fallback = ChildElement(branch.parent(), ZnNs::MC, "Fallback");
    // The boxes of the choice and of the fallback correspond one to one, in order.
    const std::vector<pugi::xml_node> choiceBoxes = textBoxesIn(branch), fallbackBoxes = textBoxesIn(fallback);
    if (choiceBoxes.size() != fallbackBoxes.size())
        return {};
    const auto at = std::find(choiceBoxes.begin(), choiceBoxes.end(), box);
    if (at == choiceBoxes.end())
        return {};
    // So do the box's pictures of this media: as many in the copy, the same one by place.
    const std::vector<pugi::xml_node> choiceRefs = pictureReferencesIn(box, samePicture);
    const std::vector<pugi::xml_node> fallbackRefs = pictureReferencesIn(fallbackBoxes[size_t(at - choiceBoxes.begin())], samePicture);
    if (choiceRefs.size() != fallbackRefs.size())
        return {};
    const auto own = std::find_if(choiceRefs.begin(), choiceRefs.end(), [&](const pugi::xml_node& r) { return isWithin(r, d.Unit); });
    if (own == choiceRefs.end())
        return {};
    const pugi::xml_node candidate = fallbackRefs[size_t(own - choiceRefs.begin())];
    // A copy shown at another size or with another crop is no copy of this picture.
    qint64 cx = 0, cy = 0;
    double crop[4];
    if (!ShapeOfReference(candidate, cx, cy, crop) || f.Cx <= 0 || f.Cy <= 0)
        return {};
    if (std::abs(double(cx) - double(f.Cx)) > 0.02 * double(f.Cx) || std::abs(double(cy) - double(f.Cy)) > 0.02 * double(f.Cy))
        return {};
    for (int i = 0; i < 4; ++i)
        if (!std::isfinite(crop[i]) || std::abs(crop[i] - f.Crop[i]) > 0.002)
            return {};
    return candidate;
}

} // namespace

TznFallbackCopy FallbackCopyOf(const TznDrawing& d, const TznPictureFacts& f, const TznSamePicture& samePicture)
{
    TznFallbackCopy copy;
    if (!f.IsPicture || f.Linked || f.RelId.isEmpty())
        return copy;
    const TznSamePicture same = [&](const QString& relId) { return relId == f.RelId || samePicture(relId); };
    if (const pugi::xml_node reference = fallbackReferenceOf(d, f, same)) {
        copy.Reference = reference;
        copy.OldRelId = f.RelId;
        copy.CopyRelId = QString::fromUtf8(pictureRelOf(reference).value());
        copy.Cx = f.Cx;
        copy.Cy = f.Cy;
        std::copy(std::begin(f.Crop), std::end(f.Crop), copy.Crop);
    }
    return copy;
}

void FollowInFallback(const TznFallbackCopy& pending, const TznClipPicture& picture, const QString& relId, bool cropBaked)
{
    // Only the copy of the deleted drawing pasted back in its place replaces it.
    if (!pending.Reference || relId == pending.CopyRelId || picture.OriginalRelId != pending.OldRelId
        || picture.Cx != pending.Cx || picture.Cy != pending.Cy)
        return;
    const double crop[4] = {picture.Request.Crop.Left, picture.Request.Crop.Top, picture.Request.Crop.Right, picture.Request.Crop.Bottom};
    for (int i = 0; i < 4; ++i)
        if (crop[i] != pending.Crop[i])
            return;
    pugi::xml_node reference = pending.Reference;
    const QByteArray oldId = pending.CopyRelId.toUtf8(), newId = relId.toUtf8();
    for (pugi::xml_attribute a : {AttributeNs(reference, ZnNs::R, "embed"), AttributeNs(reference, ZnNs::R, "id"),
                                  AttributeNs(reference, kUriOffice, "relid")})
        if (a && oldId == a.value())
            a.set_value(newId.constData());
    // The new pixels are the visible part only: a crop applied again would cut them twice.
    if (cropBaked) {
        if (IsElement(reference, ZnNs::A, "blip")) {
            if (pugi::xml_node srcRect = ChildElement(reference.parent(), ZnNs::A, "srcRect"))
                reference.parent().remove_child(srcRect);
        } else {
            for (const char* side : kVmlCrops)
                reference.remove_attribute(side);
        }
    }
}
