#include "znTestDocx.h"

#include "znTestBytes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cmath>
#include <zip.h>

namespace {
// Qt always writes a resolution; a picture "without one" has it taken out again.
void StripResolution(QByteArray& bytes)
{
    if (bytes.startsWith("\x89PNG")) {
        const int at = bytes.indexOf("pHYs");
        if (at >= 4)
            bytes.remove(at - 4, 4 + 4 + 9 + 4);
    } else if (bytes.size() > 18 && bytes.mid(6, 5) == QByteArray("JFIF\0", 5)) {
        bytes[13] = 0;  // units: aspect ratio only
        bytes[14] = 0; bytes[15] = 1;
        bytes[16] = 0; bytes[17] = 1;
    }
}
} // namespace

TznTestPicture TestJpegPicture(int width, int height, qint64 cx, qint64 cy)
{
    TznTestImage image;
    image.Width = width;
    image.Height = height;
    image.Format = QStringLiteral("jpeg");
    TznTestPicture picture;
    picture.Bytes = MakeTestImage(image);
    picture.Extension = QStringLiteral("jpeg");
    picture.Cx = cx;
    picture.Cy = cy;
    return picture;
}

QByteArray MakeTestImage(const TznTestImage& spec)
{
    QImage image(spec.Width, spec.Height, spec.Alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    QRandomGenerator rng(spec.Width * 7919 + spec.Height);
    for (int y = 0; y < spec.Height; ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < spec.Width; ++x) {
            if (spec.Photo) {
                const int n = int(rng.bounded(24)) - 12;
                const int r = std::clamp(x * 255 / std::max(1, spec.Width - 1) + n, 0, 255);
                const int g = std::clamp(y * 255 / std::max(1, spec.Height - 1) + n, 0, 255);
                const int b = std::clamp(128 + n * 3, 0, 255);
                line[x] = qRgb(r, g, b);
            } else {
                const bool right = x >= spec.Width / 2, bottom = y >= spec.Height / 2;
                line[x] = right ? (bottom ? qRgb(200, 30, 30) : qRgb(30, 200, 30)) : (bottom ? qRgb(30, 30, 200) : qRgb(240, 240, 240));
            }
        }
    }
    if (spec.Alpha) {
        for (int y = spec.Height / 4; y < spec.Height * 3 / 4; ++y)
            for (int x = spec.Width / 4; x < spec.Width * 3 / 4; ++x)
                image.setPixel(x, y, qRgba(0, 0, 0, 0));
    }
    if (spec.Dpi > 0) {
        image.setDotsPerMeterX(int(std::lround(spec.Dpi / 0.0254)));
        image.setDotsPerMeterY(int(std::lround(spec.Dpi / 0.0254)));
    } else {
        image.setDotsPerMeterX(0);
        image.setDotsPerMeterY(0);
    }
    QByteArray bytes = EncodeWithQt(image, spec.Format.toLatin1().constData(), {.Quality = spec.Quality});
    if (spec.Dpi <= 0)
        StripResolution(bytes);
    return bytes;
}

TznDocxBuilder& TznDocxBuilder::Paragraph(const QString& text)
{
    FBody.append(QStringLiteral("<w:p><w:r><w:t xml:space=\"preserve\">%1</w:t></w:r></w:p>").arg(text.toHtmlEscaped()));
    return *this;
}

TznDocxBuilder& TznDocxBuilder::VbaProject()
{
    FVba = true;
    return *this;
}

TznDocxBuilder& TznDocxBuilder::MainPart(const QString& partName)
{
    FMainPart = partName.startsWith(QLatin1Char('/')) ? partName.mid(1) : partName;
    return *this;
}

TznDocxBuilder& TznDocxBuilder::HeaderUsingMediaOf(int index)
{
    FHeaderMedia = index;
    return *this;
}

