#pragma once

#include <QByteArray>
#include <QImage>

#include <optional>

// The smallest PNG of image, or empty when none comes below limit bytes
// (0: no limit); extraChunks (complete chunks) go before the pixels.
QByteArray SmallestPng(const QImage& image, const QByteArray& extraChunks, qint64 limit);

// The complete chunks of a PNG that change how it displays (colour profile,
// gamma, primaries) or its size on the page; nullopt for an animated PNG or
// one that cannot be walked.
std::optional<QByteArray> KeptPngChunks(const QByteArray& png);

// The pHYs and iCCP chunks that carry the density and colour profile of a
// picture that was no PNG.
QByteArray PngChunksOf(const QImage& image);

// Whether two ARGB32 images have the same size and the same pixels.
bool SamePixels(const QImage& a, const QImage& b);

// Whether no pixel of an ARGB32 image is transparent.
bool IsOpaque(const QImage& straight);
