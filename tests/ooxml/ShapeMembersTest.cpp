#include "ServerTestUtil.h"
#include "znTestBytes.h"
#include "znTestRequire.h"

#include <QImage>
#include <QProcess>
#include <QStandardPaths>

#include <algorithm>
#include <cmath>

namespace {

const QString kChartUri = QStringLiteral("http://schemas.openxmlformats.org/drawingml/2006/chart");
const QString kDiagramUri = QStringLiteral("http://schemas.openxmlformats.org/drawingml/2006/diagram");

class ShapeTest : public TznServerTest
{
protected:
    TznVariant OpenBuilt(const TznDocxBuilder& builder, const QString& name = QStringLiteral("doc.docx"))
    {
        const QString path = PathOf(name);
        EXPECT_TRUE(builder.Save(path));
        FSource = path;
        return Open(path);
    }
    static TznVariant Inline(const TznVariant& doc) { return OleGet(doc, QStringLiteral("InlineShapes")); }
    static TznVariant Anchored(const TznVariant& doc) { return OleGet(doc, QStringLiteral("Shapes")); }
    static int Count(const TznVariant& collection) { return OleGet(collection, QStringLiteral("Count")).ToInt(); }
    static TznVariant Item(const TznVariant& collection, int i) { return OleCall(collection, QStringLiteral("Item"), {i}); }
    // The four calls of one re-insertion, in the converter's order.
    void Reinsert(const TznVariant& shape, int pasteType = 13)
    {
        OleCall(shape, QStringLiteral("Select"));
        OleCall(OleGet(FApp, QStringLiteral("Selection")), QStringLiteral("Copy"));
        OleCall(shape, QStringLiteral("Delete"));
        OleCall(OleGet(FApp, QStringLiteral("Selection")), QStringLiteral("PasteSpecial"), {0, 0, 0, 0, pasteType});
    }
    QString SaveCopy(const TznVariant& doc, const QString& name = QStringLiteral("out.docx"))
    {
        const QString out = PathOf(name);
        OleCall(doc, QStringLiteral("SaveAs"), {out});
        return out;
    }
    static QStringList MediaOf(const QString& path)
    {
        QStringList media;
        for (const TznZipEntry& e : ReadZipEntries(path))
            if (e.Name.startsWith(QLatin1String("word/media/")))
                media.append(e.Name);
        return media;
    }
    static QString XmlOf(const QString& path) { return QString::fromUtf8(ReadZipEntry(path, QStringLiteral("word/document.xml"))); }

    static TznTestPicture Photo(int w, int h, double dpi, qint64 cx, qint64 cy)
    {
        TznTestPicture p;
        p.Bytes = MakeTestImage({w, h, QStringLiteral("jpeg"), dpi});
        p.Extension = QStringLiteral("jpeg");
        p.Cx = cx;
        p.Cy = cy;
        return p;
    }