namespace {
QString mediaName(int index, const TznTestPicture& p) { return QStringLiteral("media/image%1.%2").arg(index + 1).arg(p.Extension); }

QString vmlXml(int index, const TznTestPicture& p, const QString& relId)
{
    QString style = QStringLiteral("width:%1pt;height:%2pt").arg(p.Cx / 12700.0).arg(p.Cy / 12700.0);
    if (p.Anchored)
        style += QStringLiteral(";position:absolute;margin-left:0;margin-top:0;z-index:1");
    QString crop;
    const char* names[4] = {"cropleft", "croptop", "cropright", "cropbottom"};
    const int values[4] = {p.CropL, p.CropT, p.CropR, p.CropB};
    for (int i = 0; i < 4; ++i)
        if (values[i])
            crop += QStringLiteral(" %1=\"%2f\"").arg(QLatin1String(names[i])).arg(qint64(std::llround(values[i] / 100000.0 * 65536)));
    return QStringLiteral("<w:r><w:pict><v:shape id=\"_x0000_i%1\" type=\"#_x0000_t75\" style=\"%2\" alt=\"%3\">"
                          "<v:imagedata r:id=\"%4\" o:title=\"%5\"%6/></v:shape></w:pict></w:r>")
        .arg(1025 + index).arg(style, p.Descr.toHtmlEscaped(), relId, p.Title.toHtmlEscaped(), crop);
}

QString drawingXml(int index, const TznTestPicture& p, const QString& relId)
{
    if (p.Vml)
        return vmlXml(index, p, relId);
    const QString extent = QStringLiteral("<wp:extent cx=\"%1\" cy=\"%2\"/>").arg(p.Cx).arg(p.Cy);
    QString docPr = QStringLiteral("<wp:docPr id=\"%1\" name=\"%2\"").arg(index + 1).arg(p.Name.toHtmlEscaped());
    if (!p.Descr.isEmpty()) docPr += QStringLiteral(" descr=\"%1\"").arg(p.Descr.toHtmlEscaped());
    if (!p.Title.isEmpty()) docPr += QStringLiteral(" title=\"%1\"").arg(p.Title.toHtmlEscaped());
    docPr += p.DocPrAttributes;
    docPr += p.HyperlinkUrl.isEmpty() ? QStringLiteral("/>")
                                      : QStringLiteral("><a:hlinkClick r:id=\"rIdL%1\"/></wp:docPr>").arg(index + 1);
    QString graphic;
    if (!p.Graphic.isEmpty()) {
        graphic = QStringLiteral("<a:graphic><a:graphicData uri=\"%1\"/></a:graphic>").arg(p.Graphic);
    } else {
        QString crop;
        if (p.CropL || p.CropT || p.CropR || p.CropB)
            crop = QStringLiteral("<a:srcRect l=\"%1\" t=\"%2\" r=\"%3\" b=\"%4\"/>").arg(p.CropL).arg(p.CropT).arg(p.CropR).arg(p.CropB);
        QString blipChildren = p.BlipChildren;
        if (!p.Svg.isEmpty())
            blipChildren += QStringLiteral("<a:extLst><a:ext uri=\"{96DAC541-7B7A-43D3-8B79-37D633B846F1}\">"
                                           "<asvg:svgBlip xmlns:asvg=\"http://schemas.microsoft.com/office/drawing/2016/SVG/main\""
                                           " r:embed=\"rIdS%1\"/></a:ext></a:extLst>").arg(index + 1);
        const QString blip = QStringLiteral("<a:blip r:%1=\"%2\"%3").arg(p.Linked ? QStringLiteral("link") : QStringLiteral("embed"), relId,
            blipChildren.isEmpty() ? QStringLiteral("/>") : QStringLiteral(">") + blipChildren + QStringLiteral("</a:blip>"));
        graphic = QStringLiteral(
            "<a:graphic><a:graphicData uri=\"http://schemas.openxmlformats.org/drawingml/2006/picture\"><pic:pic>"
            "<pic:nvPicPr><pic:cNvPr id=\"%1\" name=\"%2\"/><pic:cNvPicPr/></pic:nvPicPr>"
            "<pic:blipFill>%3%4<a:stretch><a:fillRect/></a:stretch></pic:blipFill>"
            "<pic:spPr><a:xfrm%7><a:off x=\"0\" y=\"0\"/><a:ext cx=\"%5\" cy=\"%6\"/></a:xfrm>%8%9</pic:spPr>"
            "</pic:pic></a:graphicData></a:graphic>")
            .arg(index + 1).arg(p.Name.toHtmlEscaped(), blip, crop).arg(p.Cx).arg(p.Cy).arg(p.XfrmAttributes, p.Geometry, p.ShapeExtras);
    }
    QString frame;
    if (p.Anchored) {
        frame = QStringLiteral(
            "<wp:anchor distT=\"0\" distB=\"0\" distL=\"114300\" distR=\"114300\" simplePos=\"0\" relativeHeight=\"%1\"%5>"
            "<wp:simplePos x=\"0\" y=\"0\"/>"
            "<wp:positionH relativeFrom=\"%6\"><wp:posOffset>0</wp:posOffset></wp:positionH>"
            "<wp:positionV relativeFrom=\"%7\"><wp:posOffset>0</wp:posOffset></wp:positionV>"
            "%2<wp:effectExtent l=\"0\" t=\"0\" r=\"0\" b=\"0\"/>%8%3"
            "<wp:cNvGraphicFramePr/>%4</wp:anchor>").arg(251659264 + index).arg(extent, docPr, graphic, p.AnchorAttributes, p.PositionH, p.PositionV, p.Wrap);
    } else {
        frame = QStringLiteral("<wp:inline distT=\"0\" distB=\"0\" distL=\"0\" distR=\"0\">%1<wp:effectExtent l=\"0\" t=\"0\" r=\"0\" b=\"0\"/>%2"
                               "<wp:cNvGraphicFramePr><a:graphicFrameLocks noChangeAspect=\"1\"/></wp:cNvGraphicFramePr>%3</wp:inline>")
                    .arg(extent, docPr, graphic);
    }
    QString run = QStringLiteral("<w:drawing>%1</w:drawing>").arg(frame);
    if (p.AlternateContent) {
        const double wPt = p.Cx / 12700.0, hPt = p.Cy / 12700.0;
        run = QStringLiteral("<mc:AlternateContent><mc:Choice Requires=\"wps\">%1</mc:Choice><mc:Fallback><w:pict>"
                             "<v:shape id=\"_x0000_s%2\" type=\"#_x0000_t75\" style=\"width:%3pt;height:%4pt\">"
                             "<v:imagedata r:id=\"%5\" o:title=\"\"/></v:shape></w:pict></mc:Fallback></mc:AlternateContent>")
                  .arg(run).arg(1025 + index).arg(wPt).arg(hPt).arg(relId);
    }
    return QStringLiteral("<w:r>%1</w:r>").arg(run);
}

const char* kNamespaces =
    " xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\""
    " xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\""
    " xmlns:wp=\"http://schemas.openxmlformats.org/drawingml/2006/wordprocessingDrawing\""
    " xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\""
    " xmlns:pic=\"http://schemas.openxmlformats.org/drawingml/2006/picture\""
    " xmlns:mc=\"http://schemas.openxmlformats.org/markup-compatibility/2006\""
    " xmlns:v=\"urn:schemas-microsoft-com:vml\" xmlns:o=\"urn:schemas-microsoft-com:office:office\""
    " xmlns:wps=\"http://schemas.microsoft.com/office/word/2010/wordprocessingShape\" mc:Ignorable=\"wps\"";
const QByteArray kDecl = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n";
const QString kRelBase = QStringLiteral("http://schemas.openxmlformats.org/officeDocument/2006/relationships/");
} // namespace

