#include "ooxml/znPictureFacts.h"

#include "ooxml/znDrawingXml.h"
#include "package/znXml.h"

#include <cmath>
#include <cstring>

using namespace ZnDrawingXml;

namespace {

const char* const kSides[4] = {"l", "t", "r", "b"};

pugi::xml_node graphicDataOf(const pugi::xml_node& frame)
{
    return ChildElement(ChildElement(frame, ZnNs::A, "graphic"), ZnNs::A, "graphicData");
}

pugi::xml_node picOf(const pugi::xml_node& frame) { return ChildElement(graphicDataOf(frame), ZnNs::Pic, "pic"); }

double fraction(const pugi::xml_node& srcRect, const char* name)
{
    return srcRect ? srcRect.attribute(name).as_double(0) / 100000.0 : 0.0;
}

TznPictureFacts vmlFacts(const TznDrawing& d, const TznRelById& relById)
{
    TznPictureFacts f;
    const pugi::xml_node data = d.Vml.find_child([](pugi::xml_node n) { return std::strcmp(LocalName(n), "imagedata") == 0; });
    f.IsPicture = true;
    f.RelId = text(AttributeNs(data, ZnNs::R, "id"));
    if (f.RelId.isEmpty())
        f.RelId = text(AttributeNs(data, kUriOffice, "relid"));
    const auto rel = f.RelId.isEmpty() ? std::nullopt : relById(f.RelId);
    f.Linked = !rel || rel->External;
    for (int i = 0; i < 4; ++i)
        f.Crop[i] = ZnVml::Fraction(text(data.attribute(kVmlCrops[i])));
    const QHash<QString, QString> style = ZnVml::Style(text(d.Vml.attribute("style")));
    f.Cx = ZnVml::LengthEmu(style.value(QStringLiteral("width")));
    f.Cy = ZnVml::LengthEmu(style.value(QStringLiteral("height")));
    f.Descr = text(d.Vml.attribute("alt"));
    f.Title = text(AttributeNs(data, kUriOffice, "title"));
    if (const QString rot = style.value(QStringLiteral("rotation")); !rot.isEmpty())
        f.Rot = QString::number(qint64(std::llround(rot.toDouble() * 60000)));
    const QString flip = style.value(QStringLiteral("flip"));
    if (flip.contains(QLatin1Char('x'))) f.FlipH = QStringLiteral("1");
    if (flip.contains(QLatin1Char('y'))) f.FlipV = QStringLiteral("1");
    return f;
}

} // namespace

TznPictureFacts PictureFactsOf(const TznDrawing& d, const TznRelById& relById)
{
    if (d.Vml)
        return vmlFacts(d, relById);
    TznPictureFacts f;
    if (!d.Frame || text(graphicDataOf(d.Frame).attribute("uri")) != QLatin1String(kUriPicture))
        return f;
    f.IsPicture = true;
    // Readers differ in the spacing they assume where the frame says none, so
    // a paste repeats exactly what the original frame wrote.
    for (const char* side : {"distT", "distB", "distL", "distR"})
        if (const pugi::xml_attribute a = d.Frame.attribute(side))
            f.FrameDist += QStringLiteral(" %1=\"%2\"").arg(QLatin1String(side), xmlEscape(text(a)));
    if (const pugi::xml_node extent = ChildElement(d.Frame, ZnNs::WP, "effectExtent")) {
        f.EffectExtent = QStringLiteral("<wp:effectExtent");
        for (const char* side : kSides)
            f.EffectExtent += QStringLiteral(" %1=\"%2\"").arg(QLatin1String(side), xmlEscape(text(extent.attribute(side))));
        f.EffectExtent += QStringLiteral("/>");
    }
    const pugi::xml_node blipFill = ChildElement(picOf(d.Frame), ZnNs::Pic, "blipFill");
    const pugi::xml_node blip = ChildElement(blipFill, ZnNs::A, "blip");
    f.RelId = text(AttributeNs(blip, ZnNs::R, "embed"));
    f.Linked = bool(AttributeNs(blip, ZnNs::R, "link"));
    // A picture with an SVG is a picture when it carries a raster rendering of it: only that
    // rendering is ever replaced, the SVG stays.
    f.Vector = f.RelId.isEmpty() && hasDescendant(blip, "svgBlip");
    f.Tiled = bool(ChildElement(blipFill, ZnNs::A, "tile"));
    const pugi::xml_node srcRect = ChildElement(blipFill, ZnNs::A, "srcRect");
    for (int i = 0; i < 4; ++i) {
        f.Crop[i] = fraction(srcRect, kSides[i]);
        f.SrcRect[i] = srcRect ? text(srcRect.attribute(kSides[i])) : QString();
    }
    const pugi::xml_node extent = ChildElement(d.Frame, ZnNs::WP, "extent");
    f.Cx = extent.attribute("cx").as_llong(0);
    f.Cy = extent.attribute("cy").as_llong(0);
    const pugi::xml_node docPr = ChildElement(d.Frame, ZnNs::WP, "docPr");
    f.Name = text(docPr.attribute("name"));
    f.Descr = text(docPr.attribute("descr"));
    f.Title = text(docPr.attribute("title"));
    if (const pugi::xml_node link = ChildElement(docPr, ZnNs::A, "hlinkClick")) {
        f.HyperlinkRelId = text(AttributeNs(link, ZnNs::R, "id"));
        f.HyperlinkTooltip = text(link.attribute("tooltip"));
    }
    const pugi::xml_node xfrm = ChildElement(ChildElement(picOf(d.Frame), ZnNs::Pic, "spPr"), ZnNs::A, "xfrm");
    f.Rot = text(xfrm.attribute("rot"));
    f.FlipH = text(xfrm.attribute("flipH"));
    f.FlipV = text(xfrm.attribute("flipV"));
    return f;
}

