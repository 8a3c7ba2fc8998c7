#include "ooxml/znPictureBridge.h"

#ifdef LP_PICTURE_STANDIN
#include "platform/znError.h"

#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>

#include <cmath>

namespace {
bool isVector(const QByteArray& b)
{
    return b.startsWith("\xD7\xCD\xC6\x9A") || (b.size() > 44 && b.mid(40, 4) == " EMF")
        || b.left(256).contains("<svg");
}
} // namespace

std::optional<TznPictureInfo> ReadPictureInfo(const QByteArray& bytes)
{
    TznPictureInfo info;
    if (isVector(bytes)) {
        info.Vector = true;
        info.Format = QStringLiteral("vector");
        return info;
    }
    QImage image;
    if (!image.loadFromData(bytes))
        return std::nullopt;
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    info.Format = QString::fromLatin1(QImageReader::imageFormat(&buffer));
    info.PixelWidth = image.width();
    info.PixelHeight = image.height();
    if (info.Format == QLatin1String("png") && !bytes.contains("pHYs"))
        return info;
    if (image.dotsPerMeterX() > 0) info.DpiX = image.dotsPerMeterX() * 0.0254;
    if (image.dotsPerMeterY() > 0) info.DpiY = image.dotsPerMeterY() * 0.0254;
    return info;
}

TznRendered RenderPicture(const TznRenderRequest& request)
{
    if (isVector(request.Bytes))
        throw EznError(QStringLiteral("Vector pictures cannot be rendered."));
    QImageReader reader;
    QBuffer buffer;
    buffer.setData(request.Bytes);
    buffer.open(QIODevice::ReadOnly);
    reader.setDevice(&buffer);
    reader.setAutoTransform(true);
    QImage image = reader.read();
    if (image.isNull())
        throw EznError(QStringLiteral("The picture cannot be decoded."));
    const QRect visible(int(std::lround(image.width() * request.Crop.Left)), int(std::lround(image.height() * request.Crop.Top)),
                        int(std::lround(image.width() * (1 - request.Crop.Left - request.Crop.Right))),
                        int(std::lround(image.height() * (1 - request.Crop.Top - request.Crop.Bottom))));
    image = image.copy(visible);
    const int w = std::min<qint64>(image.width(), std::max<qint64>(1, std::llround(request.ShownCx / 914400.0 * request.Resolution)));
    const int h = std::min<qint64>(image.height(), std::max<qint64>(1, std::llround(request.ShownCy / 914400.0 * request.Resolution)));
    image = image.scaled(w, h, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    TznRendered out;
    QBuffer sink(&out.Bytes);
    sink.open(QIODevice::WriteOnly);
    const bool png = image.hasAlphaChannel();
    QImageWriter writer(&sink, png ? "png" : "jpeg");
    writer.setQuality(request.Quality);
    writer.write(image);
    out.Extension = png ? QStringLiteral("png") : QStringLiteral("jpeg");
    out.ContentType = png ? QStringLiteral("image/png") : QStringLiteral("image/jpeg");
    out.PixelWidth = image.width();
    out.PixelHeight = image.height();
    return out;
}
#endif