int TznDocxBuilder::Picture(const TznTestPicture& picture)
{
    FBody.append(QStringLiteral("<w:p>%1</w:p>").arg(PictureRun(picture)));
    return int(FPictures.size()) - 1;
}

QString TznDocxBuilder::PictureRun(const TznTestPicture& picture)
{
    const int index = int(FPictures.size());
    FPictures.append(picture);
    return drawingXml(index, picture, QStringLiteral("rIdP%1").arg(index + 1));
}

TznDocxBuilder& TznDocxBuilder::Body(const QString& xml)
{
    FBody.append(xml);
    return *this;
}

QString TznDocxBuilder::TextBoxRun(const QString& paragraphs)
{
    static int boxes = 0;
    const int id = 5000 + ++boxes;
    return QStringLiteral(
        "<w:r><w:drawing><wp:anchor distT=\"0\" distB=\"0\" distL=\"114300\" distR=\"114300\" simplePos=\"0\" relativeHeight=\"%1\""
        " behindDoc=\"0\" locked=\"0\" layoutInCell=\"1\" allowOverlap=\"1\"><wp:simplePos x=\"0\" y=\"0\"/>"
        "<wp:positionH relativeFrom=\"column\"><wp:posOffset>3200400</wp:posOffset></wp:positionH>"
        "<wp:positionV relativeFrom=\"paragraph\"><wp:posOffset>0</wp:posOffset></wp:positionV>"
        "<wp:extent cx=\"2743200\" cy=\"2286000\"/><wp:effectExtent l=\"0\" t=\"0\" r=\"0\" b=\"0\"/><wp:wrapSquare wrapText=\"bothSides\"/>"
        "<wp:docPr id=\"%1\" name=\"Text Box %1\"/><wp:cNvGraphicFramePr/>"
        "<a:graphic><a:graphicData uri=\"http://schemas.microsoft.com/office/word/2010/wordprocessingShape\"><wps:wsp><wps:cNvSpPr txBox=\"1\"/>"
        "<wps:spPr><a:xfrm><a:off x=\"0\" y=\"0\"/><a:ext cx=\"2743200\" cy=\"2286000\"/></a:xfrm><a:prstGeom prst=\"rect\"><a:avLst/></a:prstGeom></wps:spPr>"
        "<wps:txbx><w:txbxContent>%2</w:txbxContent></wps:txbx><wps:bodyPr/></wps:wsp></a:graphicData></a:graphic></wp:anchor></w:drawing></w:r>")
        .arg(id).arg(paragraphs);
}

