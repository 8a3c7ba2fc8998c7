#include "picture/znPicture.h"
#include "znPictureSamples.h"

#include "znTestBytes.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

QByteArray le16(int v) { return QByteArray(1, char(v)) + QByteArray(1, char(v >> 8)); }
QByteArray le32(qint64 v) { return le16(int(v & 0xFFFF)) + le16(int((v >> 16) & 0xFFFF)); }

// A JPEG XR file: a little-endian IFD with the size and float resolution tags.
QByteArray wdpHeader(int width, int height, float dpi)
{
    quint32 raw;
    memcpy(&raw, &dpi, 4);
    QByteArray b = QByteArray("II\xBC\x01", 4) + le32(8) + le16(4);
    b += le16(0xBC80) + le16(4) + le32(1) + le32(width);
    b += le16(0xBC81) + le16(4) + le32(1) + le32(height);
    b += le16(0xBC82) + le16(11) + le32(1) + le32(raw);
    b += le16(0xBC83) + le16(11) + le32(1) + le32(raw);
    return b + le32(0);
}

QImage plain(QSize size, bool alpha = false)
{
    QImage image(size, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    image.fill(alpha ? QColor(10, 20, 30, 100) : QColor(10, 20, 30));
    return image;
}

struct TznInfoCase {
    const char* Name;
    std::function<QByteArray()> Bytes;
    const char* Format;
    int Width, Height;
    double Dpi;
    bool Vector;
};

class PictureInfoTest : public testing::TestWithParam<TznInfoCase> {};

TEST_P(PictureInfoTest, ReadsTheHeader)
{
    const TznInfoCase c = GetParam();
    const std::optional<TznPictureInfo> info = ReadPictureInfo(c.Bytes());
    ASSERT_TRUE(info);
    EXPECT_EQ(info->Format, c.Format);
    EXPECT_EQ(info->PixelWidth, c.Width);
    EXPECT_EQ(info->PixelHeight, c.Height);
    EXPECT_NEAR(info->DpiX, c.Dpi, 0.5);
    EXPECT_NEAR(info->DpiY, c.Dpi, 0.5);
    EXPECT_EQ(info->Vector, c.Vector);
}

const TznInfoCase InfoCases[] = {
    {"JpegJfifDensity", [] { return EncodeSampleJpeg(plain({64, 48}), {.DensityDpi = 300}); }, "jpeg", 64, 48, 300, false},
    {"JpegAspectOnlyIs96", [] { return EncodeSampleJpeg(plain({64, 48}), {}); }, "jpeg", 64, 48, 96, false},
    {"JpegQuarterTurnSwapsSize",
     [] { return EncodeSampleJpeg(plain({64, 48}), {.Orientation = 6, .DensityDpi = 200}); }, "jpeg", 48, 64, 200, false},
    {"JpegExifDensityBigEndian",
     [] { return EncodeSampleJpeg(plain({64, 48}), {.Orientation = 8, .ExifDpi = 240, .BigEndianExif = true}); },
     "jpeg", 48, 64, 240, false},
    {"JpegJfifDensityWinsOverExif",
     [] { return EncodeSampleJpeg(plain({64, 48}), {.Orientation = 1, .DensityDpi = 300, .ExifDpi = 240}); },
     "jpeg", 64, 48, 300, false},
    {"JpegCmyk", [] { return EncodeSampleJpeg(plain({33, 17}), {.Cmyk = true}); }, "jpeg", 33, 17, 96, false},
    {"JpegFromQtWithDpi", [] { return EncodeWithQt(plain({70, 30}), "jpeg", {.Dpi = 72}); }, "jpeg", 70, 30, 72, false},
    {"PngPhys", [] { return EncodeWithQt(plain({50, 20}), "png", {.Dpi = 144}); }, "png", 50, 20, 144, false},
    {"PngWithoutPhysIs96",
     [] {
         QByteArray b = EncodeWithQt(plain({50, 20}), "png");
         const int at = b.indexOf("pHYs");
         if (at > 0)
             b.replace(at, 4, "tEXt"); // now an ignored text chunk
         return b;
     },
     "png", 50, 20, 96, false},
    {"Bmp", [] { return EncodeWithQt(plain({41, 13}), "bmp", {.Dpi = 120}); }, "bmp", 41, 13, 120, false},
    {"Tiff", [] { return EncodeWithQt(plain({31, 12}), "tiff", {.Dpi = 300}); }, "tiff", 31, 12, 300, false},
    {"TiffRotated",
     [] { return EncodeWithQt(plain({31, 12}), "tiff", {.Dpi = 300, .Transformation = QImageIOHandler::TransformationRotate90}); },
     "tiff", 12, 31, 300, false},
    {"WebpLossy", [] { return EncodeWithQt(plain({45, 25}), "webp", {.Quality = 80}); }, "webp", 45, 25, 96, false},
    {"WebpLossless", [] { return EncodeWithQt(plain({45, 25}), "webp", {.Quality = 100}); }, "webp", 45, 25, 96, false},
    {"WebpWithAlpha", [] { return EncodeWithQt(plain({45, 25}, true), "webp", {.Quality = 80}); }, "webp", 45, 25, 96, false},
    {"Gif", [] { return QByteArray("GIF89a\x20\x01\x10\x00\x80\x00\x00", 13); }, "gif", 288, 16, 96, false},
    {"Emf", [] { return MakeTestEmf(2540 * 2 - 1, 2540); }, "emf", 192, 96, 96, true},
    {"WmfPlaceable",
     [] { return QByteArray("\xD7\xCD\xC6\x9A\0\0", 6) + le16(0) + le16(0) + le16(1440) + le16(720) + le16(1440) + QByteArray(8, '\0'); },
     "wmf", 96, 48, 96, true},
    {"SvgInches", [] { return QByteArray("<?xml version='1.0'?>\n<svg xmlns='http://www.w3.org/2000/svg' width='2in' height='1in'/>"); }, "svg", 192, 96, 96, true},
    {"SvgViewBox", [] { return QByteArray("<svg xmlns='http://www.w3.org/2000/svg' viewBox='0 0 300 150'/>"); }, "svg", 300, 150, 96, true},
    {"Wdp", [] { return wdpHeader(640, 480, 220); }, "wdp", 640, 480, 220, false},
};

INSTANTIATE_TEST_SUITE_P(Formats, PictureInfoTest, testing::ValuesIn(InfoCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(PictureInfoTest, ReportsAlphaFromTheHeader)
{
    EXPECT_TRUE(ReadPictureInfo(EncodeWithQt(plain({8, 8}, true), "png"))->Alpha);
    EXPECT_FALSE(ReadPictureInfo(EncodeWithQt(plain({8, 8}), "png"))->Alpha);
    EXPECT_TRUE(ReadPictureInfo(EncodeWithQt(plain({8, 8}, true), "webp", {.Quality = 100}))->Alpha);
}

TEST(PictureInfoTest, TellsProgressiveJpegs)
{
    EXPECT_TRUE(ReadPictureInfo(EncodeSampleJpeg(plain({16, 16}), {.Progressive = true}))->Progressive);
    EXPECT_FALSE(ReadPictureInfo(EncodeSampleJpeg(plain({16, 16}), {}))->Progressive);
}

TEST(PictureInfoTest, ReadsOrientationOfEveryValue)
{
    for (int o = 1; o <= 8; ++o) {
        const std::optional<TznPictureInfo> info = ReadPictureInfo(EncodeSampleJpeg(plain({30, 20}), {.Orientation = o}));
        ASSERT_TRUE(info);
        EXPECT_EQ(info->Orientation, o);
        EXPECT_EQ(info->PixelWidth, o >= 5 ? 20 : 30) << o;
    }
}

struct TznNotPictureCase { const char* Name; std::function<QByteArray()> Bytes; };

class PictureInfoRefusalTest : public testing::TestWithParam<TznNotPictureCase> {};

TEST_P(PictureInfoRefusalTest, GivesNothing)
{
    EXPECT_FALSE(ReadPictureInfo(GetParam().Bytes()));
}

const TznNotPictureCase NotPictureCases[] = {
    {"Empty", [] { return QByteArray(); }},
    {"Text", [] { return QByteArray("Hello, this is plain text and no picture."); }},
    {"Zip", [] { return QByteArray("PK\x03\x04\x14\0\0\0", 8); }},
    {"XmlButNotSvg", [] { return QByteArray("<?xml version='1.0'?><html><body>svg</body></html>"); }},
    {"JpegSignatureOnly", [] { return QByteArray("\xFF\xD8\xFF\xE0\x00\x10JFIF", 10); }},
    {"PngCutInIhdr", [] { return EncodeWithQt(plain({5, 5}), "png").left(20); }},
    {"PngZeroWidth",
     [] {
         QByteArray b = EncodeWithQt(plain({5, 5}), "png");
         b.replace(16, 4, QByteArray(4, '\0'));
         return b;
     }},
    {"GifCutShort", [] { return QByteArray("GIF89a\x01", 7); }},
    {"TiffWithBrokenIfdOffset", [] { return QByteArray("II*\0\xFF\xFF\xFF\x7F", 8); }},
    {"WebpUnknownChunk", [] { return QByteArray("RIFF\0\0\0\0WEBPABCD") + QByteArray(20, '\0'); }},
};

INSTANTIATE_TEST_SUITE_P(Cases, PictureInfoRefusalTest, testing::ValuesIn(NotPictureCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(PictureInfoTest, SurvivesEveryTruncation)
{
    // Header parsers read only inside the bytes, however they end.
    const QByteArray sources[] = {
        EncodeSampleJpeg(plain({20, 10}), {.Orientation = 3, .DensityDpi = 150}),
        EncodeWithQt(plain({20, 10}), "png", {.Dpi = 150}), EncodeWithQt(plain({20, 10}), "tiff", {.Dpi = 150}),
        EncodeWithQt(plain({20, 10}), "bmp", {.Dpi = 150}), EncodeWithQt(plain({20, 10}), "webp", {.Dpi = 150}), MakeTestEmf(100, 100),
    };
    for (const QByteArray& source : sources) {
        for (qsizetype n = 0; n < std::min<qsizetype>(source.size(), 400); ++n)
            (void)ReadPictureInfo(source.left(n));
    }
    SUCCEED();
}

} // namespace