int ShapeTypeOf(const TznDrawing& d, const TznPictureFacts& f)
{
    if (f.IsPicture) {
        if (d.Anchored)
            return f.Linked ? 11 : f.Vector ? 28 : 13;
        return f.Linked ? 4 : f.Vector ? 17 : 3;
    }
    if (!d.Frame) {
        // w:object: an OLE object, embedded or linked
        const bool linked = hasDescendant(d.Unit, "OLEObject")
            && QString::fromUtf8(d.Unit.find_node([](pugi::xml_node n) { return std::strcmp(LocalName(n), "OLEObject") == 0; })
                                     .attribute("Type").value()) == QLatin1String("Link");
        return linked ? 2 : 1;
    }
    const QString uri = text(graphicDataOf(d.Frame).attribute("uri"));
    const bool chart = uri == QLatin1String(kUriChart) || uri == QLatin1String(kUriChartEx);
    const bool diagram = uri == QLatin1String(kUriDiagram);
    const bool canvas = uri == QLatin1String(kUriLockedCanvas) || uri == QLatin1String(kUriCanvas);
    if (!d.Anchored)
        return chart ? 12 : diagram ? 15 : canvas ? 14 : 17;
    if (chart) return 3;
    if (diagram) return 24;
    if (canvas) return 20;
    if (uri == QLatin1String(kUriGroup)) return 6;
    if (uri == QLatin1String(kUriShape))
        return hasDescendant(graphicDataOf(d.Frame), "txbx") ? 17 : 1;
    return 1;
}

bool ShapeOfReference(pugi::xml_node reference, qint64& cx, qint64& cy, double crop[4])
{
    if (IsElement(reference, kUriVml, "imagedata")) {
        const QHash<QString, QString> style = ZnVml::Style(text(reference.parent().attribute("style")));
        cx = ZnVml::LengthEmu(style.value(QStringLiteral("width")));
        cy = ZnVml::LengthEmu(style.value(QStringLiteral("height")));
        for (int i = 0; i < 4; ++i)
            crop[i] = ZnVml::Fraction(text(reference.attribute(kVmlCrops[i])));
        return true;
    }
    // A picture's blip: its frame (wp:inline or wp:anchor) gives the shown size.
    pugi::xml_node frame = reference.parent();
    while (frame && !IsElement(frame, ZnNs::WP, "inline") && !IsElement(frame, ZnNs::WP, "anchor"))
        frame = frame.parent();
    if (!frame)
        return false;
    const pugi::xml_node extent = ChildElement(frame, ZnNs::WP, "extent");
    cx = extent.attribute("cx").as_llong(0);
    cy = extent.attribute("cy").as_llong(0);
    const pugi::xml_node srcRect = ChildElement(reference.parent(), ZnNs::A, "srcRect");
    for (int i = 0; i < 4; ++i)
        crop[i] = fraction(srcRect, kSides[i]);
    return true;
}
