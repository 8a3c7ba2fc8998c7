// Header parsing of picture parts: format, displayed size, resolution and
// orientation, read without decoding a single pixel.
#include "picture/znPicture.h"
#include "picture/znPictureHeader.h"

#include <QXmlStreamReader>

#include <cmath>
#include <map>

namespace {

constexpr double MetresPerInch = 0.0254;

// A format is recognised when every part of its signature matches.
struct TznSignaturePart { int Offset; const char* Bytes; int Length; };
struct TznSignature { const char* Format; TznSignaturePart Parts[2]; };

const TznSignature Signatures[] = {
    {"jpeg", {{0, "\xFF\xD8\xFF", 3}}},
    {"png", {{0, "\x89PNG\r\n\x1A\n", 8}}},
    {"gif", {{0, "GIF87a", 6}}},
    {"gif", {{0, "GIF89a", 6}}},
    {"bmp", {{0, "BM", 2}}},
    {"tiff", {{0, "II*\0", 4}}},
    {"tiff", {{0, "MM\0*", 4}}},
    {"webp", {{0, "RIFF", 4}, {8, "WEBP", 4}}},
    {"emf", {{0, "\x01\0\0\0", 4}, {40, " EMF", 4}}},
    {"wmf", {{0, "\xD7\xCD\xC6\x9A", 4}}},
    {"wmf", {{0, "\x01\0\x09\0", 4}}},
    {"wmf", {{0, "\x02\0\x09\0", 4}}},
    {"wdp", {{0, "II\xBC\x01", 4}}},
};

bool matches(const QByteArray& bytes, const TznSignature& signature)
{
    for (const TznSignaturePart& part : signature.Parts) {
        if (!part.Bytes)
            continue;
        if (part.Offset + part.Length > bytes.size()
            || memcmp(bytes.constData() + part.Offset, part.Bytes, part.Length) != 0)
            return false;
    }
    return true;
}

double dpiFromMetres(double pixelsPerMetre) { return pixelsPerMetre * MetresPerInch; }

// Resolution in pixels per inch from a value and a TIFF/EXIF unit (2 inch, 3 centimetre).
double dpiFromUnit(double value, int unit)
{
    if (!(value > 0) || !std::isfinite(value))
        return 0;
    if (unit == 3)
        return value * 2.54;
    if (unit == 2)
        return value;
    return 0;
}

// One IFD of a TIFF structure (TIFF files, EXIF blocks, JPEG XR files).
class TznIfd
{
public:
    TznIfd(const TznBytes& data) : FData(data)
    {
        if (data.Size() < 8)
            return;
        const char order = data.At(0);
        if (order != data.At(1) || (order != 'I' && order != 'M'))
            return;
        FLittle = order == 'I';
        const quint32 ifd = U32(4);
        const quint32 count = U16(ifd);
        if (!FData.Has(ifd, 2))
            return;
        for (quint32 i = 0; i < count; ++i) {
            const qint64 entry = qint64(ifd) + 2 + qint64(i) * 12;
            if (!FData.Has(entry, 12))
                break;
            FEntries[U16(entry)] = entry;
        }
        FValid = true;
    }

    bool Valid() const { return FValid; }
    bool Has(quint16 tag) const { return FEntries.count(tag) != 0; }

    // An integer tag (BYTE, SHORT or LONG); fallback when missing.
    quint32 Integer(quint16 tag, quint32 fallback = 0) const
    {
        auto it = FEntries.find(tag);
        if (it == FEntries.end())
            return fallback;
        const qint64 entry = it->second;
        switch (U16(entry + 2)) {
        case 1: return quint8(FData.At(entry + 8));
        case 3: return U16(entry + 8);
        case 4: return U32(entry + 8);
        default: return fallback;
        }
    }

    // A RATIONAL or FLOAT tag; 0 when missing.
    double Real(quint16 tag) const
    {
        auto it = FEntries.find(tag);
        if (it == FEntries.end())
            return 0;
        const qint64 entry = it->second;
        switch (U16(entry + 2)) {
        case 3: case 4: return Integer(tag);
        case 5: {
            const quint32 at = U32(entry + 8);
            const quint32 den = U32(at + 4);
            return den ? double(U32(at)) / den : 0;
        }
        case 11: {
            const quint32 raw = U32(entry + 8);
            float value;
            memcpy(&value, &raw, 4);
            return value;
        }
        default: return 0;
        }
    }

private:
    quint16 U16(qint64 at) const { return FLittle ? FData.Le16(at) : FData.Be16(at); }
    quint32 U32(qint64 at) const { return FLittle ? FData.Le32(at) : FData.Be32(at); }

