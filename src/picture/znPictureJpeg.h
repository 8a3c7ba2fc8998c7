#pragma once

#include <QByteArray>
#include <QImage>
#include <QRectF>

// Progressive JPEGs with more scans than this are refused: each scan costs a
// pass over the whole picture, real files have a dozen or two, and a crafted
// file with thousands would hold a worker for minutes.
constexpr int MaxJpegScans = 256;

// Decodes region (in stored pixels, before any EXIF orientation) of a JPEG and reduces it by area
// averaging to outSize: Format_Grayscale8 for grey pictures, Format_RGB32 otherwise. Memory stays at a
// few rows of the picture for baseline files. Raises EznError when the data is damaged or has more than
// MaxJpegScans scans.
QImage DecodeJpegRegion(const QByteArray& bytes, const QRectF& region, QSize outSize);
