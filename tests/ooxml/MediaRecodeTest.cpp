#include "ServerTestUtil.h"
#include "znTestBytes.h"
#include "znPictureSamples.h"

#include <QBuffer>
#include <QProcess>
#include <QRegularExpression>

#include <functional>

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

class TznMediaRecodeTest : public TznServerTest, public ::testing::WithParamInterface<TznRecodeRow>
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

} // namespace