    TznBytes FData;
    bool FLittle = true;
    bool FValid = false;
    std::map<quint16, qint64> FEntries;
};

std::optional<TznPictureInfo> readJpeg(const TznBytes& b)
{
    TznPictureInfo info;
    double jfifX = 0, jfifY = 0, exifX = 0, exifY = 0;
    bool sizeFound = false;
    qint64 pos = 2;
    while (b.Has(pos, 2)) {
        if (quint8(b.At(pos)) != 0xFF)
            break;
        const quint8 marker = quint8(b.At(pos + 1));
        if (marker == 0xFF) { // fill byte
            ++pos;
            continue;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) {
            pos += 2;
            continue;
        }
        if (marker == 0xD9 || marker == 0xDA || !b.Has(pos + 2, 2))
            break;
        const qint64 length = b.Be16(pos + 2);
        const TznBytes segment = b.Mid(pos + 4, length - 2);
        if (marker == 0xE0 && segment.StartsWith("JFIF", 5) && segment.Size() >= 12) {
            const int units = quint8(segment.At(7));
            const double x = segment.Be16(8), y = segment.Be16(10);
            if (units == 1) {
                jfifX = x;
                jfifY = y;
            } else if (units == 2) {
                jfifX = x * 2.54;
                jfifY = y * 2.54;
            }
        } else if (marker == 0xE1 && segment.StartsWith("Exif\0\0", 6)) {
            const TznIfd ifd(segment.Mid(6, segment.Size() - 6));
            if (ifd.Valid()) {
                const int orientation = int(ifd.Integer(0x0112, 1));
                if (orientation >= 1 && orientation <= 8)
                    info.Orientation = orientation;
                const int unit = int(ifd.Integer(0x0128, 2));
                exifX = dpiFromUnit(ifd.Real(0x011A), unit);
                exifY = dpiFromUnit(ifd.Real(0x011B), unit);
            }
        } else if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC
                   && segment.Size() >= 6 && !sizeFound) {
            info.PixelHeight = segment.Be16(1);
            info.PixelWidth = segment.Be16(3);
            info.Progressive = marker == 0xC2 || marker == 0xC6 || marker == 0xCA || marker == 0xCE;
            sizeFound = true;
        }
        pos += 2 + length;
    }
    if (!sizeFound || info.PixelWidth <= 0 || info.PixelHeight <= 0)
        return std::nullopt;
    // JFIF's density is what the picture says of itself; EXIF only when JFIF has none.
    if (jfifX > 0 && jfifY > 0) {
        info.DpiX = jfifX;
        info.DpiY = jfifY;
    } else if (exifX > 0 && exifY > 0) {
        info.DpiX = exifX;
        info.DpiY = exifY;
    }
    return info;
}

std::optional<TznPictureInfo> readPng(const TznBytes& b)
{
    if (!b.Has(8, 25) || !b.Mid(12, 4).StartsWith("IHDR", 4))
        return std::nullopt;
    TznPictureInfo info;
    info.PixelWidth = int(b.Be32(16));
    info.PixelHeight = int(b.Be32(20));
    const int colourType = quint8(b.At(25));
    info.Alpha = colourType == 4 || colourType == 6;
    qint64 pos = 8;
    while (b.Has(pos, 8)) {
        const qint64 length = b.Be32(pos);
        const TznBytes type = b.Mid(pos + 4, 4);
        if (type.StartsWith("IDAT", 4) || type.StartsWith("IEND", 4))
            break;
        if (type.StartsWith("pHYs", 4) && length >= 9 && b.Has(pos + 8, 9) && b.At(pos + 16) == 1) {
            info.DpiX = dpiFromMetres(b.Be32(pos + 8));
            info.DpiY = dpiFromMetres(b.Be32(pos + 12));
        } else if (type.StartsWith("tRNS", 4)) {
            info.Alpha = true;
        }
        pos += 12 + length;
    }
    if (info.PixelWidth <= 0 || info.PixelHeight <= 0)
        return std::nullopt;
    return info;
}

std::optional<TznPictureInfo> readGif(const TznBytes& b)
{
    if (!b.Has(6, 4))
        return std::nullopt;
    TznPictureInfo info;
    info.PixelWidth = b.Le16(6);
    info.PixelHeight = b.Le16(8);
    return info;
}

