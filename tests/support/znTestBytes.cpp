#include "znTestBytes.h"

#include <QBuffer>
#include <QFile>
#include <QImageWriter>
#include <QtEndian>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

QByteArray ReadBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool WriteBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size() && file.flush();
}

namespace {

// A GIF of the image's first 256 colours, its first translucent one
// transparent, its LZW
// codes all literals (a clear code before the table would widen), as simple
// writers store them; Qt reads GIF but cannot write it.
QByteArray literalGif(const QImage& image)
{
    const QImage indexed = image.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither | Qt::AvoidDither);
    auto le16 = [](QByteArray& out, int v) { out += char(v & 0xFF); out += char(v >> 8); };
    QByteArray out("GIF89a");
    le16(out, indexed.width());
    le16(out, indexed.height());
    out += char(0xF7);  // a global table of 256 colours
    out += QByteArray(2, '\0');
    for (int i = 0; i < 256; ++i) {
        const QRgb c = i < indexed.colorCount() ? indexed.color(i) : 0;
        out += char(qRed(c));
        out += char(qGreen(c));
        out += char(qBlue(c));
    }
    int transparent = -1;
    for (int i = 0; i < indexed.colorCount() && transparent < 0; ++i)
        if (qAlpha(indexed.color(i)) < 255)
            transparent = i;
    out += QByteArray("\x21\xF9\x04", 3);
    out += char(transparent >= 0 ? 1 : 0);
    out += QByteArray(2, '\0');
    out += char(transparent >= 0 ? transparent : 0);
    out += char(0);
    out += char(0x2C);
    le16(out, 0);
    le16(out, 0);
    le16(out, indexed.width());
    le16(out, indexed.height());
    out += char(0);
    out += char(8);  // minimum code size: 9-bit codes, clear 256, end 257
    QByteArray codes;
    quint32 bits = 0;
    int count = 0;
    auto put = [&](int code) {
        bits |= quint32(code) << count;
        for (count += 9; count >= 8; count -= 8, bits >>= 8)
            codes += char(bits & 0xFF);
    };
    int sinceClear = 254;
    for (int y = 0; y < indexed.height(); ++y)
        for (int x = 0; x < indexed.width(); ++x) {
            if (++sinceClear > 254) {
                put(256);
                sinceClear = 1;
            }
            put(indexed.constScanLine(y)[x]);
        }
    put(257);
    if (count > 0)
        codes += char(bits & 0xFF);
    for (qsizetype at = 0; at < codes.size(); at += 255) {
        const QByteArray block = codes.mid(at, 255);
        out += char(block.size());
        out += block;
    }
    out += char(0);
    out += char(0x3B);
    return out;
}

} // namespace

QByteArray EncodeWithQt(QImage image, const char* format, const TznQtEncoding& how)
{
    if (std::strcmp(format, "gif") == 0)
        return literalGif(image);
    if (how.Dpi > 0) {
        image.setDotsPerMeterX(int(std::lround(how.Dpi / 0.0254)));
        image.setDotsPerMeterY(int(std::lround(how.Dpi / 0.0254)));
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(how.Quality);
    writer.setTransformation(how.Transformation);
    if (!writer.write(image)) {
        ADD_FAILURE() << "Qt cannot write " << format << ": " << writer.errorString().toStdString();
        return {};
    }
    return bytes;
}

QByteArray MakeTestEmf(int frameRight, int frameBottom)
{
    QByteArray b(108 + 20, '\0');
    auto put = [&](int at, quint32 v) { qToLittleEndian<quint32>(v, b.data() + at); };
    put(0, 1);     // EMR_HEADER
    put(4, 108);
    put(16, 199);  // bounds right, bottom in device pixels
    put(20, 99);
    put(32, quint32(frameRight));
    put(36, quint32(frameBottom));
    std::memcpy(b.data() + 40, " EMF", 4);
    put(44, 0x10000);
    put(48, quint32(b.size()));
    put(52, 2);                    // records
    put(72, 1024); put(76, 768);   // reference device in pixels
    put(80, 270); put(84, 203);    // and in millimetres
    put(108, 14);  // EMR_EOF
    put(112, 20);
    put(124, 20);
    return b;
}