    QString FSource;
};

// --- collections and types --------------------------------------------------------------

TEST_F(ShapeTest, CollectionsHoldTheMainStorysDrawingsWithTheirTypes)
{
    TznDocxBuilder b;
    TznTestPicture pic = Photo(200, 100, 96, kEmuPerInch, kEmuPerInch / 2);
    b.Picture(pic);                                    // inline picture: 3
    TznTestPicture linked = pic; linked.Linked = true;
    b.Picture(linked);                                 // linked: 4
    TznTestPicture chart; chart.Graphic = kChartUri;
    b.Picture(chart);                                  // chart: 12
    TznTestPicture anchored = pic; anchored.Anchored = true;
    b.Picture(anchored);                               // picture shape: 13
    TznTestPicture alternate = anchored; alternate.AlternateContent = true;
    b.Picture(alternate);                              // one shape despite its fallback: 13
    TznTestPicture smartArt; smartArt.Graphic = kDiagramUri; smartArt.Anchored = true;
    b.Picture(smartArt);                               // SmartArt: 24
    TznTestPicture vml = pic; vml.Vml = true;
    b.Picture(vml);                                    // VML picture: 3
    vml.Anchored = true;
    b.Picture(vml);                                    // floating VML picture: 13
    b.HeaderUsingMediaOf(0);                           // header drawings are not in the main story
    const TznVariant doc = OpenBuilt(b);

    const TznVariant inl = Inline(doc);
    ASSERT_EQ(Count(inl), 4);
    EXPECT_EQ(OleGet(Item(inl, 1), QStringLiteral("Type")).ToInt(), 3);
    EXPECT_EQ(OleGet(Item(inl, 2), QStringLiteral("Type")).ToInt(), 4);
    EXPECT_EQ(OleGet(Item(inl, 3), QStringLiteral("Type")).ToInt(), 12);
    EXPECT_EQ(OleGet(Item(inl, 4), QStringLiteral("Type")).ToInt(), 3);
    const TznVariant shapes = Anchored(doc);
    ASSERT_EQ(Count(shapes), 4);
    EXPECT_EQ(OleGet(Item(shapes, 1), QStringLiteral("Type")).ToInt(), 13);
    EXPECT_EQ(OleGet(Item(shapes, 2), QStringLiteral("Type")).ToInt(), 13);
    EXPECT_EQ(OleGet(Item(shapes, 3), QStringLiteral("Type")).ToInt(), 24);
    EXPECT_EQ(OleGet(Item(shapes, 4), QStringLiteral("Type")).ToInt(), 13);
    EXPECT_THROW(Item(shapes, 0), EznError);
    EXPECT_THROW(Item(shapes, 5), EznError);
}

TEST_F(ShapeTest, CollectionsAreLiveAfterDelete)
{
    TznDocxBuilder b;
    for (int i = 0; i < 3; ++i)
        b.Picture(Photo(100 + i, 100, 96, kEmuPerInch, kEmuPerInch));
    const TznVariant doc = OpenBuilt(b);
    const TznVariant inl = Inline(doc);
    const TznVariant second = Item(inl, 2);
    OleCall(Item(inl, 3), QStringLiteral("Delete"));
    EXPECT_EQ(Count(inl), 2);
    EXPECT_THROW(Item(inl, 3), EznError);
    // A shape object keeps naming its own drawing after others went.
    OleCall(second, QStringLiteral("Delete"));
    EXPECT_EQ(Count(inl), 1);
    EXPECT_THROW(OleCall(second, QStringLiteral("Delete")), EznError);
}

// --- scale ------------------------------------------------------------------------------

struct TznScaleRow
{
    const char* Label;
    int Width, Height;
    double Dpi;              // 0: no resolution in the header, read as 96
    int CropL, CropT, CropR, CropB;
    double ShownWidthIn, ShownHeightIn;
    double ScaleWidth, ScaleHeight;
};
void PrintTo(const TznScaleRow& row, std::ostream* os) { *os << row.Label; }


class ScaleTest : public ShapeTest, public ::testing::WithParamInterface<TznScaleRow> {};

TEST_P(ScaleTest, ComparesTheShownSizeWithTheVisiblePartsNaturalSize)
{
    const TznScaleRow& r = GetParam();
    TznTestPicture pic;
    pic.Bytes = MakeTestImage({r.Width, r.Height, QStringLiteral("png"), r.Dpi});
    pic.CropL = r.CropL; pic.CropT = r.CropT; pic.CropR = r.CropR; pic.CropB = r.CropB;
    pic.Cx = qint64(std::llround(r.ShownWidthIn * kEmuPerInch));
    pic.Cy = qint64(std::llround(r.ShownHeightIn * kEmuPerInch));
    TznDocxBuilder b;
    b.Picture(pic);
    const TznVariant shape = Item(Inline(OpenBuilt(b)), 1);
    EXPECT_NEAR(OleGet(shape, QStringLiteral("ScaleWidth")).ToDouble(), r.ScaleWidth, 0.05);
    EXPECT_NEAR(OleGet(shape, QStringLiteral("ScaleHeight")).ToDouble(), r.ScaleHeight, 0.05);
}

INSTANTIATE_TEST_SUITE_P(Pictures, ScaleTest, ::testing::Values(
    TznScaleRow{"NaturalSize", 960, 480, 96, 0, 0, 0, 0, 10, 5, 100, 100},
    TznScaleRow{"HalfWidth", 960, 480, 96, 0, 0, 0, 0, 5, 5, 50, 100},
    TznScaleRow{"AlmostNatural", 960, 480, 96, 0, 0, 0, 0, 9.99, 4.995, 99.9, 99.9},
    TznScaleRow{"OwnResolution", 600, 300, 300, 0, 0, 0, 0, 1, 1, 50, 100},
    TznScaleRow{"NoResolutionIs96", 192, 96, 0, 0, 0, 0, 0, 1, 0.5, 50, 50},
    TznScaleRow{"CroppedHalfWidth", 960, 480, 96, 25000, 0, 25000, 0, 5, 5, 100, 100},
    TznScaleRow{"CroppedTopAndBottom", 960, 480, 96, 0, 10000, 0, 40000, 10, 1, 100, 40}),
    [](const auto& info) { return std::string(info.param.Label); });

TEST_F(ShapeTest, UnreadablePictureHasNoScale)
{
    TznTestPicture pic;
    pic.Bytes = "this is no picture";
    TznDocxBuilder b;
    b.Picture(pic);
    const TznVariant shape = Item(Inline(OpenBuilt(b)), 1);
    EXPECT_EQ(OleGet(shape, QStringLiteral("Type")).ToInt(), 3);
    EXPECT_THROW(OleGet(shape, QStringLiteral("ScaleWidth")), EznError);
}

// --- re-insertion -----------------------------------------------------------------------

TEST_F(ShapeTest, ReinsertedPhotoIsSmallerAndKeepsItsLook)
{
    TznDocxBuilder b;
    b.Paragraph(QStringLiteral("Before"));
    TznTestPicture pic = Photo(2400, 1800, 300, 2 * kEmuPerInch, kEmuPerInch * 3 / 2);
    pic.Name = QStringLiteral("Holiday");
    pic.Descr = QStringLiteral("A beach & \"sea\"");
    pic.Title = QStringLiteral("Title <1>");
    pic.HyperlinkUrl = QStringLiteral("https://example.org/?a=1&b=2");
    b.Picture(pic);
    const TznVariant doc = OpenBuilt(b);
    Reinsert(Item(Inline(doc), 1));
    ASSERT_EQ(Count(Inline(doc)), 1);
    EXPECT_EQ(OleGet(Item(Inline(doc), 1), QStringLiteral("Type")).ToInt(), 3);

    const QString out = SaveCopy(doc);
    EXPECT_LT(QFileInfo(out).size(), QFileInfo(FSource).size());
    const QStringList media = MediaOf(out);
    ASSERT_EQ(media.size(), 1);
    EXPECT_NE(media[0], QStringLiteral("word/media/image1.jpeg")) << "the old media part must go";
    const QString xml = XmlOf(out);
    EXPECT_TRUE(xml.contains(QStringLiteral("name=\"Holiday\"")));
    EXPECT_TRUE(xml.contains(QStringLiteral("descr=\"A beach &amp; &quot;sea&quot;\"")));
    EXPECT_TRUE(xml.contains(QStringLiteral("title=\"Title &lt;1")));
    EXPECT_TRUE(xml.contains(QStringLiteral("hlinkClick")));
    EXPECT_TRUE(xml.contains(QStringLiteral("cx=\"%1\" cy=\"%2\"").arg(2 * kEmuPerInch).arg(kEmuPerInch * 3 / 2)));
    EXPECT_TRUE(xml.contains(QStringLiteral("Before")));
    const QString rels = QString::fromUtf8(ReadZipEntry(out, QStringLiteral("word/_rels/document.xml.rels")));
    EXPECT_TRUE(rels.contains(QStringLiteral("https://example.org/?a=1&amp;b=2")));
    const QString types = QString::fromUtf8(ReadZipEntry(out, QStringLiteral("[Content_Types].xml")));
    EXPECT_TRUE(types.contains(QStringLiteral("Extension=\"") + QFileInfo(media[0]).suffix() + QLatin1Char('"')));

    // The new picture is the visible part at the server's resolution.
    const QImage image = QImage::fromData(ReadZipEntry(out, media[0]));
    EXPECT_EQ(image.width(), 300);
    EXPECT_EQ(image.height(), 225);
    QString err;
    EXPECT_TRUE(PythonDocxOpens(out, &err)) << err.toStdString();
}

TEST_F(ShapeTest, AnchoredPictureStaysAnchoredWithItsFallback)
{
    TznDocxBuilder b;
    TznTestPicture pic = Photo(1600, 1200, 96, 2 * kEmuPerInch, kEmuPerInch * 3 / 2);
    pic.Anchored = true;
    pic.AlternateContent = true;
    b.Picture(pic);
    const TznVariant doc = OpenBuilt(b);
    ASSERT_EQ(Count(Anchored(doc)), 1);
    Reinsert(Item(Anchored(doc), 1));
    EXPECT_EQ(Count(Anchored(doc)), 1);
    EXPECT_EQ(Count(Inline(doc)), 0);
    const QString out = SaveCopy(doc);
    const QString xml = XmlOf(out);
    // Choice and fallback both show the new picture: nothing keeps the old media alive.
    EXPECT_TRUE(xml.contains(QStringLiteral("AlternateContent")));
    EXPECT_TRUE(xml.contains(QStringLiteral("wp:anchor")));
    EXPECT_TRUE(xml.contains(QStringLiteral("imagedata")));
    EXPECT_EQ(MediaOf(out).size(), 1);
    EXPECT_FALSE(MediaOf(out).contains(QStringLiteral("word/media/image1.jpeg")));
    EXPECT_LT(QFileInfo(out).size(), QFileInfo(FSource).size());
    EXPECT_TRUE(PythonDocxOpens(out));
}

TEST_F(ShapeTest, VmlPictureStaysVmlAtItsShownSize)
{
    TznDocxBuilder b;
    TznTestPicture pic = Photo(2000, 1000, 96, kEmuPerInch, kEmuPerInch);
    pic.Vml = true;
    pic.CropL = 25000; pic.CropR = 25000;   // the visible part is 1000 x 1000 pixels, shown at 1 inch
    pic.Descr = QStringLiteral("Old picture");
    b.Picture(pic);
    const TznVariant doc = OpenBuilt(b);
    const TznVariant shape = Item(Inline(doc), 1);
    EXPECT_NEAR(OleGet(shape, QStringLiteral("ScaleWidth")).ToDouble(), 9.6, 0.01);
    EXPECT_NEAR(OleGet(shape, QStringLiteral("ScaleHeight")).ToDouble(), 9.6, 0.01);
    Reinsert(shape);
    const QString out = SaveCopy(doc);
    const QString xml = XmlOf(out);
    EXPECT_TRUE(xml.contains(QStringLiteral("w:pict")));
    EXPECT_TRUE(xml.contains(QStringLiteral("alt=\"Old picture\"")));
    EXPECT_FALSE(xml.contains(QStringLiteral("cropleft")));
    ASSERT_EQ(MediaOf(out).size(), 1);
    const QImage image = QImage::fromData(ReadZipEntry(out, MediaOf(out)[0]));
    EXPECT_EQ(image.width(), 150);
    EXPECT_EQ(image.height(), 150);
    EXPECT_TRUE(PythonDocxOpens(out));
}

TEST_F(ShapeTest, CroppedPictureIsRenderedWithoutItsCrop)
{
    TznDocxBuilder b;
    TznTestPicture pic = Photo(2000, 1000, 96, kEmuPerInch, kEmuPerInch);
    pic.CropL = 25000; pic.CropR = 25000;   // the visible part is 1000 x 1000
    b.Picture(pic);
    const TznVariant doc = OpenBuilt(b);
    Reinsert(Item(Inline(doc), 1));
    const QString out = SaveCopy(doc);
    EXPECT_FALSE(XmlOf(out).contains(QStringLiteral("srcRect")));
    const QImage image = QImage::fromData(ReadZipEntry(out, MediaOf(out).value(0)));
    EXPECT_EQ(image.width(), 150);
    EXPECT_EQ(image.height(), 150);
}

TEST_F(ShapeTest, TransparentPictureStaysTransparent)
{
    TznDocxBuilder b;
    TznTestPicture pic;
    pic.Bytes = MakeTestImage({1200, 1200, QStringLiteral("png"), 96, true});
    pic.Cx = pic.Cy = 2 * kEmuPerInch;
    b.Picture(pic);
    const TznVariant doc = OpenBuilt(b);
    Reinsert(Item(Inline(doc), 1));
    const QString out = SaveCopy(doc);
    const QImage image = QImage::fromData(ReadZipEntry(out, MediaOf(out).value(0)));
    ASSERT_FALSE(image.isNull());
    EXPECT_TRUE(image.hasAlphaChannel());
    EXPECT_EQ(qAlpha(image.pixel(image.width() / 2, image.height() / 2)), 0);
}

TEST_F(ShapeTest, PictureThatWouldGrowGoesBackUnchanged)
{
    // A heavily compressed JPEG shown nearly at its natural size: a new encoding is larger.
    TznDocxBuilder b;
    TznTestPicture pic;
    pic.Bytes = MakeTestImage({400, 300, QStringLiteral("jpeg"), 96, false, true, 5});
    pic.Extension = QStringLiteral("jpeg");
    pic.Cx = qint64(400 / 96.0 * kEmuPerInch * 0.99);
    pic.Cy = qint64(300 / 96.0 * kEmuPerInch * 0.99);
    pic.CropL = 1000;
    b.Picture(pic);
    const TznVariant doc = OpenBuilt(b);
    Reinsert(Item(Inline(doc), 1));
    const QString out = SaveCopy(doc);
    EXPECT_EQ(MediaOf(out), QStringList{QStringLiteral("word/media/image1.jpeg")});
    EXPECT_EQ(ReadZipEntry(out, QStringLiteral("word/media/image1.jpeg")), pic.Bytes);
    EXPECT_TRUE(XmlOf(out).contains(QStringLiteral("<a:srcRect l=\"1000\" t=\"0\" r=\"0\" b=\"0\"/>")));
}

// A re-rendering is worth its place only when it saves a tenth of the picture's bytes;
// otherwise the picture goes back as it was. Screenshots re-rendered a little smaller gain
// colours from the averaging and hardly any bytes.
struct RenderingGainCase
{
    const char* name;
    double across;       // the share of the picture's pixels across that 150 ppi needs as shown
    bool renderingStays; // the new rendering replaces the picture
};

class RenderingGainTest : public ShapeTest, public ::testing::WithParamInterface<RenderingGainCase>
{
};

TEST_P(RenderingGainTest, RenderingStaysOnlyWhereItSavesATenth)
{
    const RenderingGainCase& c = GetParam();
    TznDocxBuilder b;
    TznTestPicture pic;
    pic.Bytes = EncodeWithQt(MakeRibbonImage({1000, 700}, 5), "png");
    pic.Extension = QStringLiteral("png");
    pic.Cx = qint64(1000 * c.across / 150.0 * kEmuPerInch);
    pic.Cy = qint64(700 * c.across / 150.0 * kEmuPerInch);
    b.Picture(pic);
    const TznVariant doc = OpenBuilt(b);
    Reinsert(Item(Inline(doc), 1));
    const QString out = SaveCopy(doc);
    const QStringList media = MediaOf(out);
    ASSERT_EQ(media.size(), 1);
    const QByteArray after = ReadZipEntry(out, media[0]);
    if (c.renderingStays) {
        EXPECT_LE(after.size(), pic.Bytes.size() * 9 / 10);
        EXPECT_LT(QImage::fromData(after).width(), 1000);
    } else {
        EXPECT_EQ(after, pic.Bytes);
    }
}

INSTANTIATE_TEST_SUITE_P(ShownSizes, RenderingGainTest, ::testing::Values(
    RenderingGainCase{"NoSmallerAtNinetyPercent", 0.9, false},
    // About 7 % smaller: not worth the averaged pixels.
    RenderingGainCase{"HardlySmallerAtSeventyPercent", 0.7, false},
    RenderingGainCase{"AThirdSmallerAtSixtyPercent", 0.6, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ShapeTest, UndecodablePictureFailsCopyAndStays)
{
    TznDocxBuilder b;
    TznTestPicture pic;
    pic.Bytes = MakeTestEmf();
    pic.Extension = QStringLiteral("emf");
    pic.Cx = pic.Cy = kEmuPerInch / 4;
    b.Picture(pic);
    b.Picture(Photo(800, 600, 96, kEmuPerInch, kEmuPerInch * 3 / 4));
    const TznVariant doc = OpenBuilt(b);
    OleCall(Item(Inline(doc), 2), QStringLiteral("Select"));
    OleCall(OleGet(FApp, QStringLiteral("Selection")), QStringLiteral("Copy"));
    const TznVariant shape = Item(Inline(doc), 1);
    OleCall(shape, QStringLiteral("Select"));
    EXPECT_THROW(OleCall(OleGet(FApp, QStringLiteral("Selection")), QStringLiteral("Copy")), EznError);
    EXPECT_EQ(Count(Inline(doc)), 2);
    // Nothing stale is left to paste in its place.
    EXPECT_THROW(OleCall(OleGet(FApp, QStringLiteral("Selection")), QStringLiteral("PasteSpecial"), {0, 0, 0, 0, 13}), EznError);
    EXPECT_EQ(Count(Inline(doc)), 2);
    const QString out = SaveCopy(doc);
    EXPECT_EQ(ReadZipEntry(out, QStringLiteral("word/media/image1.emf")), pic.Bytes);
    EXPECT_NO_THROW(Open(out));
}

TEST_F(ShapeTest, SharedMediaStaysUntilItsLastUseGoes)
{
    TznDocxBuilder b;
    const TznTestPicture pic = Photo(1600, 1200, 96, kEmuPerInch, kEmuPerInch * 3 / 4);
    b.Picture(pic);
    TznTestPicture twin = pic;
    twin.SameMediaAs = 0;
    b.Picture(twin);
    const TznVariant doc = OpenBuilt(b);
    Reinsert(Item(Inline(doc), 2));
    QString out = SaveCopy(doc, QStringLiteral("one.docx"));
    EXPECT_TRUE(MediaOf(out).contains(QStringLiteral("word/media/image1.jpeg")));
    Reinsert(Item(Inline(doc), 1));
    out = SaveCopy(doc, QStringLiteral("two.docx"));
    EXPECT_FALSE(MediaOf(out).contains(QStringLiteral("word/media/image1.jpeg")));
    EXPECT_EQ(MediaOf(out).size(), 2);
    EXPECT_TRUE(PythonDocxOpens(out));
}

TEST_F(ShapeTest, SharedMediaIsRenderedForEachShownSize)
{
    // One media part in three places, two of them alike: each size gets its own
    // rendering, the alike places share one media part.
    TznDocxBuilder b;
    const TznTestPicture pic = Photo(1600, 1200, 96, kEmuPerInch * 4, kEmuPerInch * 3);
    b.Picture(pic);
    TznTestPicture smaller = pic;
    smaller.SameMediaAs = 0;
    smaller.Cx = kEmuPerInch * 2;
    smaller.Cy = kEmuPerInch * 3 / 2;
    b.Picture(smaller);
    TznTestPicture again = pic;
    again.SameMediaAs = 0;
    b.Picture(again);
    const TznVariant doc = OpenBuilt(b);
    for (int i = 3; i >= 1; --i)
        Reinsert(Item(Inline(doc), i));
    const QString out = SaveCopy(doc);
    QList<int> widths;
    for (const QString& name : MediaOf(out))
        widths.append(QImage::fromData(ReadZipEntry(out, name)).width());
    std::sort(widths.begin(), widths.end());
    EXPECT_EQ(widths, QList<int>({300, 600}));
    const QString xml = XmlOf(out);
    EXPECT_EQ(xml.count(QStringLiteral("cx=\"%1\"").arg(kEmuPerInch * 4)), 4) << "frames changed size";
}

TEST_F(ShapeTest, MediaUsedByAHeaderStays)
{
    TznDocxBuilder b;
    b.Picture(Photo(1600, 1200, 96, kEmuPerInch, kEmuPerInch * 3 / 4));
    b.HeaderUsingMediaOf(0);
    const TznVariant doc = OpenBuilt(b);
    Reinsert(Item(Inline(doc), 1));
    const QString out = SaveCopy(doc);
    EXPECT_TRUE(MediaOf(out).contains(QStringLiteral("word/media/image1.jpeg")));
    EXPECT_EQ(MediaOf(out).size(), 2);
}

TEST_F(ShapeTest, ClipboardIsSharedByApplications)
{
    TznDocxBuilder b;
    b.Picture(Photo(1600, 1200, 96, kEmuPerInch, kEmuPerInch * 3 / 4));
    const TznVariant source = OpenBuilt(b, QStringLiteral("a.docx"));
    const TznVariant shape = Item(Inline(source), 1);
    OleCall(shape, QStringLiteral("Select"));
    OleCall(OleGet(FApp, QStringLiteral("Selection")), QStringLiteral("Copy"));

    const TznVariant other = CreateAutomationObject(QStringLiteral("Word.Application"));
    const TznVariant target = OleCall(OleGet(other, QStringLiteral("Documents")), QStringLiteral("Add"));
    OleCall(OleGet(other, QStringLiteral("Selection")), QStringLiteral("PasteSpecial"), {0, 0, 0, 0, 13});
    EXPECT_EQ(Count(Inline(target)), 1);
    const QString out = PathOf(QStringLiteral("pasted.docx"));
    OleCall(target, QStringLiteral("SaveAs"), {out});
    EXPECT_EQ(MediaOf(out).size(), 1);
    EXPECT_TRUE(PythonDocxOpens(out));
}

} // namespace

namespace {

TEST_F(ShapeTest, CompactedDocumentLooksLikeItsSource)
{
    LP_SKIP_UNLESS(HasLibreOffice() && !QStandardPaths::findExecutable(QStringLiteral("pdftoppm")).isEmpty())
        << "LibreOffice or pdftoppm is not installed";
    TznDocxBuilder b;
    b.Paragraph(QStringLiteral("A photograph and a transparent drawing, both shown smaller than they are."));
    b.Picture(Photo(2400, 1800, 96, 4 * kEmuPerInch, 3 * kEmuPerInch));
    TznTestPicture drawing;
    drawing.Bytes = MakeTestImage({1200, 800, QStringLiteral("png"), 96, true, false});
    drawing.Cx = 3 * kEmuPerInch;
    drawing.Cy = 2 * kEmuPerInch;
    b.Picture(drawing);
    const TznVariant doc = OpenBuilt(b, QStringLiteral("source.docx"));
    for (int i = Count(Inline(doc)); i >= 1; --i)
        Reinsert(Item(Inline(doc), i));
    const QString out = SaveCopy(doc, QStringLiteral("result.docx"));
    ASSERT_LT(QFileInfo(out).size(), QFileInfo(FSource).size());

    QDir(FDir.path()).mkdir(QStringLiteral("a"));
    QDir(FDir.path()).mkdir(QStringLiteral("b"));
    const QString pdfA = ConvertToPdf(FSource, PathOf(QStringLiteral("a")));
    const QString pdfB = ConvertToPdf(out, PathOf(QStringLiteral("b")));
    ASSERT_FALSE(pdfA.isEmpty());
    ASSERT_FALSE(pdfB.isEmpty());
    const QList<QImage> pagesA = RenderPdfPages(pdfA, PathOf(QStringLiteral("a/page")), 50);
    const QList<QImage> pagesB = RenderPdfPages(pdfB, PathOf(QStringLiteral("b/page")), 50);
    ASSERT_FALSE(pagesA.isEmpty());
    ASSERT_EQ(pagesA.size(), pagesB.size());
    for (int i = 0; i < pagesA.size(); ++i) {
        ASSERT_EQ(pagesA[i].size(), pagesB[i].size());
        const double psnr = PagePsnr(pagesA[i], pagesB[i]);
        RecordProperty("psnr" + std::to_string(i + 1), std::to_string(psnr));
        EXPECT_GE(psnr, 30.0) << "page " << i + 1;
        EXPECT_LT(psnr, 99.0) << "the pages should not be blank copies";
    }
}

} // namespace