QString TznDocxBuilder::AlternateTextBoxRun(const QString& paragraphs, const QString& fallbackParagraphs)
{
    // The run's content: the w:drawing between <w:r> and </w:r>.
    const QString drawing = TextBoxRun(paragraphs).mid(5).chopped(6);
    return QStringLiteral(
        "<w:r><mc:AlternateContent><mc:Choice Requires=\"wps\">%1</mc:Choice><mc:Fallback><w:pict>"
        "<v:shape type=\"#_x0000_t202\" style=\"position:absolute;margin-left:252pt;margin-top:0;width:216pt;height:180pt;z-index:1\">"
        "<v:textbox><w:txbxContent>%2</w:txbxContent></v:textbox></v:shape></w:pict></mc:Fallback></mc:AlternateContent></w:r>")
        .arg(drawing, fallbackParagraphs);
}

TznDocxBuilder& TznDocxBuilder::StoryPicture(const QString& kind, const QString& type, const TznTestPicture& picture)
{
    FStories.append({kind, type, picture});
    return *this;
}

bool TznDocxBuilder::Save(const QString& path) const
{
    QList<QPair<QString, QByteArray>> entries;
    const QFileInfo main(QStringLiteral("/") + FMainPart);
    const QString mainFolder = main.path().mid(1);   // "word"
    const QString mainRels = mainFolder + QStringLiteral("/_rels/") + main.fileName() + QStringLiteral(".rels");

    QString types = QStringLiteral("<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
        "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
        "<Default Extension=\"xml\" ContentType=\"application/xml\"/>");
    QStringList extensions;
    for (const TznTestPicture& p : FPictures)
        if (!p.Linked && p.Graphic.isEmpty() && !extensions.contains(p.Extension))
            extensions.append(p.Extension);
    for (const TznStoryPicture& story : FStories)
        if (!extensions.contains(story.Picture.Extension))
            extensions.append(story.Picture.Extension);
    for (const TznTestPicture& p : FPictures)
        if (!p.Svg.isEmpty() && !extensions.contains(QStringLiteral("svg")))
            extensions.append(QStringLiteral("svg"));
    for (const QString& ext : extensions)
        types += QStringLiteral("<Default Extension=\"%1\" ContentType=\"image/%2\"/>").arg(ext, ext == QLatin1String("jpg") ? QStringLiteral("jpeg") : ext == QLatin1String("svg") ? QStringLiteral("svg+xml") : ext);
    types += QStringLiteral("<Override PartName=\"/%1\" ContentType=\"%2\"/>").arg(FMainPart,
        FVba ? QStringLiteral("application/vnd.ms-word.document.macroEnabled.main+xml")
             : QStringLiteral("application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml"));
    if (FVba)
        types += QStringLiteral("<Override PartName=\"/%1/vbaProject.bin\" ContentType=\"application/vnd.ms-office.vbaProject\"/>").arg(mainFolder);
    if (FHeaderMedia >= 0)
        types += QStringLiteral("<Override PartName=\"/%1/header1.xml\" ContentType=\"application/vnd.openxmlformats-officedocument.wordprocessingml.header+xml\"/>").arg(mainFolder);
    auto storyPart = [](int i, const TznStoryPicture& story) { return QStringLiteral("%1%2.xml").arg(story.Kind).arg(i + 1); };
    for (int i = 0; i < FStories.size(); ++i)
        types += QStringLiteral("<Override PartName=\"/%1/%2\" ContentType=\"application/vnd.openxmlformats-officedocument.wordprocessingml.%3+xml\"/>")
                     .arg(mainFolder, storyPart(i, FStories[i]), FStories[i].Kind);
    types += QStringLiteral("</Types>");
    entries.append({QStringLiteral("[Content_Types].xml"), kDecl + types.toUtf8()});
    entries.append({QStringLiteral("_rels/.rels"), kDecl + QStringLiteral(
        "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
        "<Relationship Id=\"rId1\" Type=\"%1officeDocument\" Target=\"%2\"/></Relationships>").arg(kRelBase, FMainPart).toUtf8()});

    QString rels = QStringLiteral("<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">");
    for (int i = 0; i < FPictures.size(); ++i) {
        const TznTestPicture& p = FPictures[i];
        if (!p.Graphic.isEmpty())
            continue;
        if (p.Linked) {
            rels += QStringLiteral("<Relationship Id=\"rIdP%1\" Type=\"%2image\" Target=\"file:///missing/picture%1.png\" TargetMode=\"External\"/>").arg(i + 1).arg(kRelBase);
        } else {
            const int media = p.SameMediaAs >= 0 ? p.SameMediaAs : i;
            rels += QStringLiteral("<Relationship Id=\"rIdP%1\" Type=\"%2image\" Target=\"%3\"/>").arg(i + 1).arg(kRelBase, mediaName(media, FPictures[media]));
        }
        if (!p.Svg.isEmpty())
            rels += QStringLiteral("<Relationship Id=\"rIdS%1\" Type=\"%2image\" Target=\"media/vector%1.svg\"/>").arg(i + 1).arg(kRelBase);
        if (!p.HyperlinkUrl.isEmpty())
            rels += QStringLiteral("<Relationship Id=\"rIdL%1\" Type=\"%2hyperlink\" Target=\"%3\" TargetMode=\"External\"/>").arg(i + 1).arg(kRelBase, p.HyperlinkUrl.toHtmlEscaped());
    }
    if (FVba)
        rels += QStringLiteral("<Relationship Id=\"rIdV\" Type=\"http://schemas.microsoft.com/office/2006/relationships/vbaProject\" Target=\"vbaProject.bin\"/>");
    QString sectPr = QStringLiteral("<w:sectPr>");
    if (FHeaderMedia >= 0) {
        rels += QStringLiteral("<Relationship Id=\"rIdH\" Type=\"%1header\" Target=\"header1.xml\"/>").arg(kRelBase);
        sectPr += QStringLiteral("<w:headerReference w:type=\"default\" r:id=\"rIdH\"/>");
    }
    QString references;
    for (int i = 0; i < FStories.size(); ++i) {
        const TznStoryPicture& story = FStories[i];
        rels += QStringLiteral("<Relationship Id=\"rIdT%1\" Type=\"%2%3\" Target=\"%4\"/>").arg(i + 1).arg(kRelBase, story.Kind, storyPart(i, story));
        if (story.Kind == QLatin1String("header") || story.Kind == QLatin1String("footer"))
            sectPr += QStringLiteral("<w:%1Reference w:type=\"%2\" r:id=\"rIdT%3\"/>").arg(story.Kind, story.Type).arg(i + 1);
        else if (story.Kind == QLatin1String("comments"))
            references += QStringLiteral("<w:p><w:r><w:t>noted</w:t></w:r><w:r><w:commentReference w:id=\"%1\"/></w:r></w:p>").arg(i + 1);
        else
            references += QStringLiteral("<w:p><w:r><w:t>noted</w:t></w:r><w:r><w:%1Reference w:id=\"%2\"/></w:r></w:p>").arg(story.Kind.chopped(1)).arg(i + 1);
    }
    for (const TznStoryPicture& story : FStories)
        if (story.Type == QLatin1String("first")) {
            sectPr += QStringLiteral("<w:titlePg/>");
            break;
        }
    sectPr += QStringLiteral("<w:pgSz w:w=\"12240\" w:h=\"15840\"/><w:pgMar w:top=\"1440\" w:right=\"1440\" w:bottom=\"1440\" w:left=\"1440\" w:header=\"720\" w:footer=\"720\" w:gutter=\"0\"/></w:sectPr>");
    rels += QStringLiteral("</Relationships>");

    entries.append({FMainPart, kDecl + QStringLiteral("<w:document%1><w:body>%2%3</w:body></w:document>")
                                           .arg(QLatin1String(kNamespaces), FBody.join(QString()) + references, sectPr).toUtf8()});
    entries.append({mainRels, kDecl + rels.toUtf8()});
    for (int i = 0; i < FPictures.size(); ++i)
        if (FPictures[i].SameMediaAs < 0 && !FPictures[i].Linked && FPictures[i].Graphic.isEmpty())
            entries.append({mainFolder + QLatin1Char('/') + mediaName(i, FPictures[i]), FPictures[i].Bytes});
    for (int i = 0; i < FPictures.size(); ++i)
        if (!FPictures[i].Svg.isEmpty())
            entries.append({mainFolder + QStringLiteral("/media/vector%1.svg").arg(i + 1), FPictures[i].Svg});
    if (FVba)
        entries.append({mainFolder + QStringLiteral("/vbaProject.bin"), QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1not-a-real-project", 26)});
    if (FHeaderMedia >= 0) {
        TznTestPicture p = FPictures[FHeaderMedia];
        p.Anchored = false;
        p.AlternateContent = false;
        entries.append({mainFolder + QStringLiteral("/header1.xml"), kDecl + QStringLiteral("<w:hdr%1><w:p>%2</w:p></w:hdr>")
                            .arg(QLatin1String(kNamespaces), drawingXml(900, p, QStringLiteral("rIdHP"))).toUtf8()});
        entries.append({mainFolder + QStringLiteral("/_rels/header1.xml.rels"), kDecl + QStringLiteral(
            "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
            "<Relationship Id=\"rIdHP\" Type=\"%1image\" Target=\"%2\"/></Relationships>").arg(kRelBase, mediaName(FHeaderMedia, p)).toUtf8()});
    }
    for (int i = 0; i < FStories.size(); ++i) {
        const TznStoryPicture& story = FStories[i];
        const QString media = QStringLiteral("media/story%1.%2").arg(i + 1).arg(story.Picture.Extension);
        const QString para = QStringLiteral("<w:p>%1</w:p>").arg(drawingXml(800 + i, story.Picture, QStringLiteral("rIdP1")));
        QString xml;
        if (story.Kind == QLatin1String("header"))
            xml = QStringLiteral("<w:hdr%1>%2</w:hdr>").arg(QLatin1String(kNamespaces), para);
        else if (story.Kind == QLatin1String("footer"))
            xml = QStringLiteral("<w:ftr%1>%2</w:ftr>").arg(QLatin1String(kNamespaces), para);
        else if (story.Kind == QLatin1String("comments"))
            xml = QStringLiteral("<w:comments%1><w:comment w:id=\"%2\" w:author=\"Tester\">%3</w:comment></w:comments>")
                      .arg(QLatin1String(kNamespaces)).arg(i + 1).arg(para);
        else
            xml = QStringLiteral("<w:%1%2><w:%3 w:id=\"%4\">%5</w:%3></w:%1>")
                      .arg(story.Kind, QLatin1String(kNamespaces), story.Kind.chopped(1)).arg(i + 1).arg(para);
        entries.append({mainFolder + QLatin1Char('/') + storyPart(i, story), kDecl + xml.toUtf8()});
        entries.append({mainFolder + QStringLiteral("/_rels/") + storyPart(i, story) + QStringLiteral(".rels"), kDecl + QStringLiteral(
            "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
            "<Relationship Id=\"rIdP1\" Type=\"%1image\" Target=\"%2\"/></Relationships>").arg(kRelBase, media).toUtf8()});
        entries.append({mainFolder + QLatin1Char('/') + media, story.Picture.Bytes});
    }
    return WriteZip(path, entries);
}

bool WriteZip(const QString& path, const QList<QPair<QString, QByteArray>>& entries)
{
    int error = 0;
    zip_t* z = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!z)
        return false;
    for (const auto& entry : entries) {
        zip_source_t* src = zip_source_buffer(z, entry.second.constData(), zip_uint64_t(entry.second.size()), 0);
        if (!src || zip_file_add(z, entry.first.toUtf8().constData(), src, ZIP_FL_ENC_UTF_8) < 0) {
            zip_source_free(src);
            zip_discard(z);
            return false;
        }
    }
    return zip_close(z) == 0;
}

namespace {
QByteArray readEntry(zip_t* z, zip_uint64_t index, zip_flags_t flags, zip_uint64_t size)
{
    QByteArray out;
    zip_file_t* f = zip_fopen_index(z, index, flags);
    if (!f)
        return out;
    out.resize(qsizetype(size));
    zip_int64_t got = 0, n = 0;
    while (got < zip_int64_t(size) && (n = zip_fread(f, out.data() + got, size - zip_uint64_t(got))) > 0)
        got += n;
    out.resize(qsizetype(got));
    zip_fclose(f);
    return out;
}
} // namespace

QList<TznZipEntry> ReadZipEntries(const QString& path)
{
    QList<TznZipEntry> out;
    int error = 0;
    zip_t* z = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY, &error);
    if (!z)
        return out;
    const zip_int64_t count = zip_get_num_entries(z, 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        zip_stat_t st;
        if (zip_stat_index(z, zip_uint64_t(i), 0, &st) != 0)
            continue;
        TznZipEntry e;
        e.Name = QString::fromUtf8(st.name);
        e.Method = st.comp_method;
        e.Content = readEntry(z, zip_uint64_t(i), 0, st.size);
        e.Raw = readEntry(z, zip_uint64_t(i), ZIP_FL_COMPRESSED, st.comp_size);
        out.append(e);
    }
    zip_discard(z);
    return out;
}

QByteArray ReadZipEntry(const QString& path, const QString& name)
{
    for (const TznZipEntry& e : ReadZipEntries(path))
        if (e.Name == name)
            return e.Content;
    return QByteArray();
}

bool PythonDocxOpens(const QString& path, QString* err)
{
    QProcess p;
    p.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QStringLiteral("import sys, docx; docx.Document(sys.argv[1])"), path});
    const bool ok = p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (!ok && err)
        *err = QString::fromLocal8Bit(p.readAllStandardError());
    return ok;
}

