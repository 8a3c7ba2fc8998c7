#include "ooxml/znFramePaste.h"

#include "ooxml/znDrawingFrame.h"
#include "ooxml/znDrawingXml.h"
#include "package/znXml.h"
#include "platform/znError.h"

#include <cstring>
#include <string>

using namespace ZnDrawingXml;

namespace {

template <typename F>
void forEachDocPr(const pugi::xml_node& node, F&& f)
{
    for (pugi::xpath_node n : node.select_nodes(".//*[local-name()='docPr']"))
        f(n.node().attribute("id").as_int(0));
}

// The prefix the part gives the word-processing namespace; empty when none.
QString wordPrefix(const pugi::xml_node& root)
{
    return QString::fromUtf8(root.name()).section(QLatin1Char(':'), 0, -2);
}

// The run a drawing goes into: the caret's own, or a new one before the caret when it stands
// outside one (alternate content at paragraph level). before gets where in it.
pugi::xml_node hostRun(TznPasteTarget& target, pugi::xml_node& before)
{
    pugi::xml_node host = target.Caret.parent();
    before = target.Caret;
    if (!IsElement(host, ZnNs::W, "r")) {
        const QString prefix = wordPrefix(target.PartRoot);
        const std::string runName = (prefix.isEmpty() ? QStringLiteral("r") : prefix + QStringLiteral(":r")).toStdString();
        host = host.insert_child_before(runName.c_str(), target.Caret);
        before = pugi::xml_node();
    }
    return host;
}

} // namespace

void TznDocPrIds::Count(const pugi::xml_node& root)
{
    forEachDocPr(root, [&](int id) {
        FIds.insert(id);
        FOrdered.insert(id);
    });
}

void TznDocPrIds::Forget()
{
    FKnown = false;
    FIds.clear();
    FOrdered.clear();
}

void TznDocPrIds::RemoveIn(const pugi::xml_node& node)
{
    if (FKnown)
        forEachDocPr(node, [&](int id) {
            FIds.remove(id);
            FOrdered.erase(id);
        });
}

void TznDocPrIds::AddIn(const pugi::xml_node& node)
{
    if (FKnown)
        Count(node);
}

int TznDocPrIds::TakeNext()
{
    const int id = FOrdered.empty() ? 1 : std::max(1, *FOrdered.rbegin() + 1);
    FIds.insert(id);
    FOrdered.insert(id);
    return id;
}

pugi::xml_node CaretAtStart(pugi::xml_document& main, const char* name)
{
    pugi::xml_node body = ChildElement(main.document_element(), ZnNs::W, "body");
    if (!body)
        throw EznError(QStringLiteral("There is no place to paste at."));
    const QString prefix = wordPrefix(main.document_element());
    const std::string p = (prefix.isEmpty() ? QString() : prefix + QLatin1Char(':')).toStdString();
    pugi::xml_node para = ChildElement(body, ZnNs::W, "p");
    if (!para)
        para = body.prepend_child((p + "p").c_str());
    pugi::xml_node pPr = ChildElement(para, ZnNs::W, "pPr");
    pugi::xml_node run = pPr ? para.insert_child_after((p + "r").c_str(), pPr) : para.prepend_child((p + "r").c_str());
    pugi::xml_node caret = run.append_child(pugi::node_pi);
    caret.set_name(name);
    return caret;
}

TznRendered RenderingToPaste(const TznClipPicture& picture, int pasteType)
{
    if (pasteType == picture.AlsoRenderedType)
        return picture.AlsoRendered;
    if (pasteType == picture.Request.PasteType)
        return picture.Rendered;
    TznRenderRequest request = picture.Request;
    request.PasteType = pasteType;
    try {
        return RenderPicture(request);
    } catch (const std::exception&) {
        // The copy already rendered this picture once; that rendering stands.
        return picture.Rendered;
    }
}

pugi::xml_node PasteRecordedFrame(const TznClipPicture& picture, const QString& relId, bool useNew, TznPasteTarget& target)
{
    // The other relationships the frame names (hyperlink, image layers, an SVG) are
    // normally still there; one that went since the copy is made again, and a frame whose
    // part went with it is not pasted.
    for (auto it = picture.FrameRels.constBegin(); it != picture.FrameRels.constEnd(); ++it) {
        const auto rel = target.RelById(it.key());
        if (rel && rel->Target == it->Target && rel->External == it->External)
            continue;
        if (!it->External && !target.Package->Has(target.Part.Resolve(it->Target)))
            return pugi::xml_node();
    }
    TznFrameEdit edit;
    edit.OldRelIds = picture.FramePictureRelIds;
    edit.NewRelId = relId;
    edit.DropCrop = useNew;
    for (auto it = picture.FrameRels.constBegin(); it != picture.FrameRels.constEnd(); ++it) {
        const auto rel = target.RelById(it.key());
        if (rel && rel->Target == it->Target && rel->External == it->External)
            continue;
        edit.Rels.insert(it.key(), target.AddRel(it->Type, it->Target, it->External));
    }
    edit.UsedDocPrIds = target.DocPrIds->Ids();
    pugi::xml_node parent = target.Caret.parent();
    pugi::xml_node before = target.Caret;
    // A drawing and a VML picture live in a run; alternate content may stand in a paragraph.
    if (!IsElement(picture.Frame->document_element(), ZnNs::MC, "AlternateContent"))
        parent = hostRun(target, before);
    const pugi::xml_node inserted = PasteFrame(*picture.Frame, parent, before, edit);
    // The edit shares the document's ids: let go of them before they change.
    edit.UsedDocPrIds.clear();
    target.DocPrIds->AddIn(inserted);
    return inserted;
}

