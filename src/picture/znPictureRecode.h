#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

#include <optional>

// Smaller encodings of a picture that stays in a document as it is: the
// lossless ones display exactly as the original, and an opaque photograph
// stored losslessly may become a JPEG. Thread-safe: workers call it at once.

struct TznRecodeOptions
{
    int Quality = 85;     // JPEG quality for photographs stored losslessly
    bool Photographs = true; // whether such photographs may become JPEG
};

struct TznRecoded
{
    QByteArray Bytes;
    QString Extension;    // "jpeg" or "png"
    QString ContentType;  // "image/jpeg" or "image/png"
};

// Pictures with more pixels than this are left as they are: the lossless
// pass holds several copies of the pixels.
constexpr qint64 MaxRecodePixels = 25'000'000;

// The smallest encoding found that is smaller than bytes; nullopt when the
// picture is best left as it is (already smallest, animated, several pages,
// more than 16 bits a channel, damaged, unknown or a vector format).
std::optional<TznRecoded> RecodePicture(const QByteArray& bytes, const TznRecodeOptions& options);

// A JPEG re-coded without touching its coefficients: optimised Huffman
// tables, progressive when that is smaller; comments, XMP, IPTC and the EXIF
// thumbnail dropped, the ICC profile, the orientation and the density kept.
// Empty when it cannot be re-coded (damaged, too many scans, too big).
QByteArray RecodeJpegLossless(const QByteArray& jpeg);

// The smallest PNG of a picture found by trying colour types and filters:
// a palette when the colours fit, grey when the picture is grey, alpha only
// when a pixel is transparent. extraChunks (complete chunks: length, type,
// data, CRC) go before the pixels.
QByteArray EncodeSmallestPng(const QImage& image, const QByteArray& extraChunks = {});
