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
// few rows of the picture for baseline files; progressive ones hold their coefficients packed, 8 bytes
// a block and 2 a non-zero coefficient, never more than 128 bytes a block. Raises EznError when the
// data is damaged or has more than MaxJpegScans scans. iccProfile, when given, receives the embedded
// colour profile (empty when there is none, and for CMYK pictures, whose profile does not fit the
// converted pixels).
QImage DecodeJpegRegion(const QByteArray& bytes, const QRectF& region, QSize outSize, QByteArray* iccProfile = nullptr);

// A baseline JPEG of an RGB32 or Grayscale8 image at quality (1-100) with optimised Huffman tables, the
// image's density in a JFIF header and iccProfile (when not empty) in APP2 segments, split as it needs.
// Empty when libjpeg fails.
QByteArray EncodeJpeg(const QImage& image, int quality, const QByteArray& iccProfile);
