#include "ServerTestUtil.h"
#include "znTestBytes.h"
#include "znPictureSamples.h"

#include "picture/znPicturePng.h"
#include "picture/znPictureRecode.h"

#include <QBuffer>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <functional>
#include <set>

namespace {

// A JPEG with a comment and an XMP block after its header: blocks nothing displays.
QByteArray withMetadata(const QByteArray& jpeg)
{
    auto segment = [](char marker, const QByteArray& body) {
        const int length = int(body.size()) + 2;
        return QByteArray("\xFF") + marker + char(length >> 8) + char(length & 0xFF) + body;
    };
    const QByteArray filler(20000, 'x');
    return jpeg.left(2) + segment(char(0xFE), "comment " + filler)
         + segment(char(0xE1), "http://ns.adobe.com/xap/1.0/\0" + filler) + jpeg.mid(2);
}

// quality 100 stores a PNG's samples without compression, as some writers do.
QByteArray encoded(const QImage& image, const char* format, int quality = -1)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format, quality);
    return bytes;
}

QImage flatImage()
{
    TznTestImage spec;
    spec.Photo = false;
    return QImage::fromData(MakeTestImage(spec));
}

struct TznRecodeRow
{
    const char* Name;
    std::function<QList<TznTestPicture>()> Pictures;
    bool Lossless;                 // decoded pixels of the first picture stay identical
    QString ResultExtension;       // of the first picture's media after the pass
    bool StoreMedia = false;       // the media entries are stored, not deflated
};

TznTestPicture pictureOf(const QByteArray& bytes, const QString& extension)
{
    TznTestPicture p;
    p.Bytes = bytes;
    p.Extension = extension;
    return p;
}

const TznRecodeRow kRows[] = {
    {"DuplicateMediaStoredOnce",
     [] {
         TznTestImage spec;
         spec.Format = QStringLiteral("jpeg");
         const QByteArray jpeg = MakeTestImage(spec);
         return QList<TznTestPicture>{pictureOf(jpeg, "jpeg"), pictureOf(jpeg, "jpeg")};
     },
     true, "jpeg"},
    {"JpegMetadataDropped",
     [] {
         TznTestImage spec;
         spec.Format = QStringLiteral("jpeg");
         return QList<TznTestPicture>{pictureOf(withMetadata(MakeTestImage(spec)), "jpeg")};
     },
     true, "jpeg"},
    {"FlatPngReencoded", [] { return QList<TznTestPicture>{pictureOf(encoded(flatImage(), "png", 100), "png")}; }, true, "png"},
    {"BmpBecomesPng", [] { return QList<TznTestPicture>{pictureOf(encoded(flatImage(), "bmp"), "bmp")}; }, true, "png"},
    {"TiffBecomesPng", [] { return QList<TznTestPicture>{pictureOf(encoded(flatImage(), "tiff"), "tiff")}; }, true, "png"},
    {"GifBecomesPng", [] { return QList<TznTestPicture>{pictureOf(EncodeWithQt(flatImage(), "gif"), "gif")}; }, true, "png"},
    // Megabytes of samples: the filters are tried on bands of rows.
    {"LargeScreenshotPngReencoded",
     [] { return QList<TznTestPicture>{pictureOf(encoded(MakeScreenshotImage({1600, 1000}, 3), "png", 100), "png")}; },
     true, "png"},
    // Raw samples stay: alpha between 0 and 255, and the colour under alpha 0.
    {"SemiTransparentPngStaysExact",
     [] {
         QImage image(300, 200, QImage::Format_ARGB32);
         for (int y = 0; y < 200; ++y)
             for (int x = 0; x < 300; ++x)
                 image.setPixel(x, y, qRgba((x * 37 + y * 11) & 255, (x * 5) & 255, y & 255, x < 30 ? 0 : (x + y) & 255));
         return QList<TznTestPicture>{pictureOf(encoded(image, "png", 100), "png")};
     },
     true, "png"},
    {"PalettePngKeepsTransparentEntries",
     [] {
         QImage image(300, 200, QImage::Format_Indexed8);
         image.setColorTable({qRgba(255, 0, 0, 0), qRgba(0, 255, 0, 0), qRgba(0, 0, 255, 128), qRgb(9, 9, 9), qRgb(200, 180, 20)});
         for (int y = 0; y < 200; ++y)
             for (int x = 0; x < 300; ++x)
                 image.setPixel(x, y, uint((x / 3 + y / 2) % 5));
         return QList<TznTestPicture>{pictureOf(encoded(image, "png", 100), "png")};
     },
     true, "png"},
    {"PhotographPngBecomesJpeg",
     [] { return QList<TznTestPicture>{pictureOf(encoded(MakePhotographicImage({800, 600}, 4, 2), "png"), "png")}; },
     false, "jpeg"},
    {"StoredEntryDeflated",
     [] {
         TznTestImage spec;
         spec.Format = QStringLiteral("jpeg");
         return QList<TznTestPicture>{pictureOf(MakeTestImage(spec), "jpeg")};
     },
     true, "jpeg", true},
};

