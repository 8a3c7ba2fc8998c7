#include "package/znDeflate.h"

#include <libdeflate.h>

#include <algorithm>

namespace {

// libdeflate's compressors, one per level and thread, kept for the thread's life: a package
// has dozens of entries, and allocating a strong compressor costs more than a small entry's try.
libdeflate_compressor* compressorAt(int level)
{
    struct TznCompressors
    {
        libdeflate_compressor* ByLevel[13] = {};
        ~TznCompressors()
        {
            for (libdeflate_compressor* c : ByLevel)
                if (c)
                    libdeflate_free_compressor(c);
        }
    };
    thread_local TznCompressors compressors;
    libdeflate_compressor*& c = compressors.ByLevel[std::clamp(level, 0, 12)];
    if (!c)
        c = libdeflate_alloc_compressor(std::clamp(level, 0, 12));
    return c;
}

// The bytes at level, or an empty array when the stream does not fit into limit bytes.
QByteArray deflateAt(const QByteArray& bytes, int level, qint64 limit)
{
    libdeflate_compressor* c = compressorAt(level);
    if (!c || limit <= 0)
        return {};
    QByteArray out(qsizetype(limit), Qt::Uninitialized);
    // A stream that does not fit is not wanted: libdeflate says so by returning 0.
    const size_t n = libdeflate_deflate_compress(c, bytes.constData(), size_t(bytes.size()), out.data(), size_t(out.size()));
    out.resize(qsizetype(n));
    return out;
}

// The share of its bytes a part's first kSample bytes take at a quick level: what the whole
// part may take at a strong one, a few per cent less.
constexpr qsizetype kSample = 64 * 1024;

// Below this gain an entry keeps the bytes it had.
constexpr qint64 kMinGain = 64;
// Entries smaller than this are left as they are: they cannot gain what the try costs.
constexpr qint64 kMinEntry = 4096;
// libdeflate's level 7 is half a per cent smaller than its level 6 (itself smaller than
// zlib's) for a fifth more time. Level 6 and then 8 where 6 gained kilobytes took 40 % more
// time on the corpus for 0.2 % of the bytes saved; level 9 is slower again for less.
constexpr int kLevel = 7;

} // namespace

std::optional<TznDeflated> DeflateIfSmaller(const QByteArray& bytes, qint64 smallerThan)
{
    if (bytes.isEmpty() || smallerThan < kMinEntry)
        return std::nullopt;
    // Worth it only when at least kMinGain bytes and 1 % go.
    const qint64 limit = std::min(smallerThan - kMinGain, smallerThan * 99 / 100);
    // A part the quick level does not bring near the limit (a picture, a font compressed
    // inside, a part its writer deflated well) is not worth a whole try. The head has less
    // history to match against than the whole, so its share is taken with some room.
    if (bytes.size() > 2 * kSample) {
        const QByteArray head = bytes.left(kSample);
        const QByteArray quick = deflateAt(head, 6, head.size() + 64);
        const double share = quick.isEmpty() ? 1.0 : double(quick.size()) / double(head.size());
        if (share > 0.97 || share * double(bytes.size()) > double(limit) * 1.05)
            return std::nullopt;
    }
    QByteArray best = deflateAt(bytes, kLevel, limit);
    if (best.isEmpty())
        return std::nullopt;
    TznDeflated out;
    out.Data = best;
    out.Size = bytes.size();
    out.Crc = quint32(libdeflate_crc32(0, bytes.constData(), size_t(bytes.size())));
    return out;
}
