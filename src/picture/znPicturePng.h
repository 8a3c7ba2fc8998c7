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

// The pHYs chunk of image's density and the iCCP chunk of iccProfile (none when empty).
QByteArray PngChunksOf(const QImage& image, const QByteArray& iccProfile);

// The colour profile of a PNG's iCCP chunk, inflated; data is a PNG file or
// a run of complete chunks. Empty when there is none or it is damaged.
QByteArray PngIccProfile(const QByteArray& data);

// Whether decoded (a picture as its reader gave it) and other have the same
// size and the same raw samples: alpha, and the colour under alpha 0, count.
// A premultiplied decoded picture is compared with other premultiplied, which
// is what it displays as.
bool SamePixels(const QImage& decoded, const QImage& other);

// Whether no pixel of an ARGB32 image is transparent.
bool IsOpaque(const QImage& straight);