class TznRecodeSaveTest : public TznServerTest
{
protected:
    // Saves source under target through the server with the lossless pass on or off.
    void SaveThrough(const QString& source, const QString& target, bool recompress)
    {
        OlePut(OleGet(FApp, QStringLiteral("Options")), QStringLiteral("RecompressMedia"), recompress);
        const TznVariant doc = Open(source);
        OleCall(doc, QStringLiteral("SaveAs"), {target});
        OleCall(doc, QStringLiteral("Close"), {false});
    }
};

class TznMediaRecodeTest : public TznRecodeSaveTest, public ::testing::WithParamInterface<TznRecodeRow>
{
};

// The media part a relationship of the main part names, as a package path.
QString mediaOf(const QString& docx, const QString& relId)
{
    const QString rels = QString::fromUtf8(ReadZipEntry(docx, QStringLiteral("word/_rels/document.xml.rels")));
    const QRegularExpression re(QStringLiteral("<Relationship [^>]*Id=\"%1\"[^>]*Target=\"([^\"]+)\"").arg(relId));
    const QRegularExpression reversed(QStringLiteral("<Relationship [^>]*Target=\"([^\"]+)\"[^>]*Id=\"%1\"").arg(relId));
    QRegularExpressionMatch m = re.match(rels);
    if (!m.hasMatch())
        m = reversed.match(rels);
    return m.hasMatch() ? QStringLiteral("word/") + m.captured(1) : QString();
}

QStringList extentsOf(const QString& docx)
{
    const QString xml = QString::fromUtf8(ReadZipEntry(docx, QStringLiteral("word/document.xml")));
    QStringList extents;
    for (const auto& m : QRegularExpression(QStringLiteral("<wp:extent [^>]*/>")).globalMatch(xml))
        extents << m.captured(0);
    return extents;
}

TEST_P(TznMediaRecodeTest, KeptPictureGetsSmallerAndStaysInPlace)
{
    const TznRecodeRow& row = GetParam();
    TznDocxBuilder b;
    const QList<TznTestPicture> pictures = row.Pictures();
    for (const TznTestPicture& p : pictures)
        b.Picture(p);
    const QString source = PathOf(QStringLiteral("source.docx"));
    ASSERT_TRUE(b.Save(source));
    if (row.StoreMedia) {
        const QString media = QStringLiteral("word/media/image1.") + pictures[0].Extension;
        QDir(FDir.path()).mkpath(QStringLiteral("word/media"));
        QFile f(PathOf(media));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(pictures[0].Bytes);
        f.close();
        ASSERT_EQ(QProcess::execute(QStringLiteral("sh"), {QStringLiteral("-c"),
                  QStringLiteral("cd '%1' && zip -q -0 source.docx %2").arg(FDir.path(), media)}), 0);
    }
    const QString plain = PathOf(QStringLiteral("plain.docx"));
    const QString recoded = PathOf(QStringLiteral("recoded.docx"));
    SaveThrough(source, plain, false);
    SaveThrough(source, recoded, true);

    // Off: the media bytes are those of the source.
    const QString sourceMedia = mediaOf(source, QStringLiteral("rIdP1"));
    ASSERT_FALSE(sourceMedia.isEmpty());
    EXPECT_EQ(ReadZipEntry(plain, mediaOf(plain, QStringLiteral("rIdP1"))), pictures[0].Bytes);

    EXPECT_LT(QFileInfo(recoded).size(), QFileInfo(plain).size());
    EXPECT_EQ(extentsOf(recoded), extentsOf(source));
    QStringList media;
    for (int i = 0; i < pictures.size(); ++i) {
        const QString part = mediaOf(recoded, QStringLiteral("rIdP%1").arg(i + 1));
        ASSERT_FALSE(ReadZipEntry(recoded, part).isEmpty()) << "rIdP" << i + 1 << " names " << part.toStdString();
        media << part;
    }
    EXPECT_TRUE(media[0].endsWith(QLatin1Char('.') + row.ResultExtension)) << media[0].toStdString();
    if (pictures.size() > 1) {
        EXPECT_EQ(media[0], media[1]);
    }
    const QImage before = QImage::fromData(pictures[0].Bytes);
    const QImage after = QImage::fromData(ReadZipEntry(recoded, media[0]));
    ASSERT_FALSE(before.isNull());
    ASSERT_EQ(after.size(), before.size());
    if (row.Lossless) {
        EXPECT_EQ(after.convertToFormat(QImage::Format_ARGB32), before.convertToFormat(QImage::Format_ARGB32));
    }
    for (const TznZipEntry& e : ReadZipEntries(recoded))
        if (e.Name == media[0] && row.StoreMedia) {
            EXPECT_EQ(e.Method, 8);
        }
    QString complaint;
    EXPECT_TRUE(PythonDocxOpens(recoded, &complaint)) << complaint.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Kinds, TznMediaRecodeTest, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.Name); });

