#include "picture/znPicture.h"
#include "picture/znPictureHeader.h"
#include "picture/znPictureJpeg.h"
#include "picture/znPicturePng.h"
#include "picture/znPictureRecode.h"
#include "picture/znPictureScale.h"
#include "platform/znError.h"

#include <QBuffer>
#include <QColorSpace>
#include <QImageReader>
#include <QPainter>
#include <QTransform>

#include <algorithm>
#include <cmath>
#include <map>
#include <mutex>

namespace {

constexpr double EmuPerInch = 914400;
constexpr qint64 BigPicturePixels = 25'000'000;
// Below this a JPEG of a lossless source no longer looks as the source did:
// letters bleed and thin borders wash out.
constexpr double MinJpegPsnr = 40;
// A re-encoding of a JPEG must remove at least this share of its pixels, and
// so must a crop of any picture: less is not worth a generation of loss.
constexpr double MinReduction = 0.1;
// A photograph: most blocks varied, few pixels in long runs.
constexpr double MinVariedShare = 0.5, MaxLongRunShare = 0.1;

struct TznPointF { double X, Y; };

// Where a point of the displayed picture (fractions of its width and height)
// lies in the stored pixels, for each EXIF orientation.
TznPointF displayedToStored(TznPointF p, int orientation)
{
    switch (orientation) {
    case 2: return {1 - p.X, p.Y};
    case 3: return {1 - p.X, 1 - p.Y};
    case 4: return {p.X, 1 - p.Y};
    case 5: return {p.Y, p.X};
    case 6: return {p.Y, 1 - p.X};
    case 7: return {1 - p.Y, 1 - p.X};
    case 8: return {1 - p.Y, p.X};
    default: return p;
    }
}

// Turns stored pixels into the picture as displayed.
QImage applyOrientation(const QImage& image, int orientation)
{
    switch (orientation) {
    case 2: return image.mirrored(true, false);
    case 3: return image.mirrored(true, true);
    case 4: return image.mirrored(false, true);
    case 5: return image.mirrored(false, true).transformed(QTransform().rotate(90));
    case 6: return image.transformed(QTransform().rotate(90));
    case 7: return image.mirrored(true, false).transformed(QTransform().rotate(90));
    case 8: return image.transformed(QTransform().rotate(270));
    default: return image;
    }
}

void allowLargePictures()
{
    // Qt refuses images above 128 MB by default; a 100-megapixel picture in
    // 32 bits needs 400 MB, in 64 bits (16-bit PNG) 800 MB.
    static const bool once = [] {
        if (QImageReader::allocationLimit() < 1024)
            QImageReader::setAllocationLimit(1024);
        return true;
    }();
    (void)once;
}

// Decodes a picture Qt reads and reduces region of it (stored pixels of a picture of headerSize) to outSize.
QImage decodeWithQt(const QByteArray& bytes, const QString& format, QSize headerSize, QRectF region, QSize outSize,
                    QByteArray* icc)
{
    allowLargePictures();
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, format.toLatin1());
    reader.setAutoTransform(false);
    if (!reader.canRead())
        throw EznError(QStringLiteral("The picture cannot be read as %1").arg(format.toUpper()));
    if (reader.supportsAnimation() && reader.imageCount() > 1)
        throw EznError(QStringLiteral("The picture is an animation"));
    QImage image = reader.read();
    if (image.isNull())
        throw EznError(QStringLiteral("The picture is damaged: %1").arg(reader.errorString()));

