#pragma once

// Synthetic pictures with known content, for the codec's tests and the
// compaction benchmark.

#include <QByteArray>
#include <QImage>

// A picture that compresses like a photograph: smooth gradients, sensor-like noise and hard-edged shapes.
QImage MakePhotographicImage(QSize size, quint32 seed);
// A picture that compresses like a screenshot: flat panels, lines of text-like marks, few colours.
QImage MakeScreenshotImage(QSize size, quint32 seed);

struct TznJpegOptions {
    int Quality = 90;
    int Orientation = 0;         // EXIF orientation to record, 0 for no EXIF block
    int DensityDpi = 0;          // JFIF density in dots per inch, 0 for none (aspect ratio only)
    bool Cmyk = false;           // store as four-component CMYK
    bool AdobeInverted = false;  // with Cmyk: inverted values and Adobe's APP14 segment, else plain ink values
    bool Grey = false;           // store a single grey component
    bool Progressive = false;
    int ExifDpi = 0;             // with Orientation: EXIF resolution in dots per inch, 0 for none
    bool BigEndianExif = false;  // with Orientation: the EXIF block in Motorola byte order
    QByteArray IccProfile = {};  // colour profile to embed, empty for none
};
// Encodes an image with libjpeg exactly as the options say.
QByteArray EncodeSampleJpeg(const QImage& image, const TznJpegOptions& options);
