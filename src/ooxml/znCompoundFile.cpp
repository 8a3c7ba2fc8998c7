#include "ooxml/znCompoundFile.h"

#include <QFile>
#include <QSet>
#include <QtEndian>

namespace {

const char kSignature[8] = {'\xD0', '\xCF', '\x11', '\xE0', '\xA1', '\xB1', '\x1A', '\xE1'};
constexpr quint32 kEndOfChain = 0xFFFFFFFE;
constexpr quint32 kMaxSectorId = 0xFFFFFFFA;
// Directory and allocation tables of real documents are small; a file whose tables would
// need more is treated as damaged rather than read without bound.
constexpr int kMaxTableSectors = 1 << 16;

class TznSectorReader
{
public:
    TznSectorReader(QFile& file, int shift) : FFile(file), FShift(shift) {}

    bool Read(quint32 sector, QByteArray& out)
    {
        const qint64 offset = (qint64(sector) + 1) << FShift;
        const qint64 size = qint64(1) << FShift;
        if (sector > kMaxSectorId || offset + size > FFile.size() || !FFile.seek(offset))
            return false;
        out = FFile.read(size);
        return out.size() == size;
    }

private:
    QFile& FFile;
    int FShift;
};

quint32 u32(const QByteArray& b, int at) { return qFromLittleEndian<quint32>(b.constData() + at); }
quint16 u16(const QByteArray& b, int at) { return qFromLittleEndian<quint16>(b.constData() + at); }

} // namespace

bool IsCompoundFileSignature(const QByteArray& head)
{
    return head.size() >= 8 && memcmp(head.constData(), kSignature, 8) == 0;
}

std::optional<QStringList> CompoundFileEntryNames(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray header = file.read(512);
    if (header.size() < 512 || !IsCompoundFileSignature(header))
        return std::nullopt;
    const int shift = u16(header, 0x1E);
    if (shift != 9 && shift != 12)
        return std::nullopt;
    const int sectorSize = 1 << shift;
    const int perSector = sectorSize / 4;
    TznSectorReader reader(file, shift);

    // The allocation table's sectors: 109 in the header, the rest in the DIFAT chain.
    QList<quint32> fatSectors;
    const quint32 fatCount = u32(header, 0x2C);
    // Every table sector lies in the file: a count beyond what the file can
    // hold is damage, and must not size the table below.
    if (fatCount > quint32(kMaxTableSectors) || qint64(fatCount) > file.size() / sectorSize)
        return std::nullopt;
    for (int i = 0; i < 109 && quint32(fatSectors.size()) < fatCount; ++i)
        fatSectors.append(u32(header, 0x4C + 4 * i));
    quint32 difat = u32(header, 0x44);
    QSet<quint32> seen;
    QByteArray sector;
    while (quint32(fatSectors.size()) < fatCount && difat <= kMaxSectorId) {
        if (seen.contains(difat) || !reader.Read(difat, sector))
            return std::nullopt;
        seen.insert(difat);
        for (int i = 0; i < perSector - 1 && quint32(fatSectors.size()) < fatCount; ++i)
            fatSectors.append(u32(sector, 4 * i));
        difat = u32(sector, sectorSize - 4);
    }
    QList<quint32> fat;
    fat.reserve(fatSectors.size() * perSector);
    for (quint32 s : fatSectors) {
        if (!reader.Read(s, sector))
            return std::nullopt;
        for (int i = 0; i < perSector; ++i)
            fat.append(u32(sector, 4 * i));
    }

    QStringList names;
    seen.clear();
    quint32 dir = u32(header, 0x30);
    while (dir != kEndOfChain) {
        if (dir >= quint32(fat.size()) || seen.contains(dir) || seen.size() > kMaxTableSectors || !reader.Read(dir, sector))
            return std::nullopt;
        seen.insert(dir);
        for (int at = 0; at + 128 <= sectorSize; at += 128) {
            const int type = quint8(sector[at + 66]);
            const int nameBytes = u16(sector, at + 64);
            if (type == 0 || nameBytes < 2 || nameBytes > 64)
                continue;
            names.append(QString::fromUtf16(reinterpret_cast<const char16_t*>(sector.constData() + at), nameBytes / 2 - 1));
        }
        dir = fat[dir];
    }
    if (names.isEmpty())
        return std::nullopt;
    return names;
}