    QImage::Format format32;
    int channels = 4;
    if (image.hasAlphaChannel()) {
        format32 = QImage::Format_ARGB32_Premultiplied;
    } else if (image.isGrayscale()) {
        format32 = QImage::Format_Grayscale8;
        channels = 1;
    } else {
        format32 = QImage::Format_RGB32;
    }
    image.convertTo(format32);
    if (image.size() != headerSize) { // the header said otherwise; the pixels decide
        const double fx = double(image.width()) / headerSize.width(), fy = double(image.height()) / headerSize.height();
        region = QRectF(region.x() * fx, region.y() * fy, region.width() * fx, region.height() * fy);
    }
    TznBoxScaler scaler(image.width(), image.height(), channels, region, outSize, format32);
    for (int y = scaler.FirstRow(); y < scaler.EndRow() && y < image.height(); ++y)
        scaler.AddRow(y, image.constScanLine(y));
    QImage result = scaler.Result();
    result.setColorSpace(image.colorSpace());
    // Qt parses RGB profiles only; a PNG's own chunk keeps the others (grey).
    *icc = format == QLatin1String("png") ? PngIccProfile(bytes)
         : image.colorSpace().isValid()   ? image.colorSpace().iccProfile()
                                          : QByteArray();
    return result;
}

bool hasTransparency(const QImage& image)
{
    if (!image.hasAlphaChannel())
        return false;
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const int w = argb.width(), h = argb.height();
    for (int y = 0; y < h; ++y) {
        const QRgb* row = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
        for (int x = 0; x < w; ++x) {
            if (qAlpha(row[x]) != 255)
                return true;
        }
    }
    return false;
}

bool isGrey(const QImage& image)
{
    if (image.format() == QImage::Format_Grayscale8)
        return true;
    const int w = image.width(), h = image.height();
    for (int y = 0; y < h; ++y) {
        const QRgb* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < w; ++x) {
            if (qRed(row[x]) != qGreen(row[x]) || qGreen(row[x]) != qBlue(row[x]))
                return false;
        }
    }
    return true;
}

// The distinct colours of a 32-bit image, or nothing when there are more than 256.
std::optional<QList<QRgb>> fewColours(const QImage& image)
{
    constexpr int tableSize = 1024;
    QRgb table[tableSize];
    bool used[tableSize] = {};
    QList<QRgb> colours;
    const int w = image.width(), h = image.height();
    for (int y = 0; y < h; ++y) {
        const QRgb* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < w; ++x) {
            const QRgb c = row[x];
            quint32 slot = (c * 2654435761u) >> 22;
            while (used[slot] && table[slot] != c)
                slot = (slot + 1) % tableSize;
            if (used[slot])
                continue;
            if (colours.size() == 256)
                return std::nullopt;
            used[slot] = true;
            table[slot] = c;
            colours.append(c);
        }
    }
    return colours;
}

// Share of pixels equal to their left neighbour: high for screenshots and
// drawings, near zero for photographs.
double flatShare(const QImage& image)
{
    qint64 equal = 0;
    const int w = image.width(), h = image.height();
    for (int y = 0; y < h; ++y) {
        const QRgb* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 1; x < w; ++x)
            equal += row[x] == row[x - 1];
    }
    return double(equal) / std::max<qint64>(1, qint64(w - 1) * h);
}

// Share of 8 x 8 blocks with at least 24 distinct colours: a camera's noise
// and texture give nearly every block dozens, while drawn letters, flat
// panels and smooth gradients give a block a handful.
double variedShare(const QImage& image)
{
    constexpr int Block = 8, Varied = 24;
    qint64 blocks = 0, varied = 0;
    QRgb seen[Block * Block];
    const int w = image.width(), h = image.height();
    for (int by = 0; by + Block <= h; by += Block) {
        for (int bx = 0; bx + Block <= w; bx += Block) {
            int distinct = 0;
            for (int y = by; y < by + Block && distinct < Varied; ++y) {
                const QRgb* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
                for (int x = bx; x < bx + Block; ++x)
                    if (std::find(seen, seen + distinct, row[x]) == seen + distinct)
                        seen[distinct++] = row[x];
            }
            ++blocks;
            varied += distinct >= Varied;
        }
    }
    return blocks ? double(varied) / blocks : 0;
}

// Share of pixels in runs of 8 or more equal pixels along a row: the flat
// panels and margins of drawings and screenshots.
double longRunShare(const QImage& image)
{
    constexpr int LongRun = 8;
    qint64 inRuns = 0;
    const int w = image.width(), h = image.height();
    for (int y = 0; y < h; ++y) {
        const QRgb* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < w;) {
            int end = x + 1;
            while (end < w && row[end] == row[x])
                ++end;
            if (end - x >= LongRun)
                inRuns += end - x;
            x = end;
        }
    }
    return double(inRuns) / std::max<qint64>(1, qint64(w) * h);
}

