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

QByteArray EncodeWithQt(QImage image, const char* format, const TznQtEncoding& how)
{
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