// With the lossless pass every entry is deflated again at a strong level where that makes it
// smaller, and copied as it was where it does not; either way its bytes stay what they were.
struct TznDeflateRow
{
    const char* Name;
    const char* Entry;     // the entry zip writes anew into the built document
    const char* ZipLevel;  // as zip writes it: -0 stores, -1 is the fastest deflate
    bool Text;             // compressible text; otherwise random bytes
    bool Smaller;          // the entry takes fewer bytes after the pass
};

const TznDeflateRow kDeflateRows[] = {
    {"MainPartDeflatedFastIsDeflatedAgain", "word/document.xml", "-1", true, true},
    {"StoredPartIsDeflated", "customXml/item1.xml", "-0", true, true},
    {"IncompressiblePartIsCopied", "word/fonts/font1.odttf", "-6", false, false},
};

TEST_F(TznRecodeSaveTest, EntriesAreDeflatedStronglyOnlyWhereSmaller)
{
    const QStringList& words = WriterWords();
    QRandomGenerator random(7);
    TznDocxBuilder b;
    b.Body(WriterParagraphs(4000, 7));
    const QString source = PathOf(QStringLiteral("source.docx"));
    ASSERT_TRUE(b.Save(source));
    for (const TznDeflateRow& row : kDeflateRows) {
        QByteArray bytes;
        if (QLatin1String(row.Entry) == QLatin1String("word/document.xml")) {
            bytes = ReadZipEntry(source, QString::fromLatin1(row.Entry));
        } else if (row.Text) {
            for (int i = 0; i < 3000; ++i)
                bytes += QByteArray("<item n=\"") + QByteArray::number(i) + "\">" + words[i % words.size()].toUtf8() + "</item>";
        } else {
            bytes.resize(300000);
            for (char& c : bytes)
                c = char(random.bounded(256));
        }
        QDir(FDir.path()).mkpath(QFileInfo(PathOf(QString::fromLatin1(row.Entry))).path());
        QFile f(PathOf(QString::fromLatin1(row.Entry)));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        f.close();
        ASSERT_EQ(QProcess::execute(QStringLiteral("sh"), {QStringLiteral("-c"),
                  QStringLiteral("cd '%1' && zip -q %2 source.docx %3").arg(FDir.path(), QLatin1String(row.ZipLevel),
                                                                       QLatin1String(row.Entry))}), 0);
    }
    const QString plain = PathOf(QStringLiteral("plain.docx"));
    const QString recoded = PathOf(QStringLiteral("recoded.docx"));
    SaveThrough(source, plain, false);
    SaveThrough(source, recoded, true);
    QHash<QString, TznZipEntry> before, off, on;
    for (const TznZipEntry& e : ReadZipEntries(source))
        before.insert(e.Name, e);
    for (const TznZipEntry& e : ReadZipEntries(plain))
        off.insert(e.Name, e);
    for (const TznZipEntry& e : ReadZipEntries(recoded))
        on.insert(e.Name, e);
    ASSERT_EQ(on.size(), before.size());
    for (const TznDeflateRow& row : kDeflateRows) {
        SCOPED_TRACE(row.Name);
        const QString name = QString::fromLatin1(row.Entry);
        ASSERT_TRUE(on.contains(name));
        EXPECT_EQ(on[name].Content, before[name].Content);
        EXPECT_EQ(off[name].Raw, before[name].Raw) << "without the pass an entry is copied as it was";
        if (row.Smaller) {
            EXPECT_EQ(on[name].Method, 8);
            EXPECT_LT(on[name].Raw.size(), before[name].Raw.size() * 97 / 100);
        } else {
            EXPECT_EQ(on[name].Raw, before[name].Raw);
            EXPECT_EQ(on[name].Method, before[name].Method);
        }
    }
    QString complaint;
    EXPECT_TRUE(PythonDocxOpens(recoded, &complaint)) << complaint.toStdString();
}