// Peak signal-to-noise ratio of two opaque images of one size, in decibels.
double psnr(const QImage& a, const QImage& b)
{
    if (a.size() != b.size())
        return 0;
    const QImage x = a.convertToFormat(QImage::Format_RGB32), y = b.convertToFormat(QImage::Format_RGB32);
    double sum = 0;
    const int w = x.width(), h = x.height();
    for (int row = 0; row < h; ++row) {
        const QRgb* p = reinterpret_cast<const QRgb*>(x.constScanLine(row));
        const QRgb* q = reinterpret_cast<const QRgb*>(y.constScanLine(row));
        for (int col = 0; col < w; ++col) {
            const int dr = qRed(p[col]) - qRed(q[col]), dg = qGreen(p[col]) - qGreen(q[col]), db = qBlue(p[col]) - qBlue(q[col]);
            sum += dr * dr + dg * dg + db * db;
        }
    }
    const double mse = sum / (3.0 * x.width() * x.height());
    return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

// The colour space a profile describes ("RGB ", "GRAY", ...), from its header.
QByteArray profileSpace(const QByteArray& icc) { return icc.mid(16, 4); }

QByteArray encodePng(const QImage& image, const QByteArray& icc)
{
    const QByteArray png = EncodeSmallestPng(image, PngChunksOf(image, icc));
    if (png.isEmpty())
        throw EznError(QStringLiteral("The picture cannot be written as PNG"));
    return png;
}

QByteArray encodeJpeg(const QImage& image, int quality, QByteArray icc)
{
    QImage opaque;
    if (image.format() == QImage::Format_Grayscale8) {
        opaque = image;
    } else {
        // Transparent areas become white, the colour of the page beneath.
        opaque = QImage(image.size(), QImage::Format_RGB32);
        opaque.setDotsPerMeterX(image.dotsPerMeterX());
        opaque.setDotsPerMeterY(image.dotsPerMeterY());
        opaque.fill(Qt::white);
        QPainter painter(&opaque);
        painter.drawImage(0, 0, image);
        painter.end();
        // Grey pixels go in one component, unless an RGB profile is to describe them.
        if (profileSpace(icc) != "RGB " && isGrey(opaque))
            opaque.convertTo(QImage::Format_Grayscale8);
    }
    // The profile must describe the components written; any other is left out.
    const bool grey = opaque.format() == QImage::Format_Grayscale8;
    if (profileSpace(icc) != (grey ? "GRAY" : "RGB "))
        icc.clear();
    QByteArray jpeg = EncodeJpeg(opaque, quality, icc);
    if (jpeg.isEmpty())
        throw EznError(QStringLiteral("The picture cannot be written as JPEG"));
    return jpeg;
}

// Output size along one axis: the shown size at the resolution, but never
// more pixels than the visible part has.
int outputLength(qint64 shownEmu, int resolution, double visiblePixels)
{
    const double wanted = shownEmu > 0 ? shownEmu / EmuPerInch * resolution : visiblePixels;
    return std::max(1, int(std::lround(std::min(wanted, visiblePixels))));
}

// The extension and content type of a picture part in a raster format, for
// handing its bytes back as they are.
std::optional<std::pair<QString, QString>> sourceType(const QString& format)
{
    static const std::map<QString, std::pair<QString, QString>> types = {
        {"jpeg", {"jpeg", "image/jpeg"}}, {"png", {"png", "image/png"}},   {"gif", {"gif", "image/gif"}},
        {"bmp", {"bmp", "image/bmp"}},    {"tiff", {"tiff", "image/tiff"}}, {"webp", {"webp", "image/webp"}},
        {"wdp", {"wdp", "image/vnd.ms-photo"}},
    };
    const auto it = types.find(format);
    return it == types.end() ? std::nullopt : std::optional(it->second);
}

} // namespace

