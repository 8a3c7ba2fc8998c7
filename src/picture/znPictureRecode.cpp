// The choice of a smaller encoding for a picture a document keeps: JPEGs
// re-coded losslessly, every other pixel format into the smallest PNG found
// (or a JPEG for an opaque photograph when allowed), each PNG checked
// against the decoded original.
#include "picture/znPictureRecode.h"
#include "picture/znPicture.h"
#include "picture/znPictureJpegLossless.h"
#include "picture/znPicturePng.h"

#include <QBuffer>
#include <QColorSpace>
#include <QImageReader>

std::optional<TznRecoded> RecodePicture(const QByteArray& bytes, const TznRecodeOptions& options)
{
    const std::optional<TznPictureInfo> info = ReadPictureInfo(bytes);
    if (!info || info->Vector || info->PixelWidth <= 0 || info->PixelHeight <= 0
        || qint64(info->PixelWidth) * info->PixelHeight > MaxRecodePixels)
        return std::nullopt;
    if (info->Format == QLatin1String("jpeg")) {
        // A progressive JPEG's Huffman tables were computed for its scans
        // (the standard tables do not fit progression), and its scans are
        // those the transcoding would write: with nothing to drop, it only
        // costs time. Measured on the corpus, it gained nothing there.
        if (info->Progressive && !HasDroppableJpegSegments(bytes))
            return std::nullopt;
        const QByteArray recoded = RecodeJpegLossless(bytes);
        if (recoded.isEmpty() || recoded.size() >= bytes.size())
            return std::nullopt;
        return TznRecoded{recoded, QStringLiteral("jpeg"), QStringLiteral("image/jpeg")};
    }
    static const QStringList lossless{QStringLiteral("png"), QStringLiteral("gif"), QStringLiteral("bmp"), QStringLiteral("tiff")};
    // PNG has no orientation that every reader honours.
    if (!lossless.contains(info->Format) || info->Orientation != 1)
        return std::nullopt;
    QByteArray extra;
    if (info->Format == QLatin1String("png")) {
        const auto chunks = KeptPngChunks(bytes);
        if (!chunks)
            return std::nullopt;
        extra = *chunks;
    }
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, info->Format.toLatin1());
    reader.setAutoTransform(false);
    if (!reader.canRead() || reader.imageCount() > 1)
        return std::nullopt;
    const QImage decoded = reader.read();
    // Sixteen bits a channel do not fit the 8-bit samples compared here.
    if (decoded.isNull() || decoded.pixelFormat().bitsPerPixel() > 32 || decoded.format() == QImage::Format_Grayscale16)
        return std::nullopt;
    const QImage straight = decoded.convertToFormat(QImage::Format_ARGB32);
    // The profile as the file holds it: Qt parses RGB profiles only.
    QByteArray icc;
    if (info->Format == QLatin1String("png")) {
        icc = PngIccProfile(bytes);
    } else {
        icc = decoded.colorSpace().isValid() ? decoded.colorSpace().iccProfile() : QByteArray();
        extra = PngChunksOf(decoded, icc);
    }

    std::optional<TznRecoded> best;
    qint64 bestSize = bytes.size();
    if (options.Photographs && IsOpaque(straight)) {
        const QByteArray jpeg = PhotographJpeg(decoded, options.Quality, icc);
        if (!jpeg.isEmpty() && jpeg.size() < bestSize) {
            best = TznRecoded{jpeg, QStringLiteral("jpeg"), QStringLiteral("image/jpeg")};
            bestSize = jpeg.size();
        }
    }
    const QByteArray png = SmallestPng(straight, extra, bestSize);
    if (!png.isEmpty() && png.size() < bestSize) {
        // Only what decodes to exactly the same samples as the original did
        // replaces it, compared with the pixels as the reader gave them.
        const QImage back = QImage::fromData(png, "png");
        if (SamePixels(decoded, back))
            best = TznRecoded{png, QStringLiteral("png"), QStringLiteral("image/png")};
    }
    return best;
}