std::optional<TznPictureInfo> readBmp(const TznBytes& b)
{
    if (!b.Has(14, 4))
        return std::nullopt;
    TznPictureInfo info;
    const quint32 headerSize = b.Le32(14);
    if (headerSize == 12 && b.Has(18, 4)) {
        info.PixelWidth = b.Le16(18);
        info.PixelHeight = b.Le16(20);
    } else if (headerSize >= 40 && b.Has(14, 40)) {
        info.PixelWidth = std::abs(qint32(b.Le32(18)));
        info.PixelHeight = std::abs(qint32(b.Le32(22))); // negative: stored top-down
        const double x = dpiFromMetres(qint32(b.Le32(38))), y = dpiFromMetres(qint32(b.Le32(42)));
        if (x > 0 && y > 0) {
            info.DpiX = x;
            info.DpiY = y;
        }
        info.Alpha = b.Le16(28) == 32 && headerSize >= 56 && b.Has(14, 56) && b.Le32(14 + 52) != 0;
    } else {
        return std::nullopt;
    }
    return info;
}

std::optional<TznPictureInfo> readTiff(const TznBytes& b)
{
    const TznIfd ifd(b);
    if (!ifd.Valid())
        return std::nullopt;
    TznPictureInfo info;
    info.PixelWidth = int(ifd.Integer(256));
    info.PixelHeight = int(ifd.Integer(257));
    const int unit = int(ifd.Integer(296, 2));
    const double x = dpiFromUnit(ifd.Real(282), unit), y = dpiFromUnit(ifd.Real(283), unit);
    if (x > 0 && y > 0) {
        info.DpiX = x;
        info.DpiY = y;
    }
    const int orientation = int(ifd.Integer(274, 1));
    if (orientation >= 1 && orientation <= 8)
        info.Orientation = orientation;
    info.Alpha = ifd.Has(338);
    return info;
}

std::optional<TznPictureInfo> readWebp(const TznBytes& b)
{
    if (!b.Has(12, 18))
        return std::nullopt;
    TznPictureInfo info;
    const TznBytes chunk = b.Mid(12, 4);
    if (chunk.StartsWith("VP8 ", 4)) {
        if (quint8(b.At(23)) != 0x9D || quint8(b.At(24)) != 0x01 || quint8(b.At(25)) != 0x2A)
            return std::nullopt;
        info.PixelWidth = b.Le16(26) & 0x3FFF;
        info.PixelHeight = b.Le16(28) & 0x3FFF;
    } else if (chunk.StartsWith("VP8L", 4)) {
        if (quint8(b.At(20)) != 0x2F)
            return std::nullopt;
        const quint32 bits = b.Le32(21);
        info.PixelWidth = int(bits & 0x3FFF) + 1;
        info.PixelHeight = int((bits >> 14) & 0x3FFF) + 1;
        info.Alpha = (bits >> 28) & 1;
    } else if (chunk.StartsWith("VP8X", 4)) {
        info.Alpha = quint8(b.At(20)) & 0x10;
        info.PixelWidth = int(b.Le32(24) & 0xFFFFFF) + 1;
        info.PixelHeight = int(b.Le32(27) & 0xFFFFFF) + 1;
    } else {
        return std::nullopt;
    }
    return info;
}

// Natural size of a metafile in pixels at 96 per inch.
int pixelsAt96(double inches) { return int(std::lround(std::abs(inches) * 96)); }

std::optional<TznPictureInfo> readEmf(const TznBytes& b)
{
    if (!b.Has(24, 16))
        return std::nullopt;
    TznPictureInfo info;
    info.Vector = true;
    // rclFrame, inclusive, in hundredths of a millimetre.
    const double width = double(qint32(b.Le32(32))) - qint32(b.Le32(24));
    const double height = double(qint32(b.Le32(36))) - qint32(b.Le32(28));
    info.PixelWidth = pixelsAt96(width / 2540);
    info.PixelHeight = pixelsAt96(height / 2540);
    return info;
}

std::optional<TznPictureInfo> readWmf(const TznBytes& b)
{
    TznPictureInfo info;
    info.Vector = true;
    if (quint8(b.At(0)) == 0xD7 && b.Has(6, 10)) {
        const double perInch = b.Le16(14);
        if (perInch > 0) {
            info.PixelWidth = pixelsAt96((qint16(b.Le16(10)) - qint16(b.Le16(6))) / perInch);
            info.PixelHeight = pixelsAt96((qint16(b.Le16(12)) - qint16(b.Le16(8))) / perInch);
        }
    }
    return info;
}