QByteArray PhotographJpeg(const QImage& image, int quality, const QByteArray& iccProfile)
{
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    // The cheap scans first: any one of them rules JPEG out.
    if (flatShare(rgb) >= 0.5 || longRunShare(rgb) > MaxLongRunShare || fewColours(rgb).has_value()
        || variedShare(rgb) < MinVariedShare)
        return {};
    // Logos and drawings with sharp coloured edges suffer in JPEG; a lossless
    // source stays lossless unless JPEG keeps it close to how it looked.
    QByteArray jpeg = encodeJpeg(image, quality, iccProfile);
    if (psnr(QImage::fromData(jpeg), rgb) < MinJpegPsnr)
        return {};
    return jpeg;
}

TznRendered RenderPicture(const TznRenderRequest& request)
{
    const std::optional<TznPictureInfo> info = ReadPictureInfo(request.Bytes);
    if (!info)
        throw EznError(QStringLiteral("The picture's format is unknown"));
    if (info->Vector)
        throw EznError(QStringLiteral("The picture is a vector drawing (%1) and has no pixels to render")
                           .arg(info->Format.toUpper()));
    const int displayedWidth = info->PixelWidth, displayedHeight = info->PixelHeight;
    if (qint64(displayedWidth) * displayedHeight > MaxPicturePixels)
        throw EznError(QStringLiteral("The picture has more than 100 megapixels (%1 x %2)")
                           .arg(displayedWidth)
                           .arg(displayedHeight));
    const bool quarterTurn = info->Orientation >= 5;
    const int storedWidth = quarterTurn ? displayedHeight : displayedWidth;
    const int storedHeight = quarterTurn ? displayedWidth : displayedHeight;

    // The frame in displayed pixels; negative crop fractions reach outside the picture.
    const TznCrop& crop = request.Crop;
    if (!std::isfinite(crop.Left) || !std::isfinite(crop.Top) || !std::isfinite(crop.Right) || !std::isfinite(crop.Bottom))
        throw EznError(QStringLiteral("The picture's crop is not a number"));
    const double frameX0 = crop.Left * displayedWidth, frameX1 = (1 - crop.Right) * displayedWidth;
    const double frameY0 = crop.Top * displayedHeight, frameY1 = (1 - crop.Bottom) * displayedHeight;
    const double seenX0 = std::max(frameX0, 0.0), seenX1 = std::min(frameX1, double(displayedWidth));
    const double seenY0 = std::max(frameY0, 0.0), seenY1 = std::min(frameY1, double(displayedHeight));
    if (!(seenX1 - seenX0 > 0) || !(seenY1 - seenY0 > 0))
        throw EznError(QStringLiteral("The picture's crop leaves nothing of it visible"));

    const int resolution = request.Resolution > 0 ? request.Resolution : 150;
    const double frameWidth = frameX1 - frameX0, frameHeight = frameY1 - frameY0;
    const int outWidth = outputLength(request.ShownCx, resolution, frameWidth);
    const int outHeight = outputLength(request.ShownCy, resolution, frameHeight);
    // Where the seen part of the picture lands in the output.
    const int partX0 = int(std::lround((seenX0 - frameX0) / frameWidth * outWidth));
    const int partY0 = int(std::lround((seenY0 - frameY0) / frameHeight * outHeight));
    const int partX1 = std::max(partX0 + 1, int(std::lround((seenX1 - frameX0) / frameWidth * outWidth)));
    const int partY1 = std::max(partY0 + 1, int(std::lround((seenY1 - frameY0) / frameHeight * outHeight)));
    const QSize partSize(partX1 - partX0, partY1 - partY0);

    // Fewer pixels are the only gain a re-encoding buys: without them the
    // picture stays as it is, bytes and all.
    const bool jpegSource = info->Format == "jpeg";
    const double sourcePixels = double(displayedWidth) * displayedHeight;
    const double visiblePixels = (seenX1 - seenX0) * (seenY1 - seenY0);
    const bool cropReduces = visiblePixels <= sourcePixels * (1 - MinReduction) + 1e-6;
    const bool scaleReduces = double(partSize.width()) * partSize.height()
                              < visiblePixels * (jpegSource ? 1 - MinReduction : 1.0) - 1e-6;
    if (!cropReduces && !scaleReduces) {
        if (const auto type = sourceType(info->Format)) {
            TznRendered source;
            source.Bytes = request.Bytes;
            source.Extension = type->first;
            source.ContentType = type->second;
            source.PixelWidth = displayedWidth;
            source.PixelHeight = displayedHeight;
            source.SourceBytes = true;
            return source;
        }
    }

    const TznPointF a = displayedToStored({seenX0 / displayedWidth, seenY0 / displayedHeight}, info->Orientation);
    const TznPointF b = displayedToStored({seenX1 / displayedWidth, seenY1 / displayedHeight}, info->Orientation);
    const QRectF storedRegion(QPointF(std::min(a.X, b.X) * storedWidth, std::min(a.Y, b.Y) * storedHeight),
                              QPointF(std::max(a.X, b.X) * storedWidth, std::max(a.Y, b.Y) * storedHeight));
    const QSize storedOut = quarterTurn ? partSize.transposed() : partSize;

    // Decoding that holds the whole picture takes up to 8 bytes a pixel (Qt's readers) or up to 6
    // (the packed coefficients of a progressive JPEG, most often far less); big ones run one at a
    // time, so that workers side by side do not multiply the peak.
    const bool wholeInMemory = !jpegSource || info->Progressive;
    static std::mutex bigDecode;
    std::unique_lock<std::mutex> oneAtATime(bigDecode, std::defer_lock);
    if (wholeInMemory && qint64(displayedWidth) * displayedHeight > BigPicturePixels)
        oneAtATime.lock();
    QByteArray icc;
    QImage part = jpegSource ? DecodeJpegRegion(request.Bytes, storedRegion, storedOut, &icc)
                             : decodeWithQt(request.Bytes, info->Format, QSize(storedWidth, storedHeight), storedRegion,
                                            storedOut, &icc);
    if (oneAtATime.owns_lock())
        oneAtATime.unlock();
    part = applyOrientation(part, info->Orientation);

    QImage result;
    if (partSize == QSize(outWidth, outHeight)) {
        result = part;
    } else {
        result = QImage(outWidth, outHeight, QImage::Format_ARGB32_Premultiplied);
        result.fill(Qt::transparent);
        QPainter painter(&result);
        painter.drawImage(partX0, partY0, part);
        painter.end();
        result.setColorSpace(part.colorSpace());
    }
    // The result's own resolution makes it its shown size, so that it counts as
    // not reduced the next time round. Files store whole dots per inch (JFIF) or
    // per metre (PNG); rounding up keeps the natural size from exceeding the
    // shown one, which would make it look reduced by a fraction of a percent.
    const double dpiX = request.ShownCx > 0 ? outWidth / (request.ShownCx / EmuPerInch) : resolution;
    const double dpiY = request.ShownCy > 0 ? outHeight / (request.ShownCy / EmuPerInch) : resolution;
    result.setDotsPerMeterX(int(std::ceil(std::ceil(dpiX - 1e-6) / 0.0254)));
    result.setDotsPerMeterY(int(std::ceil(std::ceil(dpiY - 1e-6) / 0.0254)));

    bool png;
    QByteArray jpeg;
    if (request.PasteType == eznPastePng) {
        png = true;
    } else if (request.PasteType == eznPasteJpeg) {
        png = false;
    } else if (hasTransparency(result)) {
        png = true;
    } else if (jpegSource) {
        png = false;
    } else {
        jpeg = PhotographJpeg(result, request.Quality, icc);
        png = jpeg.isEmpty();
    }

    TznRendered rendered;
    rendered.Bytes = png ? encodePng(result, icc) : !jpeg.isEmpty() ? jpeg : encodeJpeg(result, request.Quality, icc);
    rendered.Extension = png ? "png" : "jpeg";
    rendered.ContentType = png ? "image/png" : "image/jpeg";
    rendered.PixelWidth = result.width();
    rendered.PixelHeight = result.height();
    return rendered;
}
