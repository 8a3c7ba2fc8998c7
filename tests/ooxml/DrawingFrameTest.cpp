// A picture re-inserted through the clipboard comes back in its own frame: every property
// of the frame and the picture stays, only the pixels change.
#include "ServerTestUtil.h"

#include <QImage>
#include <QRegularExpression>

#include <functional>

namespace {

QString documentXml(const QString& path) { return QString::fromUtf8(ReadZipEntry(path, QStringLiteral("word/document.xml"))); }

// The media part a relationship of the main part names, as a zip entry name.
QString mediaOfRel(const QString& path, const QString& relId)
{
    const QString rels = QString::fromUtf8(ReadZipEntry(path, QStringLiteral("word/_rels/document.xml.rels")));
    const QRegularExpression re(QStringLiteral("<Relationship [^>]*Id=\"%1\"[^>]*Target=\"([^\"]+)\"").arg(relId));
    const QRegularExpressionMatch m = re.match(rels);
    return m.hasMatch() ? QStringLiteral("word/") + m.captured(1) : QString();
}

QString firstBlipRel(const QString& xml)
{
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("<a:blip r:embed=\"([^\"]+)\"")).match(xml);
    return m.captured(1);
}

// A photo of 1600 x 1200 pixels at 192 dpi shown at half its natural size.
TznTestPicture halfSizePhoto()
{
    TznTestPicture p;
    p.Bytes = MakeTestImage({1600, 1200, QStringLiteral("jpeg"), 192});
    p.Extension = QStringLiteral("jpeg");
    p.Cx = kEmuPerInch * 1600 / 192 / 2;
    p.Cy = kEmuPerInch * 1200 / 192 / 2;
    return p;
}

struct TznFrameRow
{
    const char* Name;
    std::function<void(TznTestPicture&)> Give;
    QString Kept;              // written as in the source, found as such in the result
    bool InTableCell = false;
    // A further look at the result: its main part and the pasted picture.
    std::function<void(const QString& xml, const QImage& pasted)> Check = {};
};

TznFrameRow anchoredRow(const char* name, std::function<void(TznTestPicture&)> give, const QString& kept)
{
    return {name, [give](TznTestPicture& p) { p.Anchored = true; give(p); }, kept};
}

TznFrameRow positionRow(const char* name, bool horizontal, const char* from)
{
    const QString f = QString::fromLatin1(from);
    return anchoredRow(name, [=](TznTestPicture& p) { (horizontal ? p.PositionH : p.PositionV) = f; },
                       QStringLiteral("<wp:position%1 relativeFrom=\"%2\">").arg(horizontal ? "H" : "V", f));
}

TznFrameRow wrapRow(const char* name, const QString& wrap)
{
    return anchoredRow(name, [=](TznTestPicture& p) { p.Wrap = wrap; }, wrap);
}

TznFrameRow blipRow(const char* name, const QString& children)
{
    return {name, [=](TznTestPicture& p) { p.BlipChildren = children; }, children};
}

const QString kA14 = QStringLiteral("http://schemas.microsoft.com/office/drawing/2010/main");
const QString kPolygon = QStringLiteral(
    "<wp:wrapPolygon edited=\"1\"><wp:start x=\"0\" y=\"0\"/><wp:lineTo x=\"21600\" y=\"0\"/>"
    "<wp:lineTo x=\"10800\" y=\"21600\"/><wp:lineTo x=\"0\" y=\"0\"/></wp:wrapPolygon>");

