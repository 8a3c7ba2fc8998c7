#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

#include <optional>

// The picture codec of the document server: reads what a picture part is from
// its header, and renders the visible part of a picture at the size it is
// shown. Every function here is thread-safe: workers call them at once.

struct TznPictureInfo {
    int PixelWidth = 0, PixelHeight = 0; // as displayed: after the EXIF orientation
    double DpiX = 96, DpiY = 96;         // from the header (JFIF, EXIF, PNG pHYs, BMP, TIFF...), 96 when it has none
    QString Format;                      // "jpeg", "png", "gif", "bmp", "tiff", "webp", "emf", "wmf", "svg", "wdp", ...
    bool Vector = false;                 // EMF, WMF, SVG and other formats that have no pixels
    int Orientation = 1;                 // EXIF orientation 1-8 of the stored pixels (1 when the header has none)
    bool Alpha = false;                  // the header declares an alpha channel or a transparent colour
    bool Progressive = false;            // JPEG in several scans: decoding holds all its coefficients
};

// Size and resolution from the header only (no pixel decoding); nullopt for bytes that are no known picture.
std::optional<TznPictureInfo> ReadPictureInfo(const QByteArray& bytes);

// PasteSpecial data types the renderer knows; every other code renders as eznPasteAuto.
enum : int {
    eznPasteAuto = 13, // JPEG for opaque photographs and JPEG sources, PNG for transparency and graphics
    eznPastePng = 14,  // always PNG (lossless; palette when 256 colours or fewer)
    eznPasteJpeg = 15, // always JPEG (transparent areas flattened onto white)
};

// Pictures with more pixels than this are refused before any pixel is allocated.
constexpr qint64 MaxPicturePixels = 100'000'000;

struct TznCrop { double Left = 0, Top = 0, Right = 0, Bottom = 0; }; // fractions of the displayed picture (a:srcRect / 100000)
struct TznRenderRequest {
    QByteArray Bytes;            // the picture part's bytes
    TznCrop Crop;
    qint64 ShownCx = 0, ShownCy = 0; // shown size in EMU (914400 per inch)
    int Resolution = 150;        // pixels per inch of the result
    int Quality = 85;            // JPEG quality 1-100
    int PasteType = 13;          // PasteSpecial data type
};
struct TznRendered {
    QByteArray Bytes;            // the encoded result, or the source's own bytes
    QString Extension;           // "jpeg" or "png" (file extension of the new media part); the source's own
                                 // format ("gif", "bmp", "tiff", "webp", "wdp" too) when SourceBytes
    QString ContentType;         // "image/jpeg", "image/png", ... to match
    int PixelWidth = 0, PixelHeight = 0; // as displayed
    bool SourceBytes = false;    // Bytes are request.Bytes: nothing was decoded nor re-coded, so the
                                 // picture, its crop and its part stay as they are
};

// Renders the visible part as shown: crop and EXIF orientation applied, transparency kept, resampled with
// an area-averaging filter to the shown size at Resolution, never enlarged beyond its own pixels. Negative
// crop fractions (a picture shrunk inside its frame) become transparent margins.
//
// A picture is decoded and re-encoded only when that reduces its pixels: when the crop removes at least
// 10 % of them, or when the rendering has fewer pixels than the visible part (fewer than 90 % of them for a
// JPEG source, which a re-encoding costs a generation of loss). Otherwise the result is the source's own
// bytes with its format's extension and content type (SourceBytes), whatever the paste type, and nothing is
// decoded. A re-encoded picture is upright (no orientation tag turns it again) and carries the source's
// colour profile, RGB or grey, embedded unchanged (JPEG APP2, PNG iCCP). A lossless source becomes JPEG
// under eznPasteAuto only when PhotographJpeg says so.
//
// Raises EznError (message naming the reason) when the picture cannot be decoded: damaged, unknown format,
// more than 100 megapixels, vector formats, animations; vector and unknown formats even when not reduced.
TznRendered RenderPicture(const TznRenderRequest& request);

// The JPEG at quality of an opaque picture that is a photograph, with iccProfile embedded: many colours
// and most 8 x 8 blocks holding dozens of them, few pixels in long runs of equal ones, and a JPEG whose
// decoded pixels stay within 40 dB PSNR of the picture's. Empty for every other picture (screenshots,
// drawings, icons, text), which is better kept lossless.
QByteArray PhotographJpeg(const QImage& image, int quality, const QByteArray& iccProfile = {});