// The package's preview gets the lossless pass like the media: smaller, the same pixels.
TEST_F(TznRecodeSaveTest, ThumbnailGetsSmallerWithTheSamePixels)
{
    TznDocxBuilder b;
    b.Paragraph(QStringLiteral("A document with a preview."));
    const QString built = PathOf(QStringLiteral("built.docx"));
    ASSERT_TRUE(b.Save(built));
    TznTestImage spec;
    spec.Format = QStringLiteral("jpeg");
    const QByteArray thumbnail = withMetadata(MakeTestImage(spec));
    QList<QPair<QString, QByteArray>> entries;
    for (const TznZipEntry& e : ReadZipEntries(built)) {
        QByteArray content = e.Content;
        if (e.Name == QLatin1String("_rels/.rels"))
            content.replace("</Relationships>", "<Relationship Id=\"rIdThumb\" Type=\"http://schemas.openxmlformats.org/"
                                                "package/2006/relationships/metadata/thumbnail\" Target=\"docProps/thumbnail.jpeg\"/>"
                                                "</Relationships>");
        if (e.Name == QLatin1String("[Content_Types].xml") && !content.contains("Extension=\"jpeg\""))
            content.replace("<Default ", "<Default Extension=\"jpeg\" ContentType=\"image/jpeg\"/><Default ");
        entries.append({e.Name, content});
    }
    entries.append({QStringLiteral("docProps/thumbnail.jpeg"), thumbnail});
    const QString source = PathOf(QStringLiteral("source.docx"));
    ASSERT_TRUE(WriteZip(source, entries));
    const QString recoded = PathOf(QStringLiteral("recoded.docx"));
    SaveThrough(source, recoded, true);
    const QByteArray after = ReadZipEntry(recoded, QStringLiteral("docProps/thumbnail.jpeg"));
    ASSERT_FALSE(after.isEmpty());
    EXPECT_LT(after.size(), thumbnail.size() - 20000) << "the metadata blocks go";
    EXPECT_EQ(QImage::fromData(after).convertToFormat(QImage::Format_ARGB32),
              QImage::fromData(thumbnail).convertToFormat(QImage::Format_ARGB32));
    EXPECT_TRUE(QString::fromUtf8(ReadZipEntry(recoded, QStringLiteral("_rels/.rels"))).contains(QStringLiteral("docProps/thumbnail.jpeg")));
}

// Every layout the PNG encoder writes (grey, grey and alpha, RGB, RGBA, palettes of 1 to 8 bits)
// decodes to the samples it was given: rows that are smooth, noisy and flat in turn make the
// row-by-row choice use every filter, and odd widths leave part of a packed row's last byte.
struct TznPngLayoutRow
{
    const char* Name;
    std::function<QRgb(int x, int y, quint32 noise)> Pixel;
    std::set<int> ColourTypes;  // IHDR colour types the encoder may choose
    int BitDepth;               // 0: any
};