std::vector<TznFrameRow> frameRows()
{
    std::vector<TznFrameRow> rows = {
        {"Rotation", [](TznTestPicture& p) { p.XfrmAttributes = QStringLiteral(" rot=\"5400000\""); }, QStringLiteral("<a:xfrm rot=\"5400000\">")},
        {"FlipH", [](TznTestPicture& p) { p.XfrmAttributes = QStringLiteral(" flipH=\"1\""); }, QStringLiteral("<a:xfrm flipH=\"1\">")},
        {"FlipV", [](TznTestPicture& p) { p.XfrmAttributes = QStringLiteral(" flipV=\"1\""); }, QStringLiteral("<a:xfrm flipV=\"1\">")},
        {"PresetGeometry", [](TznTestPicture& p) { p.Geometry = QStringLiteral("<a:prstGeom prst=\"ellipse\"><a:avLst/></a:prstGeom>"); },
         QStringLiteral("<a:prstGeom prst=\"ellipse\"><a:avLst/></a:prstGeom>")},
        {"ActionButtonGeometry", [](TznTestPicture& p) { p.Geometry = QStringLiteral("<a:prstGeom prst=\"actionButtonHome\"><a:avLst/></a:prstGeom>"); },
         QStringLiteral("prst=\"actionButtonHome\"")},
        {"CustomGeometry", [](TznTestPicture& p) {
             p.Geometry = QStringLiteral("<a:custGeom><a:avLst/><a:gdLst/><a:ahLst/><a:cxnLst/><a:rect l=\"0\" t=\"0\" r=\"r\" b=\"b\"/>"
                                         "<a:pathLst><a:path w=\"100\" h=\"100\"><a:moveTo><a:pt x=\"50\" y=\"0\"/></a:moveTo>"
                                         "<a:lnTo><a:pt x=\"100\" y=\"100\"/></a:lnTo><a:lnTo><a:pt x=\"0\" y=\"100\"/></a:lnTo><a:close/>"
                                         "</a:path></a:pathLst></a:custGeom>"); },
         QStringLiteral("<a:moveTo><a:pt x=\"50\" y=\"0\"/></a:moveTo><a:lnTo><a:pt x=\"100\" y=\"100\"/></a:lnTo>")},
        {"Outline", [](TznTestPicture& p) { p.ShapeExtras = QStringLiteral("<a:ln w=\"38100\"><a:solidFill><a:srgbClr val=\"C00000\"/></a:solidFill></a:ln>"); },
         QStringLiteral("<a:ln w=\"38100\"><a:solidFill><a:srgbClr val=\"C00000\"/></a:solidFill></a:ln>")},
        {"EffectList", [](TznTestPicture& p) {
             p.ShapeExtras = QStringLiteral("<a:effectLst><a:outerShdw blurRad=\"50800\" dist=\"38100\" dir=\"2700000\" algn=\"tl\">"
                                            "<a:prstClr val=\"black\"><a:alpha val=\"40000\"/></a:prstClr></a:outerShdw></a:effectLst>"); },
         QStringLiteral("<a:outerShdw blurRad=\"50800\" dist=\"38100\" dir=\"2700000\" algn=\"tl\">")},
        {"Scene3d", [](TznTestPicture& p) {
             p.ShapeExtras = QStringLiteral("<a:scene3d><a:camera prst=\"perspectiveRight\"/><a:lightRig rig=\"threePt\" dir=\"t\"/></a:scene3d>"
                                            "<a:sp3d prstMaterial=\"metal\"/>"); },
         QStringLiteral("<a:camera prst=\"perspectiveRight\"/><a:lightRig rig=\"threePt\" dir=\"t\"/></a:scene3d><a:sp3d prstMaterial=\"metal\"/>")},
        blipRow("Grayscale", QStringLiteral("<a:grayscl/>")),
        blipRow("Duotone", QStringLiteral("<a:duotone><a:prstClr val=\"black\"/><a:srgbClr val=\"D9C3A5\"/></a:duotone>")),
        blipRow("Luminance", QStringLiteral("<a:lum bright=\"20000\" contrast=\"-10000\"/>")),
        blipRow("Alpha", QStringLiteral("<a:alphaModFix amt=\"50000\"/>")),
        blipRow("ArtisticEffect", QStringLiteral("<a:extLst><a:ext uri=\"{BEBA8EAE-BF5A-486C-A8C5-ECC9F3942E4B}\"><a14:imgProps xmlns:a14=\"%1\">"
                                                 "<a14:imgLayer><a14:imgEffect><a14:artisticPencilSketch/></a14:imgEffect></a14:imgLayer>"
                                                 "</a14:imgProps></a:ext></a:extLst>").arg(kA14)),
        blipRow("UseLocalDpi", QStringLiteral("<a:extLst><a:ext uri=\"{28A0092B-C50C-407E-A947-70E740481C1C}\">"
                                              "<a14:useLocalDpi xmlns:a14=\"%1\" val=\"0\"/></a:ext></a:extLst>").arg(kA14)),
        {"AltText", [](TznTestPicture& p) { p.Descr = QStringLiteral("A red bicycle & a dog"); }, QStringLiteral("descr=\"A red bicycle &amp; a dog\"")},
        {"Title", [](TznTestPicture& p) { p.Title = QStringLiteral("Bicycle"); }, QStringLiteral("title=\"Bicycle\"")},
        {"Hidden", [](TznTestPicture& p) { p.DocPrAttributes = QStringLiteral(" hidden=\"1\""); }, QStringLiteral("hidden=\"1\"")},
        {"Hyperlink", [](TznTestPicture& p) { p.HyperlinkUrl = QStringLiteral("https://example.org/"); }, QStringLiteral("<a:hlinkClick r:id=\"rIdL1\"/>")},
        wrapRow("WrapSquare", QStringLiteral("<wp:wrapSquare wrapText=\"largest\"/>")),
        wrapRow("WrapTight", QStringLiteral("<wp:wrapTight wrapText=\"bothSides\">%1</wp:wrapTight>").arg(kPolygon)),
        wrapRow("WrapThrough", QStringLiteral("<wp:wrapThrough wrapText=\"left\">%1</wp:wrapThrough>").arg(kPolygon)),
        wrapRow("WrapTopAndBottom", QStringLiteral("<wp:wrapTopAndBottom/>")),
        wrapRow("WrapNone", QStringLiteral("<wp:wrapNone/>")),
        anchoredRow("BehindText", [](TznTestPicture& p) {
            p.AnchorAttributes = QStringLiteral(" behindDoc=\"1\" locked=\"1\" layoutInCell=\"1\" allowOverlap=\"0\""); p.Wrap = QStringLiteral("<wp:wrapNone/>"); },
            QStringLiteral(" behindDoc=\"1\" locked=\"1\" layoutInCell=\"1\" allowOverlap=\"0\">")),
        positionRow("FromCharacter", true, "character"), positionRow("FromColumn", true, "column"),
        positionRow("FromInsideMarginH", true, "insideMargin"), positionRow("FromLeftMargin", true, "leftMargin"),
        positionRow("FromMarginH", true, "margin"), positionRow("FromOutsideMarginH", true, "outsideMargin"),
        positionRow("FromPageH", true, "page"), positionRow("FromRightMargin", true, "rightMargin"),
        positionRow("FromBottomMargin", false, "bottomMargin"), positionRow("FromInsideMarginV", false, "insideMargin"),
        positionRow("FromLine", false, "line"), positionRow("FromMarginV", false, "margin"),
        positionRow("FromOutsideMarginV", false, "outsideMargin"), positionRow("FromPageV", false, "page"),
        positionRow("FromParagraph", false, "paragraph"), positionRow("FromTopMargin", false, "topMargin"),
    };
    TznFrameRow inCell = anchoredRow("LayoutInCell", [](TznTestPicture&) {}, QStringLiteral(" layoutInCell=\"1\""));
    inCell.InTableCell = true;
    inCell.Check = [](const QString& xml, const QImage&) {
        EXPECT_TRUE(xml.contains(QRegularExpression(QStringLiteral("<w:tc>(?:(?!</w:tc>).)*<wp:anchor"))));
    };
    rows.push_back(inCell);
    // A negative crop pads the picture: the padding is baked in as transparent margins.
    TznFrameRow negative{"NegativeCrop", [](TznTestPicture& p) { p.CropL = p.CropR = -10000; }, QString()};
    negative.Check = [](const QString& xml, const QImage& pasted) {
        EXPECT_FALSE(xml.contains(QStringLiteral("srcRect")));
        ASSERT_TRUE(pasted.hasAlphaChannel());
        EXPECT_EQ(qAlpha(pasted.pixel(0, pasted.height() / 2)), 0);
        EXPECT_EQ(qAlpha(pasted.pixel(pasted.width() / 2, pasted.height() / 2)), 255);
    };
    rows.push_back(negative);
    TznFrameRow svg{"SvgKeepsItsSvg", [](TznTestPicture& p) {
                        p.Svg = "<svg xmlns='http://www.w3.org/2000/svg' width='400' height='300'><circle cx='200' cy='150' r='100'/></svg>"; },
                    QStringLiteral("<asvg:svgBlip xmlns:asvg=\"http://schemas.microsoft.com/office/drawing/2016/SVG/main\" r:embed=\"rIdS1\"/>")};
    rows.push_back(svg);
    TznFrameRow alternate = anchoredRow("AlternateContent", [](TznTestPicture& p) { p.AlternateContent = true; },
                                        QStringLiteral("<mc:Choice Requires=\"wps\">"));
    alternate.Check = [](const QString& xml, const QImage&) {
        // The fallback shows the same new picture as the choice.
        const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("<v:imagedata r:id=\"([^\"]+)\"")).match(xml);
        ASSERT_TRUE(m.hasMatch());
        EXPECT_EQ(m.captured(1), firstBlipRel(xml));
    };
    rows.push_back(alternate);
    return rows;
}

