#include "picture/znPicture.h"
#include "picture/znPictureJpeg.h"
#include "picture/znPicturePng.h"
#include "znPictureSamples.h"
#include "platform/znError.h"
#include "znTestBytes.h"

#include <QColorSpace>
#include <QFile>
#include <QPainter>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

namespace {

constexpr qint64 EmuPerPixelAt96 = 9525;

QImage decode(const QByteArray& bytes)
{
    QImage image = QImage::fromData(bytes);
    EXPECT_FALSE(image.isNull());
    return image;
}

// Peak signal-to-noise ratio over the four channels of two images of one size (straight colours).
double psnr(const QImage& a, const QImage& b)
{
    const QImage x = a.convertToFormat(QImage::Format_ARGB32), y = b.convertToFormat(QImage::Format_ARGB32);
    if (x.size() != y.size())
        return 0;
    double sum = 0;
    for (int row = 0; row < x.height(); ++row) {
        for (int col = 0; col < x.width(); ++col) {
            const QRgb p = x.pixel(col, row), q = y.pixel(col, row);
            const int d[4] = {qRed(p) - qRed(q), qGreen(p) - qGreen(q), qBlue(p) - qBlue(q), qAlpha(p) - qAlpha(q)};
            for (int v : d)
                sum += v * v;
        }
    }
    const double mse = sum / (4.0 * x.width() * x.height());
    return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

TznRendered renderAt96(const QByteArray& bytes, int width, int height, TznCrop crop = {}, int pasteType = 13)
{
    TznRenderRequest request;
    request.Bytes = bytes;
    request.Crop = crop;
    request.ShownCx = width * EmuPerPixelAt96;
    request.ShownCy = height * EmuPerPixelAt96;
    request.Resolution = 96;
    request.Quality = 95;
    request.PasteType = pasteType;
    return RenderPicture(request);
}

// A smooth picture with an alpha ramp, so averaging and alpha both show.
QImage smoothImage(QSize size, bool alpha)
{
    QImage image(size, QImage::Format_ARGB32);
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x) {
            const int a = alpha ? 40 + 215 * x / size.width() : 255;
            image.setPixel(x, y, qRgba(255 * x / size.width(), 255 * y / size.height(), 128 + 100 * (x > y) - 50, a));
        }
    }
    return image;
}

// --- Orientation and crop -------------------------------------------------

const QRgb QuadrantColours[4] = {qRgb(220, 30, 30), qRgb(30, 200, 40), qRgb(40, 60, 220), qRgb(240, 220, 40)};

// The picture as it should look: four coloured quadrants, wider than high.
QImage displayedQuadrants(QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            image.setPixel(x, y, QuadrantColours[(y >= size.height() / 2) * 2 + (x >= size.width() / 2)]);
    return image;
}

// The stored pixels that show as displayed under an EXIF orientation: stored (x, y) appears at
// the displayed position given by the orientation's definition.
QImage storedFor(const QImage& displayed, int orientation)
{
    const int dw = displayed.width(), dh = displayed.height();
    const bool turn = orientation >= 5;
    const int sw = turn ? dh : dw, sh = turn ? dw : dh;
    QImage stored(sw, sh, QImage::Format_RGB32);
    for (int y = 0; y < sh; ++y) {
        for (int x = 0; x < sw; ++x) {
            int u = x, v = y;
            switch (orientation) {
            case 2: u = sw - 1 - x; break;
            case 3: u = sw - 1 - x; v = sh - 1 - y; break;
            case 4: v = sh - 1 - y; break;
            case 5: u = y; v = x; break;
            case 6: u = sh - 1 - y; v = x; break;
            case 7: u = sh - 1 - y; v = sw - 1 - x; break;
            case 8: u = y; v = sw - 1 - x; break;
            }
            stored.setPixel(x, y, displayed.pixel(u, v));
        }
    }
    return stored;
}

bool near(QRgb a, QRgb b, int tolerance = 24)
{
    return std::abs(qRed(a) - qRed(b)) <= tolerance && std::abs(qGreen(a) - qGreen(b)) <= tolerance
           && std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}

struct TznOrientationCase { int Orientation; bool CropLeftHalf; };

class PictureOrientationTest : public testing::TestWithParam<TznOrientationCase> {};

TEST_P(PictureOrientationTest, ShowsAsDisplayed)
{
    const TznOrientationCase c = GetParam();
    const QImage displayed = displayedQuadrants(QSize(160, 96));
    TznJpegOptions options;
    options.Orientation = c.Orientation;
    options.Quality = 95;
    const QByteArray jpeg = EncodeSampleJpeg(storedFor(displayed, c.Orientation), options);

    const std::optional<TznPictureInfo> info = ReadPictureInfo(jpeg);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->PixelWidth, 160);
    EXPECT_EQ(info->PixelHeight, 96);

    TznCrop crop;
    if (c.CropLeftHalf)
        crop.Left = 0.5;
    const int shownWidth = c.CropLeftHalf ? 40 : 80;
    const TznRendered rendered = renderAt96(jpeg, shownWidth, 48, crop);
    ASSERT_EQ(rendered.PixelWidth, shownWidth);
    ASSERT_EQ(rendered.PixelHeight, 48);
    const QImage out = decode(rendered.Bytes);
    const QRgb topLeft = out.pixel(shownWidth / 4, 12), bottomRight = out.pixel(shownWidth * 3 / 4, 36);
    if (c.CropLeftHalf) {
        EXPECT_TRUE(near(topLeft, QuadrantColours[1])) << std::hex << topLeft;
        EXPECT_TRUE(near(bottomRight, QuadrantColours[3])) << std::hex << bottomRight;
    } else {
        EXPECT_TRUE(near(topLeft, QuadrantColours[0])) << std::hex << topLeft;
        EXPECT_TRUE(near(out.pixel(60, 12), QuadrantColours[1]));
        EXPECT_TRUE(near(out.pixel(20, 36), QuadrantColours[2]));
        EXPECT_TRUE(near(bottomRight, QuadrantColours[3])) << std::hex << bottomRight;
    }
}

