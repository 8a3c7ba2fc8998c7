#pragma once

// Internals shared by the picture codec's files.

#include <QByteArray>
#include <QString>

#include <cstring>

// A bounds-checked view of bytes: reads outside the view give 0, so header
// parsers never run off a truncated file.
class TznBytes
{
public:
    explicit TznBytes(const QByteArray& bytes) : FData(bytes.constData()), FSize(bytes.size()) {}
    TznBytes(const char* data, qint64 size) : FData(data), FSize(size < 0 ? 0 : size) {}

    qint64 Size() const { return FSize; }
    // True when length bytes from at lie inside the view.
    bool Has(qint64 at, qint64 length) const { return at >= 0 && length >= 0 && at + length <= FSize; }
    char At(qint64 at) const { return Has(at, 1) ? FData[at] : 0; }
    quint16 Be16(qint64 at) const { return quint16((Byte(at) << 8) | Byte(at + 1)); }
    quint16 Le16(qint64 at) const { return quint16(Byte(at) | (Byte(at + 1) << 8)); }
    quint32 Be32(qint64 at) const { return (quint32(Be16(at)) << 16) | Be16(at + 2); }
    quint32 Le32(qint64 at) const { return Le16(at) | (quint32(Le16(at + 2)) << 16); }
    // The part from at of length bytes, cut to what exists.
    TznBytes Mid(qint64 at, qint64 length) const
    {
        if (at < 0 || at >= FSize || length <= 0)
            return TznBytes(nullptr, 0);
        return TznBytes(FData + at, std::min(length, FSize - at));
    }
    bool StartsWith(const char* prefix, int length) const
    {
        return Has(0, length) && memcmp(FData, prefix, length) == 0;
    }

private:
    quint32 Byte(qint64 at) const { return quint8(At(at)); }

    const char* FData;
    qint64 FSize;
};

// The format name of a picture's bytes from its signature ("jpeg", "png"...), empty when unknown.
QString PictureFormatOf(const QByteArray& bytes);
