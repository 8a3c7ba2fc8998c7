#include "package/znCompoundFile.h"

#include "platform/znLocalPath.h"

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

namespace {

struct TznDirEntry
{
    QString Name;
    int Type = 0;
    quint32 Start = 0;
    quint64 Size = 0;
};

// The parts of a compound file that locate its streams, read with every table checked.
struct TznCompoundFile
{
    QFile File;
    int Shift = 9;
    quint32 MiniCutoff = 4096;
    quint32 MiniFatStart = kEndOfChain;
    QList<quint32> Fat;
    QList<TznDirEntry> Entries;   // Entries[0] is the root storage

    bool Load(const QString& path);
    // The sector at position index of the chain that begins at start.
    std::optional<quint32> ChainSector(quint32 start, quint64 index) const;
};

bool TznCompoundFile::Load(const QString& path)
{
    if (!OpenLocalFile(File, path))
        return false;
    const QByteArray header = File.read(512);
    if (header.size() < 512 || !IsCompoundFileSignature(header))
        return false;
    Shift = u16(header, 0x1E);
    if (Shift != 9 && Shift != 12)
        return false;
    MiniCutoff = u32(header, 0x38);
    MiniFatStart = u32(header, 0x3C);
    const int sectorSize = 1 << Shift;
    const int perSector = sectorSize / 4;
    TznSectorReader reader(File, Shift);

    // The allocation table's sectors: 109 in the header, the rest in the DIFAT chain.
    QList<quint32> fatSectors;
    const quint32 fatCount = u32(header, 0x2C);
    // Every table sector lies in the file: a count beyond what the file can
    // hold is damage, and must not size the table below.
    if (fatCount > quint32(kMaxTableSectors) || qint64(fatCount) > File.size() / sectorSize)
        return false;
    for (int i = 0; i < 109 && quint32(fatSectors.size()) < fatCount; ++i)
        fatSectors.append(u32(header, 0x4C + 4 * i));
    quint32 difat = u32(header, 0x44);
    QSet<quint32> seen;
    QByteArray sector;
    while (quint32(fatSectors.size()) < fatCount && difat <= kMaxSectorId) {
        if (seen.contains(difat) || !reader.Read(difat, sector))
            return false;
        seen.insert(difat);
        for (int i = 0; i < perSector - 1 && quint32(fatSectors.size()) < fatCount; ++i)
            fatSectors.append(u32(sector, 4 * i));
        difat = u32(sector, sectorSize - 4);
    }
    Fat.reserve(fatSectors.size() * perSector);
    for (quint32 s : fatSectors) {
        if (!reader.Read(s, sector))
            return false;
        for (int i = 0; i < perSector; ++i)
            Fat.append(u32(sector, 4 * i));
    }

    seen.clear();
    quint32 dir = u32(header, 0x30);
    while (dir != kEndOfChain) {
        if (dir >= quint32(Fat.size()) || seen.contains(dir) || seen.size() > kMaxTableSectors || !reader.Read(dir, sector))
            return false;
        seen.insert(dir);
        for (int at = 0; at + 128 <= sectorSize; at += 128) {
            const int type = quint8(sector[at + 66]);
            const int nameBytes = u16(sector, at + 64);
            if (type == 0 || nameBytes < 2 || nameBytes > 64)
                continue;
            TznDirEntry entry;
            entry.Name = QString::fromUtf16(reinterpret_cast<const char16_t*>(sector.constData() + at), nameBytes / 2 - 1);
            entry.Type = type;
            entry.Start = u32(sector, at + 116);
            entry.Size = u32(sector, at + 120);
            Entries.append(entry);
        }
        dir = Fat[dir];
    }
    return !Entries.isEmpty();
}

std::optional<quint32> TznCompoundFile::ChainSector(quint32 start, quint64 index) const
{
    quint32 at = start;
    for (quint64 i = 0; i < index; ++i) {
        if (at >= quint32(Fat.size()) || i > quint64(Fat.size()))
            return std::nullopt;
        at = Fat[at];
    }
    if (at > kMaxSectorId)
        return std::nullopt;
    return at;
}

} // namespace

std::optional<QStringList> CompoundFileEntryNames(const QString& path)
{
    TznCompoundFile cfb;
    if (!cfb.Load(path))
        return std::nullopt;
    QStringList names;
    for (const TznDirEntry& e : cfb.Entries)
        names.append(e.Name);
    return names;
}

std::optional<QByteArray> CompoundFileStreamHead(const QString& path, const QString& name, int bytes)
{
    TznCompoundFile cfb;
    if (!cfb.Load(path) || bytes < 0 || bytes > 64)
        return std::nullopt;
    const TznDirEntry* stream = nullptr;
    for (const TznDirEntry& e : cfb.Entries)
        if (e.Type == 2 && e.Name.compare(name, Qt::CaseInsensitive) == 0 && !stream)
            stream = &e;
    if (!stream || stream->Size < quint64(bytes))
        return std::nullopt;
    TznSectorReader reader(cfb.File, cfb.Shift);
    QByteArray sector;
    if (stream->Size >= cfb.MiniCutoff) {
        if (!reader.Read(stream->Start, sector))
            return std::nullopt;
        return sector.left(bytes);
    }
    // A small stream lives in 64-byte sectors of the root's mini stream; the head needs only
    // the first of them.
    const quint64 miniOffset = quint64(stream->Start) * 64;
    const int sectorSize = 1 << cfb.Shift;
    const auto at = cfb.ChainSector(cfb.Entries[0].Start, miniOffset / sectorSize);
    if (stream->Start > kMaxSectorId || !at || !reader.Read(*at, sector))
        return std::nullopt;
    return sector.mid(int(miniOffset % sectorSize), bytes);
}