class DrawingFrameTest : public TznServerTest, public ::testing::WithParamInterface<TznFrameRow> {};

TEST_P(DrawingFrameTest, CompactedPictureKeepsIt)
{
    const TznFrameRow& row = GetParam();
    TznTestPicture picture = halfSizePhoto();
    row.Give(picture);
    TznDocxBuilder b;
    b.Paragraph(QStringLiteral("Text before the picture."));
    if (row.InTableCell)
        b.Body(QStringLiteral("<w:tbl><w:tblGrid><w:gridCol w:w=\"6000\"/></w:tblGrid><w:tr><w:tc><w:tcPr><w:tcW w:w=\"6000\" w:type=\"dxa\"/></w:tcPr>"
                              "<w:p>%1</w:p></w:tc></w:tr></w:tbl><w:p/>").arg(b.PictureRun(picture)));
    else
        b.Picture(picture);
    const QString source = PathOf(QStringLiteral("source.docx"));
    ASSERT_TRUE(b.Save(source));
    const QString sourceXml = documentXml(source);
    ASSERT_TRUE(sourceXml.contains(row.Kept)) << "the row's property is not in the built document";
    const QString sourceMedia = mediaOfRel(source, firstBlipRel(sourceXml));

    const TznVariant doc = Open(source);
    const char* collection = picture.Anchored ? "Shapes" : "InlineShapes";
    ASSERT_EQ(OleGet(OleGet(doc, QString::fromLatin1(collection)), QStringLiteral("Count")).ToInt(), 1);
    ASSERT_EQ(CompactLikeTheConverter(FApp, doc), 1);
    EXPECT_EQ(OleGet(OleGet(doc, QString::fromLatin1(collection)), QStringLiteral("Count")).ToInt(), 1);
    const QString out = PathOf(QStringLiteral("out.docx"));
    OleCall(doc, QStringLiteral("SaveAs"), {out});

    const QString xml = documentXml(out);
    EXPECT_TRUE(xml.contains(row.Kept)) << xml.toStdString();
    EXPECT_EQ(xml.contains(QStringLiteral("<wp:anchor")), picture.Anchored);
    const QString media = mediaOfRel(out, firstBlipRel(xml));
    ASSERT_FALSE(media.isEmpty());
    EXPECT_NE(media, sourceMedia);
    const QByteArray pasted = ReadZipEntry(out, media);
    EXPECT_LT(pasted.size(), picture.Bytes.size());
    EXPECT_TRUE(ReadZipEntry(out, sourceMedia).isEmpty()) << "the replaced picture stays in the package";
    if (!picture.Svg.isEmpty()) {
        EXPECT_EQ(ReadZipEntry(out, QStringLiteral("word/media/vector1.svg")), picture.Svg);
    }
    if (row.Check)
        row.Check(xml, QImage::fromData(pasted));
}

