#pragma once

// Synthetic pictures with known content, for the codec's tests and the
// compaction benchmark.

#include <QByteArray>
#include <QImage>

// A picture that compresses like a photograph: smooth gradients, sensor-like noise of up to ±noise
// and hard-edged shapes. The default noise is a small sensor's in dim light; a good camera's is ±3.
QImage MakePhotographicImage(QSize size, quint32 seed, int noise = 12);
// A picture that compresses like a screenshot: flat panels, lines of text-like marks, few colours.
QImage MakeScreenshotImage(QSize size, quint32 seed);

// A ribbon of a program's window: lines of coloured antialiased letters on flat panels, with small
// gradient-filled buttons; many colours, yet drawn, not photographed.
QImage MakeRibbonImage(QSize size, quint32 seed);
// A product icon: a rounded, gradient-filled square with a white glyph and a one-pixel dark border.
QImage MakeIconImage(int side);
// A small grey ICC profile (class display, colour space GRAY, a gamma curve) built byte by byte.
QByteArray MakeGreyIccProfile(double gamma);

struct TznJpegOptions {
    int Quality = 90;
    int Orientation = 0;         // EXIF orientation to record, 0 for no EXIF block
    int DensityDpi = 0;          // JFIF density in dots per inch, 0 for none (aspect ratio only)
    bool Cmyk = false;           // store as four-component CMYK
    bool AdobeInverted = false;  // with Cmyk: inverted values and Adobe's APP14 segment, else plain ink values
    bool Grey = false;           // store a single grey component
    bool Progressive = false;
    QSize LumaSampling = {2, 2}; // with colour: luma's sampling factors over chroma's, 2 x 2 for 4:2:0, 1 x 1 for 4:4:4
    int ExifDpi = 0;             // with Orientation: EXIF resolution in dots per inch, 0 for none
    bool BigEndianExif = false;  // with Orientation: the EXIF block in Motorola byte order
    QByteArray IccProfile = {};  // colour profile to embed, empty for none
};
// Encodes an image with libjpeg exactly as the options say.
QByteArray EncodeSampleJpeg(const QImage& image, const TznJpegOptions& options);

// The first scans of a JPEG, then its end marker: a progressive picture of which only the coarse
// scans arrived, which libjpeg decodes without complaint (and smooths its blocks).
QByteArray KeepFirstJpegScans(const QByteArray& jpeg, int scans);
// Decodes a JPEG with libjpeg alone (its own memory manager) at scale eighths / 8, the accurate
// integer DCT and the library's other defaults: Grayscale8 for grey pictures, RGB32 otherwise. Null
// when libjpeg fails.
QImage DecodeSampleJpeg(const QByteArray& jpeg, int eighths);