std::vector<TznOrientationCase> orientationCases()
{
    std::vector<TznOrientationCase> cases;
    for (int o = 1; o <= 8; ++o) {
        cases.push_back({o, false});
        cases.push_back({o, true});
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(AllEight, PictureOrientationTest, testing::ValuesIn(orientationCases()),
                         [](const auto& info) {
                             return "Orientation" + std::to_string(info.param.Orientation)
                                    + (info.param.CropLeftHalf ? "CropLeft" : "Whole");
                         });

// --- Faithful decoding -----------------------------------------------------

struct TznFaithfulCase {
    const char* Name;
    std::function<QByteArray(const QImage&)> Encode;
    bool Alpha;           // the reference keeps its alpha ramp
    bool GreyReference;   // compare against the grey version of the reference
    double MinPsnr;
};

QImage greyOf(const QImage& image)
{
    QImage grey = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < grey.height(); ++y)
        for (int x = 0; x < grey.width(); ++x) {
            const QRgb p = grey.pixel(x, y);
            const int g = qGray(p);
            grey.setPixel(x, y, qRgba(g, g, g, qAlpha(p)));
        }
    return grey;
}

// A PNG written by hand, for layouts Qt does not write (grey with alpha, 16 bits per sample).
QByteArray handPng(const QImage& image, int colourType, int bitDepth)
{
    static const auto crcTable = [] {
        std::vector<quint32> table(256);
        for (quint32 n = 0; n < 256; ++n) {
            quint32 c = n;
            for (int k = 0; k < 8; ++k)
                c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            table[n] = c;
        }
        return table;
    }();
    auto be32 = [](quint32 v) {
        const char b[4] = {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
        return QByteArray(b, 4);
    };
    auto chunk = [&](const char* type, const QByteArray& data) {
        QByteArray body = QByteArray(type, 4) + data;
        quint32 crc = 0xFFFFFFFFu;
        for (char ch : body)
            crc = crcTable[(crc ^ quint8(ch)) & 0xFF] ^ (crc >> 8);
        return be32(quint32(data.size())) + body + be32(crc ^ 0xFFFFFFFFu);
    };
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    QByteArray raw;
    for (int y = 0; y < argb.height(); ++y) {
        raw.append('\0');
        for (int x = 0; x < argb.width(); ++x) {
            const QRgb p = argb.pixel(x, y);
            QList<int> samples;
            if (colourType == 4)
                samples = {qGray(p), qAlpha(p)};
            else
                samples = {qRed(p), qGreen(p), qBlue(p), qAlpha(p)};
            for (int s : samples) {
                raw.append(char(s));
                if (bitDepth == 16)
                    raw.append(char((s * 37) & 0xFF)); // low byte: noise below 8-bit precision
            }
        }
    }
    QByteArray ihdr = be32(quint32(argb.width())) + be32(quint32(argb.height()));
    ihdr.append(char(bitDepth));
    ihdr.append(char(colourType));
    ihdr.append(QByteArray(3, '\0'));
    return QByteArray("\x89PNG\r\n\x1A\n", 8) + chunk("IHDR", ihdr) + chunk("IDAT", qCompress(raw).mid(4))
           + chunk("IEND", {});
}

class PictureFaithfulTest : public testing::TestWithParam<TznFaithfulCase> {};

TEST_P(PictureFaithfulTest, LooksAsItDid)
{
    const TznFaithfulCase c = GetParam();
    const QImage original = smoothImage(QSize(240, 180), c.Alpha);
    const QByteArray bytes = c.Encode(original);
    const TznRendered rendered = renderAt96(bytes, 120, 90);
    ASSERT_EQ(rendered.PixelWidth, 120);
    ASSERT_EQ(rendered.PixelHeight, 90);
    QImage reference = original.scaled(120, 90, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    if (c.GreyReference)
        reference = greyOf(reference);
    const QImage out = decode(rendered.Bytes);
    EXPECT_EQ(out.hasAlphaChannel(), c.Alpha) << rendered.Extension.toStdString();
    EXPECT_GE(psnr(out, reference), c.MinPsnr);
}

const TznFaithfulCase FaithfulCases[] = {
    {"RgbJpeg", [](const QImage& i) { return EncodeSampleJpeg(i, {}); }, false, false, 30},
    {"GreyJpeg", [](const QImage& i) { TznJpegOptions o; o.Grey = true; return EncodeSampleJpeg(i, o); }, false, true, 30},
    {"CmykJpeg", [](const QImage& i) { TznJpegOptions o; o.Cmyk = true; return EncodeSampleJpeg(i, o); }, false, false, 28},
    {"InvertedCmykJpeg",
     [](const QImage& i) { TznJpegOptions o; o.Cmyk = true; o.AdobeInverted = true; return EncodeSampleJpeg(i, o); },
     false, false, 28},
    {"ProgressiveJpeg", [](const QImage& i) { TznJpegOptions o; o.Progressive = true; return EncodeSampleJpeg(i, o); },
     false, false, 30},
    {"RgbaPng", [](const QImage& i) { return EncodeWithQt(i, "png"); }, true, false, 35},
    {"Rgba16Png", [](const QImage& i) { return handPng(i, 6, 16); }, true, false, 35},
    {"Rgb16PngFromQt", [](const QImage& i) { return EncodeWithQt(i.convertToFormat(QImage::Format_RGBX64), "png"); },
     false, false, 35},
    {"GreyAlphaPng", [](const QImage& i) { return handPng(i, 4, 8); }, true, true, 35},
    {"PalettePng",
     [](const QImage& i) { return EncodeWithQt(i.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither), "png"); },
     false, false, 24},
    {"Bmp", [](const QImage& i) { return EncodeWithQt(i.convertToFormat(QImage::Format_RGB32), "bmp"); }, false, false, 35},
    {"Tiff", [](const QImage& i) { return EncodeWithQt(i, "tiff"); }, true, false, 35},
    {"WebpLossless", [](const QImage& i) { return EncodeWithQt(i, "webp", {.Quality = 100}); }, true, false, 35},
};

INSTANTIATE_TEST_SUITE_P(Formats, PictureFaithfulTest, testing::ValuesIn(FaithfulCases),
                         [](const auto& info) { return std::string(info.param.Name); });

// --- Progressive JPEGs -------------------------------------------------------

// A progressive JPEG's coefficients wait in packed arrays until its last scan is in. The pixels must
// come out as libjpeg gives them with its own whole-image arrays: at each DCT scale, for each
// sampling, for blocks too dense to pack, and for pictures whose later scans never came (libjpeg
// then smooths the blocks, reading the rows around each one).
struct TznProgressiveCase {
    const char* Name;
    QSize Size;
    int Noise;
    TznJpegOptions Options;
    int Scans;   // scans kept, 0 for all
    int Eighths; // the DCT scale the rendering takes
};

class PictureProgressiveTest : public testing::TestWithParam<TznProgressiveCase> {};

TEST_P(PictureProgressiveTest, DecodesAsLibjpegAlone)
{
    const TznProgressiveCase c = GetParam();
    QByteArray bytes = EncodeSampleJpeg(MakePhotographicImage(c.Size, 11, c.Noise), c.Options);
    if (c.Scans > 0)
        bytes = KeepFirstJpegScans(bytes, c.Scans);
    const QImage expected = DecodeSampleJpeg(bytes, c.Eighths);
    ASSERT_FALSE(expected.isNull());
    const QImage actual = DecodeJpegRegion(bytes, QRectF(QPointF(0, 0), QSizeF(c.Size)), expected.size());
    ASSERT_EQ(actual.size(), expected.size());
    ASSERT_EQ(actual.format(), expected.format());
    int differentRows = 0;
    for (int y = 0; y < actual.height(); ++y)
        differentRows += memcmp(actual.constScanLine(y), expected.constScanLine(y), size_t(actual.bytesPerLine())) != 0;
    EXPECT_EQ(differentRows, 0);
}

const TznProgressiveCase ProgressiveCases[] = {
    {"Subsampled420AtOneEighth", {1200, 896}, 12, {.Quality = 85, .Progressive = true}, 0, 1},
    {"Full444AtThreeEighths", {1200, 896}, 12, {.Quality = 85, .Progressive = true, .LumaSampling = {1, 1}}, 0, 3},
    {"Horizontal422AtFullSize", {640, 480}, 12, {.Quality = 90, .Progressive = true, .LumaSampling = {2, 1}}, 0, 8},
    {"Vertical440AtFiveEighths", {1000, 776}, 12, {.Quality = 90, .Progressive = true, .LumaSampling = {1, 2}}, 0, 5},
    {"OddSizeAtFullSize", {1001, 777}, 12, {.Quality = 90, .Progressive = true}, 0, 8},
    {"GreyAtQuarter", {1200, 896}, 12, {.Quality = 85, .Grey = true, .Progressive = true}, 0, 2},
    {"DenseNoiseLeftUnpacked", {640, 480}, 127, {.Quality = 100, .Progressive = true, .LumaSampling = {1, 1}}, 0, 8},
    {"CoarseScansOnlySmoothed", {1200, 896}, 12, {.Quality = 85, .Progressive = true}, 3, 8},
    {"CoarseScansOnlyAtHalf", {1000, 776}, 12, {.Quality = 85, .Progressive = true}, 5, 4},
    {"BaselineInOnePass", {1200, 896}, 12, {.Quality = 85}, 0, 1},
};

INSTANTIATE_TEST_SUITE_P(Cases, PictureProgressiveTest, testing::ValuesIn(ProgressiveCases),
                         [](const auto& info) { return std::string(info.param.Name); });

// A field of this process's /proc/self/status in kilobytes ("VmRSS:", "VmHWM:"), 0 when unknown.
qint64 statusKilobytes(const QByteArray& field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(field.size()).trimmed().split(' ').front().toLongLong();
    }
    return 0;
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool MeasuresResidentMemory = false; // the sanitizer keeps freed memory resident
#else
constexpr bool MeasuresResidentMemory = true;
#endif

TEST(PictureRenderTest, ProgressiveJpegTakesLessThanItsWholeCoefficients)
{
    // 3000 x 3000 in 4:4:4: libjpeg's own arrays take 54 MB whatever the output size.
    const QByteArray bytes = EncodeSampleJpeg(MakePhotographicImage({3000, 3000}, 4, 3),
                                              {.Quality = 85, .Progressive = true, .LumaSampling = {1, 1}});
    const qint64 wholeKilobytes = qint64(3000) * 3000 * 3 * 2 / 1024; // 2 bytes a coefficient
    // Writing 5 resets the peak to what is resident now. Memory that earlier tests of the same process
    // freed can hide growth, never add to it: the test is exact when run alone, as CTest runs it.
    QFile reset(QStringLiteral("/proc/self/clear_refs"));
    const bool peakReset = reset.open(QIODevice::WriteOnly) && reset.write("5") == 1;
    reset.close();
    const qint64 before = statusKilobytes(peakReset ? "VmRSS:" : "VmHWM:");
    const QImage out = DecodeJpegRegion(bytes, QRectF(0, 0, 3000, 3000), QSize(300, 300));
    const qint64 grown = statusKilobytes("VmHWM:") - before;
    ASSERT_EQ(out.size(), QSize(300, 300));
    ASSERT_GT(before, 0) << "no /proc/self/status";
    if (MeasuresResidentMemory) {
        EXPECT_LT(grown, wholeKilobytes / 3) << "the whole coefficients take " << wholeKilobytes << " kB";
    }
}

// --- Resampling -------------------------------------------------------------

TEST(PictureRenderTest, AveragesAreasInsteadOfPickingPixels)
{
    // One-pixel black and white stripes average to mid grey; picking pixels would give black or white.
    QImage stripes(400, 300, QImage::Format_RGB32);
    for (int y = 0; y < 300; ++y)
        for (int x = 0; x < 400; ++x)
            stripes.setPixel(x, y, (x + y) % 2 ? qRgb(255, 255, 255) : qRgb(0, 0, 0));
    for (const QByteArray& bytes : {EncodeWithQt(stripes, "png"), EncodeSampleJpeg(stripes, {.Quality = 100})}) {
        const QImage out = decode(renderAt96(bytes, 37, 29, {}, eznPastePng).Bytes).convertToFormat(QImage::Format_RGB32);
        ASSERT_EQ(out.size(), QSize(37, 29));
        for (int y = 0; y < out.height(); ++y)
            for (int x = 0; x < out.width(); ++x)
                ASSERT_NEAR(qGray(out.pixel(x, y)), 128, 10) << x << "," << y;
    }
}

TEST(PictureRenderTest, TransparentPixelsDoNotBleedTheirColour)
{
    // Opaque red beside transparent green: the average is red at half alpha, never brownish.
    QImage image(100, 100, QImage::Format_ARGB32);
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 100; ++x)
            image.setPixel(x, y, x % 2 ? qRgba(255, 0, 0, 255) : qRgba(0, 255, 0, 0));
    const TznRendered rendered = renderAt96(EncodeWithQt(image, "png"), 10, 10);
    EXPECT_EQ(rendered.Extension, "png");
    const QRgb p = decode(rendered.Bytes).convertToFormat(QImage::Format_ARGB32).pixel(5, 5);
    EXPECT_NEAR(qAlpha(p), 128, 3);
    EXPECT_GE(qRed(p), 250);
    EXPECT_LE(qGreen(p), 5);
}

struct TznSizeCase {
    const char* Name;
    QSize Pixels;
    TznCrop Crop;
    qint64 ShownCx, ShownCy;
    int Resolution;
    QSize Expected;
};

class PictureSizeTest : public testing::TestWithParam<TznSizeCase> {};

TEST_P(PictureSizeTest, RendersShownSizeWithoutEnlarging)
{
    const TznSizeCase c = GetParam();
    TznRenderRequest request;
    request.Bytes = EncodeSampleJpeg(MakePhotographicImage(c.Pixels, 3), {});
    request.Crop = c.Crop;
    request.ShownCx = c.ShownCx;
    request.ShownCy = c.ShownCy;
    request.Resolution = c.Resolution;
    const TznRendered rendered = RenderPicture(request);
    EXPECT_EQ(QSize(rendered.PixelWidth, rendered.PixelHeight), c.Expected);
    EXPECT_EQ(decode(rendered.Bytes).size(), c.Expected);
    // The result's resolution makes it its shown size, never larger, so it does not count as reduced.
    const std::optional<TznPictureInfo> info = ReadPictureInfo(rendered.Bytes);
    ASSERT_TRUE(info);
    const double naturalCx = c.Expected.width() / info->DpiX * 914400, naturalCy = c.Expected.height() / info->DpiY * 914400;
    EXPECT_LE(naturalCx, c.ShownCx + 1);
    EXPECT_LE(naturalCy, c.ShownCy + 1);
    EXPECT_GT(naturalCx, c.ShownCx * 0.98);
    EXPECT_GT(naturalCy, c.ShownCy * 0.98);
}

const TznSizeCase SizeCases[] = {
    {"FourByThreeInchesAt150", {1600, 1200}, {}, 4 * 914400, 3 * 914400, 150, {600, 450}},
    {"EnlargedAxisKeptAlone", {1000, 200}, {}, 4 * 914400, 3 * 914400, 150, {600, 200}},
    {"FractionalResolutionRoundsUp", {1000, 208}, {}, 4 * 914400, 3 * 914400, 150, {600, 208}},
    {"CropCountsAgainstPixels", {1000, 800}, {0.25, 0, 0.25, 0.5}, 4 * 914400, 4 * 914400, 150, {500, 400}},
    {"CroppedAndReduced", {2000, 1000}, {0.1, 0.2, 0.1, 0.2}, 2 * 914400, 914400, 100, {200, 100}},
    {"ResolutionFollowed", {2000, 2000}, {}, 2 * 914400, 2 * 914400, 300, {600, 600}},
};

INSTANTIATE_TEST_SUITE_P(Cases, PictureSizeTest, testing::ValuesIn(SizeCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(PictureRenderTest, NegativeCropBecomesTransparentMargin)
{
    // The picture fills the right half of its frame.
    const QByteArray jpeg = EncodeSampleJpeg(displayedQuadrants(QSize(100, 100)), {});
    const TznRendered rendered = renderAt96(jpeg, 100, 50, {-1, 0, 0, 0});
    EXPECT_EQ(rendered.Extension, "png");
    const QImage out = decode(rendered.Bytes).convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(out.size(), QSize(100, 50));
    EXPECT_EQ(qAlpha(out.pixel(20, 25)), 0);
    EXPECT_EQ(qAlpha(out.pixel(75, 25)), 255);
    EXPECT_TRUE(near(out.pixel(60, 10), QuadrantColours[0]));
}

// --- Choice of encoding -----------------------------------------------------

struct TznEncodingCase {
    const char* Name;
    std::function<QByteArray()> Bytes;
    int PasteType;
    const char* Extension;
    int PngColourType;    // -1 when not PNG
    bool Compressible = true;
    QSize Shown = {200, 150};
};

QImage antialiasedDrawing()
{
    QImage image(400, 300, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    for (int i = 0; i < 40; ++i) {
        painter.setPen(QPen(QColor::fromHsv(i * 9, 200, 200), 1.5));
        painter.drawEllipse(QPointF(200, 150), 10.0 + i * 3.3, 8.0 + i * 2.7);
    }
    return image;
}

// A logo scanned once: saturated blue with fine yellow strokes a pixel wide, speckled so
// that it has many colours and few runs of equal pixels.
QImage speckledLogo()
{
    QImage image(200, 150, QImage::Format_RGB32);
    quint32 noise = 12345;
    for (int y = 0; y < 150; ++y)
        for (int x = 0; x < 200; ++x) {
            noise = noise * 1103515245u + 12345u;
            const int n = int((noise >> 16) % 13) - 6, m = int((noise >> 8) % 13) - 6;
            const bool stroke = (y / 8) % 2 == 1 && x % 2 == 0;
            image.setPixel(x, y, stroke ? qRgb(245 + n / 2, 220 + m, 10 + n) : qRgb(20 + m, 30 + n, 160 + m));
        }
    return image;
}

class PictureEncodingTest : public testing::TestWithParam<TznEncodingCase> {};

TEST_P(PictureEncodingTest, ChoosesTheFormat)
{
    const TznEncodingCase c = GetParam();
    const TznRendered rendered = renderAt96(c.Bytes(), c.Shown.width(), c.Shown.height(), {}, c.PasteType);
    EXPECT_FALSE(rendered.SourceBytes);
    EXPECT_EQ(rendered.Extension, c.Extension);
    EXPECT_EQ(rendered.ContentType, QString("image/") + c.Extension);
    const std::optional<TznPictureInfo> info = ReadPictureInfo(rendered.Bytes);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->Format, c.Extension);
    if (c.PngColourType >= 0) {
        EXPECT_EQ(int(rendered.Bytes.at(25)), c.PngColourType);
    }
    if (c.Compressible) { // deflated, not stored
        EXPECT_LT(rendered.Bytes.size(), rendered.PixelWidth * rendered.PixelHeight * 2);
    }
}

const TznEncodingCase EncodingCases[] = {
    {"JpegSourceStaysJpeg", [] { return EncodeSampleJpeg(displayedQuadrants({400, 300}), {}); }, 13, "jpeg", -1},
    // A camera's picture that JPEG keeps within 40 dB; drawings that it does not, or that are drawn.
    {"PhotographicPngBecomesJpeg", [] { return EncodeWithQt(MakePhotographicImage({400, 300}, 1, 3), "png"); }, 13, "jpeg", -1},
    {"NoisyPhotographStaysPng", [] { return EncodeWithQt(MakePhotographicImage({400, 300}, 1), "png"); }, 13, "png", 2, false},
    {"RibbonScreenshotStaysPng", [] { return EncodeWithQt(MakeRibbonImage({400, 300}, 1), "png"); }, 13, "png", 2},
    {"BorderedIconStaysPng", [] { return EncodeWithQt(MakeIconImage(128), "png"); }, 13, "png", 2, true, {96, 96}},
    {"FewColoursGivePalette", [] { return EncodeWithQt(displayedQuadrants({400, 300}), "png"); }, 13, "png", 3},
    {"ScreenshotStaysPng", [] { return EncodeWithQt(antialiasedDrawing(), "png"); }, 13, "png", -1},
    {"SharpLogoStaysPng", [] { return EncodeWithQt(speckledLogo(), "png"); }, 13, "png", 2, false, {160, 120}},
    {"TransparencyGivesPng", [] { return EncodeWithQt(smoothImage({400, 300}, true), "png"); }, 13, "png", 6},
    {"ForcedPngFromJpeg", [] { return EncodeSampleJpeg(MakePhotographicImage({400, 300}, 2), {}); }, eznPastePng, "png", 2, false},
    {"ForcedJpegFromTransparent", [] { return EncodeWithQt(smoothImage({400, 300}, true), "png"); }, eznPasteJpeg, "jpeg", -1},
    {"OtherCodesAsDefault", [] { return EncodeWithQt(smoothImage({400, 300}, true), "png"); }, 4, "png", 6},
    {"GreyPhotoGivesGreyJpeg", [] { TznJpegOptions o; o.Grey = true; return EncodeSampleJpeg(MakePhotographicImage({400, 300}, 4), o); }, 13, "jpeg", -1},
};

INSTANTIATE_TEST_SUITE_P(Cases, PictureEncodingTest, testing::ValuesIn(EncodingCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(PictureRenderTest, ForcedJpegPutsTransparencyOnWhite)
{
    QImage image(64, 64, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    const QImage out = decode(renderAt96(EncodeWithQt(image, "png"), 32, 32, {}, eznPasteJpeg).Bytes);
    EXPECT_TRUE(near(out.pixel(16, 16), qRgb(255, 255, 255), 3));
}

TEST(PictureRenderTest, UsesRequestedQuality)
{
    const QByteArray source = EncodeSampleJpeg(MakePhotographicImage({800, 600}, 5), {.Quality = 98});
    TznRenderRequest request;
    request.Bytes = source;
    request.ShownCx = 400 * EmuPerPixelAt96;
    request.ShownCy = 300 * EmuPerPixelAt96;
    request.Resolution = 96;
    request.Quality = 30;
    const qsizetype low = RenderPicture(request).Bytes.size();
    request.Quality = 95;
    const qsizetype high = RenderPicture(request).Bytes.size();
    EXPECT_LT(low * 2, high);
}

// --- Refusals ---------------------------------------------------------------

QByteArray pngHeaderOnly(quint32 width, quint32 height)
{
    QByteArray bytes = handPng(QImage(1, 1, QImage::Format_ARGB32), 6, 8);
    for (int i = 0; i < 4; ++i) {
        bytes[16 + i] = char(width >> (24 - 8 * i));
        bytes[20 + i] = char(height >> (24 - 8 * i));
    }
    return bytes;
}

struct TznRefusalCase { const char* Name; std::function<QByteArray()> Bytes; TznCrop Crop; const char* Reason; };

class PictureRefusalTest : public testing::TestWithParam<TznRefusalCase> {};

TEST_P(PictureRefusalTest, RaisesNamingTheReason)
{
    const TznRefusalCase c = GetParam();
    try {
        renderAt96(c.Bytes(), 1, 1, c.Crop); // fewer pixels than any: it must be decoded
        FAIL() << "rendered";
    } catch (const EznError& e) {
        EXPECT_TRUE(e.Message().contains(c.Reason, Qt::CaseInsensitive)) << e.what();
    }
}

QByteArray animatedGif()
{
    // Two frames of 2 x 2, written out by hand: Qt writes no animations.
    const char frame[] = "\x21\xF9\x04\x00\x0A\x00\x00\x00" // graphic control, delay
                         "\x2C\x00\x00\x00\x00\x02\x00\x02\x00\x00" // image descriptor
                         "\x02\x02\x44\x01\x00";           // LZW data
    QByteArray gif("GIF89a\x02\x00\x02\x00\x80\x00\x00\x00\x00\x00\xFF\xFF\xFF", 19);
    gif += QByteArray("\x21\xFF\x0BNETSCAPE2.0\x03\x01\x00\x00\x00", 19);
    gif += QByteArray(frame, sizeof frame - 1);
    gif += QByteArray(frame, sizeof frame - 1);
    gif += ';';
    return gif;
}

const TznRefusalCase RefusalCases[] = {
    {"UnknownBytes", [] { return QByteArray("not a picture at all"); }, {}, "unknown"},
    {"Emf", [] { return MakeTestEmf(); }, {}, "vector"},
    {"Wmf", [] { return QByteArray("\xD7\xCD\xC6\x9A\0\0\0\0\0\0\x10\0\x10\0\x60\0", 16) + QByteArray(16, '\0'); }, {}, "vector"},
    {"Svg", [] { return QByteArray("<svg xmlns='http://www.w3.org/2000/svg' width='10' height='10'/>"); }, {}, "vector"},
    {"TruncatedJpeg", [] { QByteArray b = EncodeSampleJpeg(MakePhotographicImage({300, 300}, 1), {}); return b.left(b.size() / 2); }, {}, "damaged"},
    {"GarbledJpeg",
     [] {
         QByteArray b = EncodeSampleJpeg(MakePhotographicImage({300, 300}, 1), {});
         for (qsizetype i = b.size() / 3; i < b.size() - 2; i += 7)
             b[i] = char(0xFF);
         return b;
     },
     {}, "damaged"},
    {"TruncatedProgressiveJpeg",
     [] { QByteArray b = EncodeSampleJpeg(MakePhotographicImage({300, 300}, 1), {.Progressive = true}); return b.left(b.size() * 2 / 3); },
     {}, "damaged"},
    {"GarbledProgressiveJpeg",
     [] {
         QByteArray b = EncodeSampleJpeg(MakePhotographicImage({300, 300}, 1), {.Progressive = true});
         for (qsizetype i = b.size() / 3; i < b.size() - 2; i += 7)
             b[i] = char(0xFF);
         return b;
     },
     {}, "damaged"},
    {"TruncatedPng", [] { QByteArray b = EncodeWithQt(MakePhotographicImage({300, 300}, 1), "png"); return b.left(b.size() / 2); }, {}, "damaged"},
    {"OverHundredMegapixels", [] { return pngHeaderOnly(10001, 10000); }, {}, "100 megapixels"},
    {"AnimatedGif", animatedGif, {}, "animation"},
    {"JpegXr", [] { return QByteArray("II\xBC\x01\x08\0\0\0\x02\0\x80\xBC\x04\0\x01\0\0\0\x10\0\0\0"
                                      "\x81\xBC\x04\0\x01\0\0\0\x10\0\0\0\0\0\0\0", 38); }, {}, "WDP"},
    {"CropLeavesNothing", [] { return EncodeWithQt(displayedQuadrants({40, 40}), "png"); }, {0.6, 0, 0.5, 0}, "crop"},
};

INSTANTIATE_TEST_SUITE_P(Cases, PictureRefusalTest, testing::ValuesIn(RefusalCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(PictureRenderTest, KeepsTheColourProfile)
{
    const QColorSpace p3(QColorSpace::DisplayP3);
    TznJpegOptions options;
    options.IccProfile = p3.iccProfile();
    QImage tagged = smoothImage({200, 150}, true);
    tagged.setColorSpace(p3);
    const QByteArray sources[] = {
        EncodeSampleJpeg(MakePhotographicImage({200, 150}, 6), options),
        EncodeWithQt(tagged, "png"),
    };
    for (const QByteArray& source : sources) {
        for (int pasteType : {eznPasteAuto, eznPastePng, eznPasteJpeg}) {
            const QImage out = decode(renderAt96(source, 100, 75, {}, pasteType).Bytes);
            EXPECT_EQ(out.colorSpace(), p3) << pasteType;
        }
    }
}

// --- Re-encoding only for fewer pixels -----------------------------------------

struct TznReductionCase {
    const char* Name;
    std::function<QByteArray()> Bytes;
    TznCrop Crop;
    double ShownInches;     // width shown; the height follows the picture's proportions
    int Resolution;
    bool SourceBytes;       // the result is the source as it was
    const char* Extension;
};

class PictureReductionTest : public testing::TestWithParam<TznReductionCase> {};

TEST_P(PictureReductionTest, ReencodesOnlyForFewerPixels)
{
    const TznReductionCase c = GetParam();
    const QByteArray source = c.Bytes();
    const std::optional<TznPictureInfo> info = ReadPictureInfo(source);
    ASSERT_TRUE(info);
    TznRenderRequest request;
    request.Bytes = source;
    request.Crop = c.Crop;
    const double visibleWidth = info->PixelWidth * (1 - c.Crop.Left - c.Crop.Right);
    const double visibleHeight = info->PixelHeight * (1 - c.Crop.Top - c.Crop.Bottom);
    request.ShownCx = qint64(c.ShownInches * 914400);
    request.ShownCy = qint64(c.ShownInches * 914400 * visibleHeight / visibleWidth);
    request.Resolution = c.Resolution;
    const TznRendered rendered = RenderPicture(request);
    EXPECT_EQ(rendered.SourceBytes, c.SourceBytes);
    EXPECT_EQ(rendered.Bytes == source, c.SourceBytes);
    EXPECT_EQ(rendered.Extension, c.Extension);
    EXPECT_EQ(rendered.ContentType, QString("image/") + c.Extension);
    if (c.SourceBytes) {
        EXPECT_EQ(QSize(rendered.PixelWidth, rendered.PixelHeight), QSize(info->PixelWidth, info->PixelHeight));
    }
}

QImage semiTransparent(QSize size)
{
    QImage image(size, QImage::Format_ARGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            image.setPixel(x, y, qRgba((x * 37 + y * 11) & 255, (x * 5) & 255, (y * 7) & 255, x < 8 ? 0 : (x * 4 + y) & 255));
    return image;
}

const TznReductionCase ReductionCases[] = {
    // Shown at 96 % of its natural size, at 150 pixels per inch it would need more pixels than it has.
    {"JpegNeedingMorePixels", [] { return EncodeSampleJpeg(MakePhotographicImage({485, 411}, 7), {}); }, {}, 485 / 96.0 * 0.96, 150, true, "jpeg"},
    {"JpegAtItsOwnSize", [] { return EncodeSampleJpeg(MakePhotographicImage({64, 64}, 7), {}); }, {}, 64 / 96.0, 96, true, "jpeg"},
    {"JpegFivePercentFewer", [] { return EncodeSampleJpeg(MakePhotographicImage({400, 400}, 7), {}); }, {}, 390 / 96.0, 96, true, "jpeg"},
    {"JpegTwentyPercentFewer", [] { return EncodeSampleJpeg(MakePhotographicImage({400, 400}, 7), {}); }, {}, 358 / 96.0, 96, false, "jpeg"},
    {"JpegCroppedFivePercent", [] { return EncodeSampleJpeg(MakePhotographicImage({400, 400}, 7), {}); }, {0.05, 0, 0, 0}, 380 / 96.0, 96, true, "jpeg"},
    {"JpegCroppedTwentyPercent", [] { return EncodeSampleJpeg(MakePhotographicImage({400, 400}, 7), {}); }, {0.2, 0, 0, 0}, 320 / 96.0, 96, false, "jpeg"},
    {"TurnedJpegKeepsItsTag", [] { return EncodeSampleJpeg(MakePhotographicImage({300, 200}, 7), {.Orientation = 6}); }, {}, 2, 150, true, "jpeg"},
    // Lossless sources: any reduction is worth it, none is not.
    {"SemiTransparentPngAtItsOwnSize", [] { return EncodeWithQt(semiTransparent({64, 64}), "png"); }, {}, 64 / 96.0, 96, true, "png"},
    {"PalettePngAtItsOwnSize",
     [] {
         QImage palette(64, 64, QImage::Format_Indexed8);
         palette.setColorTable({qRgba(255, 0, 0, 0), qRgba(0, 255, 0, 0), qRgba(0, 0, 255, 128), qRgb(9, 9, 9)});
         for (int y = 0; y < 64; ++y)
             for (int x = 0; x < 64; ++x)
                 palette.setPixel(x, y, uint((x / 3 + y) % 4));
         return EncodeWithQt(palette, "png");
     },
     {}, 64 / 96.0, 96, true, "png"},
    {"PngFivePercentFewer", [] { return EncodeWithQt(semiTransparent({400, 400}), "png"); }, {}, 390 / 96.0, 96, false, "png"},
    {"GifEnlarged", [] { return EncodeWithQt(displayedQuadrants({40, 40}), "gif"); }, {}, 1, 150, true, "gif"},
};

INSTANTIATE_TEST_SUITE_P(Cases, PictureReductionTest, testing::ValuesIn(ReductionCases),
                         [](const auto& info) { return std::string(info.param.Name); });

// --- What the pixels mean ---------------------------------------------------------

struct TznMeaningCase {
    const char* Name;
    std::function<QByteArray()> Bytes;
    int PasteType;
    const char* Extension;
    QByteArray Profile;     // the profile the result carries, byte for byte
};

// The colour profile a JPEG or PNG result carries.
QByteArray profileOf(const QByteArray& bytes)
{
    if (ReadPictureInfo(bytes)->Format == "png")
        return PngIccProfile(bytes);
    QByteArray icc;
    DecodeJpegRegion(bytes, QRectF(0, 0, 1, 1), QSize(1, 1), &icc);
    return icc;
}

class PictureMeaningTest : public testing::TestWithParam<TznMeaningCase> {};

TEST_P(PictureMeaningTest, KeepsProfileAndTurnsUpright)
{
    const TznMeaningCase c = GetParam();
    // Shown at half the width of its (displayed) picture, so that it is re-encoded.
    const TznRendered rendered = renderAt96(c.Bytes(), 80, 48, {}, c.PasteType);
    ASSERT_FALSE(rendered.SourceBytes);
    EXPECT_EQ(rendered.Extension, c.Extension);
    EXPECT_EQ(profileOf(rendered.Bytes), c.Profile);
    const std::optional<TznPictureInfo> info = ReadPictureInfo(rendered.Bytes);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->Orientation, 1);
    // Upright as stored: the quadrants where they show, whatever a reader does with tags.
    const QImage out = decode(rendered.Bytes);
    ASSERT_EQ(out.size(), QSize(80, 48));
    EXPECT_LT(std::abs(qGray(out.pixel(20, 12)) - qGray(QuadrantColours[0])), 24);
    EXPECT_LT(std::abs(qGray(out.pixel(60, 36)) - qGray(QuadrantColours[3])), 24);
}

QByteArray greyJpegWithProfile()
{
    TznJpegOptions options;
    options.Grey = true;
    options.IccProfile = MakeGreyIccProfile(2.2);
    return EncodeSampleJpeg(displayedQuadrants({160, 96}), options);
}

const TznMeaningCase MeaningCases[] = {
    {"TurnedJpegComesUpright", [] { return EncodeSampleJpeg(storedFor(displayedQuadrants({160, 96}), 6), {.Orientation = 6}); }, eznPasteAuto, "jpeg", {}},
    {"GreyProfileInJpeg", greyJpegWithProfile, eznPasteAuto, "jpeg", MakeGreyIccProfile(2.2)},
    {"GreyProfileInPng", greyJpegWithProfile, eznPastePng, "png", MakeGreyIccProfile(2.2)},
};

INSTANTIATE_TEST_SUITE_P(Cases, PictureMeaningTest, testing::ValuesIn(MeaningCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(PictureRenderTest, TurnsTiffByItsOrientationTag)
{
    const QImage written = displayedQuadrants(QSize(90, 60));
    const QByteArray bytes = EncodeWithQt(written, "tiff", {.Transformation = QImageIOHandler::TransformationRotate90});
    ASSERT_FALSE(bytes.isEmpty());
    // Shown turned a quarter clockwise: the top-left quadrant is now at the top right.
    const QImage out = decode(renderAt96(bytes, 30, 45, {}, eznPastePng).Bytes);
    ASSERT_EQ(out.size(), QSize(30, 45));
    EXPECT_TRUE(near(out.pixel(22, 10), QuadrantColours[0])) << std::hex << out.pixel(22, 10);
    EXPECT_TRUE(near(out.pixel(7, 10), QuadrantColours[2])) << std::hex << out.pixel(7, 10);
    EXPECT_TRUE(near(out.pixel(22, 35), QuadrantColours[1])) << std::hex << out.pixel(22, 35);
}

TEST(PictureRenderTest, RendersTheSameOnManyThreadsAtOnce)
{
    std::vector<QByteArray> sources = {
        EncodeSampleJpeg(MakePhotographicImage({900, 700}, 8), {}),
        EncodeWithQt(smoothImage({500, 400}, true), "png"),
        EncodeSampleJpeg(MakePhotographicImage({700, 900}, 9), {.Orientation = 6, .Cmyk = true}),
    };
    std::vector<QByteArray> expected;
    for (const QByteArray& s : sources)
        expected.push_back(renderAt96(s, 150, 120).Bytes);
    std::vector<std::thread> threads;
    std::vector<int> mismatches(6, 0);
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 3; ++round)
                for (size_t i = 0; i < sources.size(); ++i)
                    mismatches[t] += renderAt96(sources[i], 150, 120).Bytes != expected[i];
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    for (int m : mismatches)
        EXPECT_EQ(m, 0);
}

} // namespace