INSTANTIATE_TEST_SUITE_P(Properties, DrawingFrameTest, ::testing::ValuesIn(frameRows()),
                         [](const ::testing::TestParamInfo<TznFrameRow>& info) { return std::string(info.param.Name); });

class DrawingPlacesTest : public TznServerTest {};

// Inline and floating pictures side by side, in table cells and in a text box: each picture
// of the main story is re-inserted once and stays in its collection; the text box's picture
// is no member of either and stays as it is; drawing ids stay unique.
TEST_F(DrawingPlacesTest, EachPictureIsReinsertedOnceInItsCollection)
{
    TznDocxBuilder b;
    auto floating = [] { TznTestPicture p = halfSizePhoto(); p.Anchored = true; return p; };
    b.Body(QStringLiteral("<w:p>%1<w:r><w:t>between</w:t></w:r>%2%3</w:p>")
               .arg(b.PictureRun(halfSizePhoto()), b.PictureRun(floating()), b.PictureRun(halfSizePhoto())));
    b.Body(QStringLiteral("<w:tbl><w:tblGrid><w:gridCol w:w=\"4000\"/><w:gridCol w:w=\"4000\"/></w:tblGrid><w:tr>"
                          "<w:tc><w:p>%1</w:p></w:tc><w:tc><w:p>%2</w:p></w:tc></w:tr></w:tbl>")
               .arg(b.PictureRun(floating()), b.PictureRun(halfSizePhoto())));
    TznTestPicture boxed = halfSizePhoto();
    boxed.Descr = QStringLiteral("in the box");
    b.Body(QStringLiteral("<w:p>%1</w:p>").arg(TznDocxBuilder::TextBoxRun(QStringLiteral("<w:p>%1</w:p>").arg(b.PictureRun(boxed)))));
    const QString source = PathOf(QStringLiteral("places.docx"));
    ASSERT_TRUE(b.Save(source));

    const TznVariant doc = Open(source);
    const TznVariant inl = OleGet(doc, QStringLiteral("InlineShapes"));
    const TznVariant shapes = OleGet(doc, QStringLiteral("Shapes"));
    ASSERT_EQ(OleGet(inl, QStringLiteral("Count")).ToInt(), 3);
    ASSERT_EQ(OleGet(shapes, QStringLiteral("Count")).ToInt(), 3);   // two pictures and the text box
    EXPECT_EQ(CompactLikeTheConverter(FApp, doc), 5);
    EXPECT_EQ(OleGet(inl, QStringLiteral("Count")).ToInt(), 3);
    EXPECT_EQ(OleGet(shapes, QStringLiteral("Count")).ToInt(), 3);
    EXPECT_EQ(CompactLikeTheConverter(FApp, doc), 0) << "a re-inserted picture is shown at its size";
    const QString out = PathOf(QStringLiteral("out.docx"));
    OleCall(doc, QStringLiteral("SaveAs"), {out});

    const QString xml = documentXml(out);
    EXPECT_EQ(xml.count(QStringLiteral("<wp:anchor")), 3);
    EXPECT_EQ(xml.count(QStringLiteral("<wp:inline")), 4);
    QStringList ids;
    for (const QRegularExpressionMatch& m : QRegularExpression(QStringLiteral("<wp:docPr id=\"(\\d+)\"")).globalMatch(xml))
        ids << m.captured(1);
    EXPECT_EQ(ids.size(), 7);
    EXPECT_EQ(QSet<QString>(ids.begin(), ids.end()).size(), ids.size()) << ids.join(u' ').toStdString();
    // The boxed picture still shows its own media, the only original left.
    EXPECT_FALSE(ReadZipEntry(out, QStringLiteral("word/media/image6.jpeg")).isEmpty());
    for (int i = 1; i <= 5; ++i)
        EXPECT_TRUE(ReadZipEntry(out, QStringLiteral("word/media/image%1.jpeg").arg(i)).isEmpty()) << i;
    EXPECT_TRUE(PythonDocxOpens(out));
}

