#pragma once

#include <QByteArray>

#include <optional>

// A part's bytes as a raw deflate stream, with what a zip entry records of them.
struct TznDeflated
{
    QByteArray Data;      // the raw deflate stream
    qint64 Size = 0;      // inflated bytes
    quint32 Crc = 0;      // CRC-32 of the inflated bytes
};

// The bytes deflated at a strong level, when that takes fewer than smallerThan bytes, by at
// least a share worth a rewrite of the entry; nothing otherwise. Small entries, and parts
// whose head does not compress (pictures, fonts compressed inside), cost one quick try or
// none.
std::optional<TznDeflated> DeflateIfSmaller(const QByteArray& bytes, qint64 smallerThan);
