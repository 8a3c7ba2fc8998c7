#pragma once

#include <QByteArray>
#include <QImage>
#include <QRectF>

// Decodes region (in stored pixels, before any EXIF orientation) of a JPEG and reduces it by area
// averaging to outSize: Format_Grayscale8 for grey pictures, Format_RGB32 otherwise. Memory stays at a
// few rows of the picture for baseline files. Raises EznError when the data is damaged.
QImage DecodeJpegRegion(const QByteArray& bytes, const QRectF& region, QSize outSize);