bool HasLibreOffice()
{
    return !QStandardPaths::findExecutable(QStringLiteral("soffice")).isEmpty();
}

QString ConvertToPdf(const QString& path, const QString& outDir)
{
    QTemporaryDir profile(QDir::tempPath() + QStringLiteral("/lp-soffice-XXXXXX"));
    QProcess p;
    p.start(QStringLiteral("soffice"), {QStringLiteral("-env:UserInstallation=file://") + profile.path(), QStringLiteral("--headless"),
                                        QStringLiteral("--convert-to"), QStringLiteral("pdf"), QStringLiteral("--outdir"), outDir, path});
    if (!p.waitForFinished(180000)) {
        p.kill();
        p.waitForFinished();
        return QString();
    }
    const QString pdf = outDir + QLatin1Char('/') + QFileInfo(path).completeBaseName() + QStringLiteral(".pdf");
    return QFileInfo(pdf).size() > 0 ? pdf : QString();
}

QStringList ConvertAllToPdf(const QStringList& paths, const QString& outDir)
{
    QStringList pdfs;
    if (paths.isEmpty())
        return pdfs;
    QTemporaryDir profile(QDir::tempPath() + QStringLiteral("/lp-soffice-XXXXXX"));
    QProcess p;
    p.start(QStringLiteral("soffice"), QStringList{QStringLiteral("-env:UserInstallation=file://") + profile.path(), QStringLiteral("--headless"),
                                                   QStringLiteral("--convert-to"), QStringLiteral("pdf"), QStringLiteral("--outdir"), outDir} + paths);
    if (!p.waitForFinished(int(60000 + 60000 * paths.size()))) {
        p.kill();
        p.waitForFinished();
    }
    for (const QString& path : paths) {
        const QString pdf = outDir + QLatin1Char('/') + QFileInfo(path).completeBaseName() + QStringLiteral(".pdf");
        pdfs.append(QFileInfo(pdf).size() > 0 ? pdf : QString());
    }
    return pdfs;
}