// A picture pasted into another document than its own comes back inline there.
TEST_F(DrawingPlacesTest, PasteIntoAnotherDocumentIsInline)
{
    TznDocxBuilder b;
    TznTestPicture p = halfSizePhoto();
    p.Anchored = true;
    b.Picture(p);
    const QString source = PathOf(QStringLiteral("floating.docx"));
    ASSERT_TRUE(b.Save(source));
    const TznVariant doc = Open(source);
    OleCall(OleCall(OleGet(doc, QStringLiteral("Shapes")), QStringLiteral("Item"), {1}), QStringLiteral("Select"));
    OleCall(OleGet(FApp, QStringLiteral("Selection")), QStringLiteral("Copy"));
    const TznVariant other = OleCall(Documents(), QStringLiteral("Add"), {TznVariant::Omitted()});
    OleCall(OleGet(FApp, QStringLiteral("Selection")), QStringLiteral("PasteSpecial"), {0, 0, 0, 0, 13});
    EXPECT_EQ(OleGet(OleGet(other, QStringLiteral("InlineShapes")), QStringLiteral("Count")).ToInt(), 1);
    EXPECT_EQ(OleGet(OleGet(other, QStringLiteral("Shapes")), QStringLiteral("Count")).ToInt(), 0);
}

} // namespace