std::optional<TznPictureInfo> readWdp(const TznBytes& b)
{
    const TznIfd ifd(b);
    if (!ifd.Valid())
        return std::nullopt;
    TznPictureInfo info;
    info.PixelWidth = int(ifd.Integer(0xBC80));
    info.PixelHeight = int(ifd.Integer(0xBC81));
    const double x = ifd.Real(0xBC82), y = ifd.Real(0xBC83);
    if (x > 0 && y > 0) {
        info.DpiX = x;
        info.DpiY = y;
    }
    return info;
}

// An SVG length in pixels at 96 per inch; 0 for percentages and nonsense.
double svgLength(QStringView text)
{
    static const struct { const char* Unit; double Pixels; } units[] = {
        {"px", 1}, {"pt", 96.0 / 72}, {"pc", 16}, {"in", 96}, {"cm", 96 / 2.54}, {"mm", 96 / 25.4}, {"em", 16},
    };
    text = text.trimmed();
    double factor = 1;
    for (const auto& unit : units) {
        if (text.endsWith(QLatin1String(unit.Unit))) {
            factor = unit.Pixels;
            text.chop(2);
            break;
        }
    }
    bool ok = false;
    const double value = text.toDouble(&ok);
    return ok && value > 0 ? value * factor : 0;
}

std::optional<TznPictureInfo> readSvg(const QByteArray& bytes)
{
    QXmlStreamReader xml(bytes);
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() != QLatin1String("svg"))
            return std::nullopt;
        TznPictureInfo info;
        info.Format = "svg";
        info.Vector = true;
        const QXmlStreamAttributes attributes = xml.attributes();
        double width = svgLength(attributes.value("width")), height = svgLength(attributes.value("height"));
        const QStringList viewBox = attributes.value("viewBox").toString().simplified().replace(',', ' ').split(' ');
        if ((width <= 0 || height <= 0) && viewBox.size() == 4) {
            width = viewBox[2].toDouble();
            height = viewBox[3].toDouble();
        }
        info.PixelWidth = width > 0 ? int(std::lround(width)) : 0;
        info.PixelHeight = height > 0 ? int(std::lround(height)) : 0;
        return info;
    }
    return std::nullopt;
}

bool looksLikeSvg(const QByteArray& bytes)
{
    const QByteArray head = bytes.left(4096);
    return head.contains("<svg") && (head.trimmed().startsWith('<') || head.startsWith("\xEF\xBB\xBF"));
}

} // namespace

QString PictureFormatOf(const QByteArray& bytes)
{
    for (const TznSignature& signature : Signatures) {
        if (matches(bytes, signature))
            return QString::fromLatin1(signature.Format);
    }
    return looksLikeSvg(bytes) ? QStringLiteral("svg") : QString();
}

std::optional<TznPictureInfo> ReadPictureInfo(const QByteArray& bytes)
{
    const QString format = PictureFormatOf(bytes);
    if (format.isEmpty())
        return std::nullopt;
    if (format == "svg")
        return readSvg(bytes);

    using TznReader = std::optional<TznPictureInfo> (*)(const TznBytes&);
    static const std::map<QString, TznReader> readers = {
        {"jpeg", readJpeg}, {"png", readPng}, {"gif", readGif}, {"bmp", readBmp}, {"tiff", readTiff},
        {"webp", readWebp}, {"emf", readEmf}, {"wmf", readWmf}, {"wdp", readWdp},
    };
    std::optional<TznPictureInfo> info = readers.at(format)(TznBytes(bytes));
    if (!info)
        return std::nullopt;
    info->Format = format;
    if (!info->Vector && (info->PixelWidth <= 0 || info->PixelHeight <= 0))
        return std::nullopt;
    if (!(info->DpiX > 0 && info->DpiY > 0 && std::isfinite(info->DpiX) && std::isfinite(info->DpiY))) {
        info->DpiX = 96;
        info->DpiY = 96;
    }
    // Orientations 5 to 8 turn the picture a quarter: width and height trade places.
    if (info->Orientation >= 5) {
        std::swap(info->PixelWidth, info->PixelHeight);
        std::swap(info->DpiX, info->DpiY);
    }
    return info;
}