QList<QImage> RenderPdfPages(const QString& pdf, const QString& prefix, int dpi)
{
    // Pages as PPM: writing them as PNG costs pdftoppm ten times the time of
    // rendering them, and the pictures are read back at once.
    QProcess p;
    p.start(QStringLiteral("pdftoppm"), {QStringLiteral("-r"), QString::number(dpi), pdf, prefix});
    p.waitForFinished(120000);
    QList<QImage> pages;
    const QFileInfo info(prefix);
    for (const QString& name : QDir(info.path()).entryList({info.fileName() + QStringLiteral("-*.ppm")}, QDir::Files, QDir::Name))
        pages.append(QImage(info.path() + QLatin1Char('/') + name).convertToFormat(QImage::Format_RGB888));
    return pages;
}

const QStringList& WriterWords()
{
    static const QStringList words = QStringLiteral("the of report a and to in is that for it as with was on be by this are "
                                                    "from at or an have not which but all were when we there can more if no "
                                                    "so what up out about into than them only other its new some time could "
                                                    "budget quarter")
                                         .split(u' ');
    return words;
}

QString WriterParagraphs(int count, quint32 seed)
{
    QRandomGenerator random(seed);
    const QStringList& words = WriterWords();
    QString paragraphs;
    for (int i = 0; i < count; ++i) {
        QStringList text;
        for (int w = random.bounded(5, 25); w > 0; --w)
            text << words[random.bounded(int(words.size()))];
        paragraphs += QStringLiteral("<w:p w:rsidR=\"00%1\"><w:r><w:rPr><w:sz w:val=\"%2\"/></w:rPr><w:t>%3</w:t></w:r></w:p>")
                          .arg(random.bounded(1 << 24), 6, 16, QLatin1Char('0'))
                          .arg(20 + 2 * random.bounded(3))
                          .arg(text.join(u' '));
    }
    return paragraphs;
}

QString CorpusDir()
{
#ifdef LP_CORPUS_DIR
    const QString dir = QStringLiteral(LP_CORPUS_DIR);
    if (QFileInfo(dir + QStringLiteral("/MANIFEST.tsv")).exists())
        return QDir(dir).absolutePath();
#endif
    return QString();
}