const TznPngLayoutRow kPngLayoutRows[] = {
    {"GreyPhotograph", [](int x, int y, quint32 n) { const int v = (x * 3 + y * 2 + int(n % 9)) & 255; return qRgb(v, v, v); },
     {0, 3}, 8},
    {"GreyWithAlpha", [](int x, int y, quint32 n) { const int v = (x * 5 + int(n % 7)) & 255; return qRgba(v, v, v, (y * 9 + int(n % 5)) & 255); },
     {4}, 8},
    {"Rgb", [](int x, int y, quint32 n) { return qRgb((x * 3 + int(n % 11)) & 255, (y * 4) & 255, (x * y + int(n % 3)) & 255); }, {2}, 8},
    {"RgbaWithColourUnderClearPixels",
     [](int x, int y, quint32 n) { return qRgba((x * 7) & 255, int(n % 251), (y * 3) & 255, x % 13 == 0 ? 0 : (x + y) & 255); }, {6}, 8},
    {"TwoColours", [](int x, int y, quint32 n) { return (x / 3 + y + int(n % 2)) % 2 ? qRgb(200, 30, 30) : qRgb(20, 40, 220); }, {3}, 1},
    {"FourColoursOneClear",
     [](int x, int y, quint32 n) {
         const QRgb c[] = {qRgba(255, 0, 0, 0), qRgb(0, 160, 0), qRgb(0, 0, 255), qRgb(250, 250, 10)};
         return c[(x / 4 + y / 3 + int(n % 3 == 0)) % 4];
     },
     {3}, 2},
    {"TwelveColours",
     [](int x, int y, quint32 n) {
         const int k = (x / 5 + y / 2 + int(n % 3)) % 12;
         return qRgb(20 * k, 100, 255 - 10 * k);
     },
     {3}, 4},
    {"TwoHundredColours", [](int x, int y, quint32 n) { return qRgb(int(n % 200), 255 - int(n % 200) / 2, 7); }, {3}, 8},
};

TEST(TznSmallestPngTest, EveryLayoutDecodesToTheSamePixels)
{
    for (const TznPngLayoutRow& row : kPngLayoutRows) {
        SCOPED_TRACE(row.Name);
        QImage image(61, 47, QImage::Format_ARGB32);
        quint32 noise = 12345;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                noise = noise * 1103515245u + 12345u;
                // Bands of four rows: smooth, noisy, flat.
                const int band = (y / 4) % 3;
                const quint32 n = band == 0 ? 0 : band == 1 ? (noise >> 16) : quint32(x);
                image.setPixel(x, y, row.Pixel(x, y, n));
            }
        const QByteArray png = EncodeSmallestPng(image);
        ASSERT_GT(png.size(), 26);
        EXPECT_TRUE(row.ColourTypes.count(quint8(png[25]))) << "colour type " << int(quint8(png[25]));
        if (row.BitDepth) {
            EXPECT_EQ(quint8(png[24]), row.BitDepth);
        }
        const QImage back = QImage::fromData(png, "png");
        ASSERT_FALSE(back.isNull());
        EXPECT_EQ(back.convertToFormat(QImage::Format_ARGB32), image);
    }
}

// The check that stands between a re-coded picture and the document: one differing sample, in
// any format, makes two pictures differ; the byte RGB32 leaves unused does not.
TEST(TznSmallestPngTest, SamePixelsSeesEverySample)
{
    QImage base(37, 5, QImage::Format_ARGB32);
    for (int y = 0; y < base.height(); ++y)
        for (int x = 0; x < base.width(); ++x)
            base.setPixel(x, y, qRgba(x * 7, y * 40, 99, x == 3 ? 0 : 255));
    const auto changed = [&](QImage::Format format, int x, QRgb to) {
        QImage image = base.convertToFormat(format);
        image.setPixel(x, 2, to);
        return image;
    };
    QImage rgbWithJunkAlpha = base.convertToFormat(QImage::Format_RGB32);
    reinterpret_cast<QRgb*>(rgbWithJunkAlpha.scanLine(1))[5] &= 0x00FFFFFFu;
    const struct
    {
        const char* Name;
        QImage Decoded, Other;
        bool Same;
    } rows[] = {
        {"Itself", base, base, true},
        {"AnotherFormatSameSamples", base, base.convertToFormat(QImage::Format_RGBA8888), true},
        {"OneSampleOff", base, changed(QImage::Format_ARGB32, 36, qRgba(0, 0, 0, 255)), false},
        {"ColourUnderClearPixel", base, changed(QImage::Format_ARGB32, 3, qRgba(1, 2, 3, 0)), false},
        {"RgbUnusedByteIgnored", base.convertToFormat(QImage::Format_RGB32), rgbWithJunkAlpha, true},
        {"RgbOneSampleOff", base.convertToFormat(QImage::Format_RGB32), changed(QImage::Format_RGB32, 0, qRgb(1, 1, 1)), false},
        {"GreyOneSampleOff", base.convertToFormat(QImage::Format_Grayscale8),
         changed(QImage::Format_Grayscale8, 20, qRgb(255, 255, 255)), false},
        {"OtherSize", base, base.copy(0, 0, 36, 5), false},
    };
    for (const auto& row : rows)
        EXPECT_EQ(SamePixels(row.Decoded, row.Other), row.Same) << row.Name;
}

} // namespace