pugi::xml_node PasteInline(const TznClipPicture& picture, const QString& relId, bool useNew, bool samePart, TznPasteTarget& target)
{
    QString linkId;
    if (picture.HasHyperlink) {
        if (samePart && target.RelById(picture.HyperlinkRelId)) {
            linkId = picture.HyperlinkRelId;
        } else {
            linkId = target.AddRel(QLatin1String(ZnNs::R) + QStringLiteral("/hyperlink"), picture.HyperlinkTarget,
                                   picture.HyperlinkExternal);
        }
    }
    const int docPrId = target.DocPrIds->TakeNext();

    const QString cx = QString::number(picture.Cx), cy = QString::number(picture.Cy);
    QString docPr = QStringLiteral("<wp:docPr id=\"%1\" name=\"%2\"").arg(docPrId).arg(xmlEscape(picture.Name.isEmpty() ? QStringLiteral("Picture %1").arg(docPrId) : picture.Name));
    if (!picture.Descr.isEmpty()) docPr += QStringLiteral(" descr=\"%1\"").arg(xmlEscape(picture.Descr));
    if (!picture.Title.isEmpty()) docPr += QStringLiteral(" title=\"%1\"").arg(xmlEscape(picture.Title));
    if (!linkId.isEmpty()) {
        docPr += QStringLiteral("><a:hlinkClick r:id=\"%1\"").arg(xmlEscape(linkId));
        if (!picture.HyperlinkTooltip.isEmpty()) docPr += QStringLiteral(" tooltip=\"%1\"").arg(xmlEscape(picture.HyperlinkTooltip));
        docPr += QStringLiteral("/></wp:docPr>");
    } else {
        docPr += QStringLiteral("/>");
    }
    QString srcRect;
    if (!useNew && !(picture.SrcRect[0] + picture.SrcRect[1] + picture.SrcRect[2] + picture.SrcRect[3]).isEmpty()) {
        const char* sides[4] = {"l", "t", "r", "b"};
        srcRect = QStringLiteral("<a:srcRect");
        for (int i = 0; i < 4; ++i)
            if (!picture.SrcRect[i].isEmpty())
                srcRect += QStringLiteral(" %1=\"%2\"").arg(QLatin1String(sides[i]), xmlEscape(picture.SrcRect[i]));
        srcRect += QStringLiteral("/>");
    }
    QString xfrm = QStringLiteral("<a:xfrm");
    if (!picture.Rot.isEmpty()) xfrm += QStringLiteral(" rot=\"%1\"").arg(xmlEscape(picture.Rot));
    if (!picture.FlipH.isEmpty()) xfrm += QStringLiteral(" flipH=\"%1\"").arg(xmlEscape(picture.FlipH));
    if (!picture.FlipV.isEmpty()) xfrm += QStringLiteral(" flipV=\"%1\"").arg(xmlEscape(picture.FlipV));
    xfrm += QStringLiteral(">");

    const QString wPrefix = wordPrefix(target.PartRoot);
    const QString drawingName = wPrefix.isEmpty() ? QStringLiteral("drawing") : wPrefix + QStringLiteral(":drawing");
    const QString xml = QStringLiteral(
        "<%1 xmlns:%2=\"%3\" xmlns:wp=\"%4\" xmlns:a=\"%5\" xmlns:pic=\"%6\" xmlns:r=\"%7\">"
        "<wp:inline%15><wp:extent cx=\"%8\" cy=\"%9\"/>%16%10"
        "<wp:cNvGraphicFramePr><a:graphicFrameLocks noChangeAspect=\"1\"/></wp:cNvGraphicFramePr>"
        "<a:graphic><a:graphicData uri=\"%6\"><pic:pic><pic:nvPicPr><pic:cNvPr id=\"0\" name=\"%11\"/><pic:cNvPicPr/></pic:nvPicPr>"
        "<pic:blipFill><a:blip r:embed=\"%12\"/>%13<a:stretch><a:fillRect/></a:stretch></pic:blipFill>"
        "<pic:spPr>%14<a:off x=\"0\" y=\"0\"/><a:ext cx=\"%8\" cy=\"%9\"/></a:xfrm>"
        "<a:prstGeom prst=\"rect\"><a:avLst/></a:prstGeom></pic:spPr></pic:pic></a:graphicData></a:graphic></wp:inline></%1>")
        .arg(drawingName, wPrefix.isEmpty() ? QStringLiteral("w") : wPrefix, QLatin1String(ZnNs::W), QLatin1String(ZnNs::WP),
             QLatin1String(ZnNs::A), QLatin1String(kUriPicture), QLatin1String(ZnNs::R), cx, cy)
        .arg(docPr, xmlEscape(picture.Name.isEmpty() ? QStringLiteral("Picture") : picture.Name), xmlEscape(relId), srcRect, xfrm,
             picture.FrameDist, picture.EffectExtent);
    pugi::xml_document fragment;
    const QByteArray utf8 = xml.toUtf8();
    fragment.load_buffer(utf8.constData(), size_t(utf8.size()), pugi::parse_default);
    pugi::xml_node before;
    pugi::xml_node host = hostRun(target, before);
    pugi::xml_node inserted = before ? host.insert_copy_before(fragment.document_element(), before)
                                     : host.append_copy(fragment.document_element());
    // Declarations already in scope are not repeated.
    for (pugi::xml_attribute a = inserted.first_attribute(); a;) {
        pugi::xml_attribute next = a.next_attribute();
        if (std::strncmp(a.name(), "xmlns:", 6) == 0 && std::strcmp(target.PartRoot.attribute(a.name()).value(), a.value()) == 0)
            inserted.remove_attribute(a);
        a = next;
    }
    return inserted;
}
