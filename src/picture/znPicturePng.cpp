// The smallest PNG of a picture: colour types and filters tried on a
// sample with a quick deflate, the winner compressed with a strong one.
#include "picture/znPicturePng.h"
#include "picture/znPictureRecode.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <libdeflate.h>

namespace {

// libdeflate's compressors, one per level and thread, kept for the thread's
// life: allocating one costs more than compressing a small picture.
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

QByteArray zlibAt(int level, const uchar* data, size_t size)
{
    libdeflate_compressor* c = compressorAt(level);
    if (!c)
        return {};
    QByteArray out(qsizetype(libdeflate_zlib_compress_bound(c, size)), Qt::Uninitialized);
    const size_t n = libdeflate_zlib_compress(c, data, size, out.data(), size_t(out.size()));
    out.resize(qsizetype(n));
    return out;
}

// The quick level ranks the layouts and filters; the strong one compresses the winner.
// Level 7 (libdeflate's lazy matching with deeper search) comes within 0.8 % of level 9's
// bytes on the corpus's pictures and on screenshots, in a quarter to a third of its time.
constexpr int QuickLevel = 1, StrongLevel = 7;

void putBe32(QByteArray& out, quint32 v)
{
    out += char(v >> 24);
    out += char((v >> 16) & 0xFF);
    out += char((v >> 8) & 0xFF);
    out += char(v & 0xFF);
}

void appendChunk(QByteArray& out, const char* type, const QByteArray& data)
{
    putBe32(out, quint32(data.size()));
    const qsizetype start = out.size();
    out.append(type, 4);
    out += data;
    putBe32(out, libdeflate_crc32(0, out.constData() + start, size_t(out.size() - start)));
}

// The unfiltered rows of one PNG layout.
struct TznPngLayout
{
    int ColourType = 6;   // 0 grey, 2 RGB, 3 palette, 4 grey + alpha, 6 RGBA
    int BitDepth = 8;
    int BytesPerPixel = 4; // for the filters: at least 1
    qsizetype RowBytes = 0;
    std::vector<uchar> Rows;  // height × RowBytes
    QByteArray Palette, Transparency;
};

int paeth(int a, int b, int c)
{
    const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

// One row through one filter; prior is null on the first row (all zero).
// A loop per filter: the row's bytes are the whole of the work.
void filterRow(int type, const uchar* row, const uchar* prior, qsizetype n, int bpp, uchar* out)
{
    const qsizetype lead = std::min<qsizetype>(bpp, n);
    switch (type) {
    case 1:
        std::memcpy(out, row, size_t(lead));
        for (qsizetype i = lead; i < n; ++i)
            out[i] = uchar(row[i] - row[i - bpp]);
        return;
    case 2:
        if (!prior) {
            std::memcpy(out, row, size_t(n));
            return;
        }
        for (qsizetype i = 0; i < n; ++i)
            out[i] = uchar(row[i] - prior[i]);
        return;
    case 3:
        if (!prior) {
            std::memcpy(out, row, size_t(lead));
            for (qsizetype i = lead; i < n; ++i)
                out[i] = uchar(row[i] - row[i - bpp] / 2);
            return;
        }
        for (qsizetype i = 0; i < lead; ++i)
            out[i] = uchar(row[i] - prior[i] / 2);
        for (qsizetype i = lead; i < n; ++i)
            out[i] = uchar(row[i] - (row[i - bpp] + prior[i]) / 2);
        return;
    case 4:
        // Without a prior row Paeth predicts the left neighbour, as Sub does.
        if (!prior) {
            filterRow(1, row, prior, n, bpp, out);
            return;
        }
        for (qsizetype i = 0; i < lead; ++i)
            out[i] = uchar(row[i] - prior[i]);
        for (qsizetype i = lead; i < n; ++i)
            out[i] = uchar(row[i] - paeth(row[i - bpp], prior[i], prior[i - bpp]));
        return;
    default:
        std::memcpy(out, row, size_t(n));
        return;
    }
}

// The sum of a filtered row's bytes taken as signed, the usual guess at how well it deflates.
qint64 absoluteSum(const uchar* row, qsizetype n)
{
    qint64 sum = 0;
    for (qsizetype i = 0; i < n; ++i)
        sum += std::abs(int(qint8(row[i])));
    return sum;
}

// Filtered data for a strategy, of rows [from, to) appended to out: 0-4 one
// filter for every row, 5 the filter of least absolute sum per row.
void appendFiltered(const TznPngLayout& layout, int from, int to, int strategy, std::vector<uchar>& out)
{
    const qsizetype n = layout.RowBytes;
    const size_t start = out.size();
    out.resize(start + size_t((n + 1) * (to - from)));
    std::vector<uchar> trial(strategy < 5 ? 0 : static_cast<size_t>(n));
    for (int y = from; y < to; ++y) {
        const uchar* row = layout.Rows.data() + y * n;
        const uchar* prior = y > 0 ? row - n : nullptr;
        uchar* dst = out.data() + start + size_t((y - from) * (n + 1));
        if (strategy < 5) {
            dst[0] = uchar(strategy);
            filterRow(strategy, row, prior, n, layout.BytesPerPixel, dst + 1);
            continue;
        }
        // The first filter goes straight to its place; a later one only when its sum is less.
        dst[0] = 0;
        filterRow(0, row, prior, n, layout.BytesPerPixel, dst + 1);
        qint64 best = absoluteSum(dst + 1, n);
        for (int type = 1; type < 5 && best > 0; ++type) {
            filterRow(type, row, prior, n, layout.BytesPerPixel, trial.data());
            const qint64 sum = absoluteSum(trial.data(), n);
            if (sum < best) {
                best = sum;
                dst[0] = uchar(type);
                std::memcpy(dst + 1, trial.data(), size_t(n));
            }
        }
    }
}

std::vector<uchar> filtered(const TznPngLayout& layout, int height, int strategy)
{
    std::vector<uchar> out;
    appendFiltered(layout, 0, height, strategy, out);
    return out;
}

// The rows a filter trial compresses: all of a picture of up to 256 KB of
// samples; of a larger one, bands of 16 rows spread evenly over it, about
// 256 KB in all, which ranks the strategies as the whole does (on the
// corpus the choice costs 0.02 % of the bytes saved).
struct TznTrialRows
{
    int Band = 0, Step = 0;  // 0: every row
    qint64 Rows = 0;         // rows the trial holds
};

TznTrialRows trialRows(const TznPngLayout& layout, int height)
{
    constexpr qint64 TrialBytes = qint64(256) << 10;
    constexpr int Band = 16;
    TznTrialRows t;
    t.Rows = height;
    const qint64 total = qint64(layout.RowBytes + 1) * height;
    if (total <= TrialBytes || height < 4 * Band)
        return t;
    t.Band = Band;
    t.Step = int(std::min<qint64>(height, Band * ((total + TrialBytes - 1) / TrialBytes)));
    t.Rows = 0;
    for (int y = 0; y < height; y += t.Step)
        t.Rows += std::min(Band, height - y);
    return t;
}

std::vector<uchar> trialData(const TznPngLayout& layout, int height, int strategy, const TznTrialRows& rows)
{
    if (rows.Band == 0)
        return filtered(layout, height, strategy);
    std::vector<uchar> out;
    out.reserve(size_t((layout.RowBytes + 1) * rows.Rows));
    for (int y = 0; y < height; y += rows.Step)
        appendFiltered(layout, y, std::min(y + rows.Band, height), strategy, out);
    return out;
}

// A set of at most 256 colours with their indexes: open addressing in a
// table four times that size, which a palette's lookups per pixel need.
class TznColourTable
{
public:
    TznColourTable() { std::fill(FIndex, FIndex + Size, -1); }
    // The index of colour, or -1 when it is not in the table.
    int IndexOf(QRgb colour) const
    {
        for (quint32 h = slot(colour);; h = (h + 1) % Size) {
            if (FIndex[h] < 0)
                return -1;
            if (FColour[h] == colour)
                return FIndex[h];
        }
    }
    void Insert(QRgb colour, int index)
    {
        quint32 h = slot(colour);
        while (FIndex[h] >= 0 && FColour[h] != colour)
            h = (h + 1) % Size;
        FColour[h] = colour;
        FIndex[h] = index;
    }

private:
    static constexpr quint32 Size = 1024;
    static quint32 slot(QRgb colour) { return (colour * 2654435761u) >> 22; }
    QRgb FColour[Size] = {};
    int FIndex[Size];
};

// The distinct colours of a straight ARGB32 image in the order they first
// occur, at most 256 of them.
std::optional<QList<QRgb>> distinctColours(const QImage& image)
{
    constexpr int Limit = 256;
    QList<QRgb> colours;
    TznColourTable seen;
    const int w = image.width(), h = image.height();
    for (int y = 0; y < h; ++y) {
        const QRgb* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < w; ++x) {
            if (x > 0 && row[x] == row[x - 1])
                continue;
            if (seen.IndexOf(row[x]) >= 0)
                continue;
            if (colours.size() == Limit)
                return std::nullopt;
            seen.Insert(row[x], int(colours.size()));
            colours.append(row[x]);
        }
    }
    return colours;
}

TznPngLayout paletteLayout(const QImage& image, QList<QRgb> colours)
{
    // Transparent entries first, so that the tRNS chunk stays short.
    std::stable_sort(colours.begin(), colours.end(), [](QRgb a, QRgb b) { return qAlpha(a) < 255 && qAlpha(b) == 255; });
    TznPngLayout layout;
    layout.ColourType = 3;
    const qsizetype count = colours.size();
    layout.BitDepth = count <= 2 ? 1 : count <= 4 ? 2 : count <= 16 ? 4 : 8;
    layout.BytesPerPixel = 1;
    TznColourTable index;
    for (int i = 0; i < count; ++i) {
        index.Insert(colours[i], i);
        layout.Palette += char(qRed(colours[i]));
        layout.Palette += char(qGreen(colours[i]));
        layout.Palette += char(qBlue(colours[i]));
        if (qAlpha(colours[i]) < 255)
            layout.Transparency += char(qAlpha(colours[i]));
    }
    const int w = image.width(), h = image.height();
    layout.RowBytes = (qsizetype(w) * layout.BitDepth + 7) / 8;
    layout.Rows.assign(size_t(layout.RowBytes * h), 0);
    const int perByte = 8 / layout.BitDepth;
    for (int y = 0; y < h; ++y) {
        const QRgb* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        uchar* dst = layout.Rows.data() + y * layout.RowBytes;
        int last = -1;
        QRgb lastColour = 0;
        for (int x = 0; x < w; ++x) {
            if (last < 0 || row[x] != lastColour) {
                last = std::max(0, index.IndexOf(row[x]));
                lastColour = row[x];
            }
            const int shift = 8 - layout.BitDepth * (x % perByte + 1);
            dst[x / perByte] |= uchar(last << shift);
        }
    }
    return layout;
}

TznPngLayout directLayout(const QImage& image, bool grey, bool alpha)
{
    TznPngLayout layout;
    layout.ColourType = grey ? (alpha ? 4 : 0) : (alpha ? 6 : 2);
    layout.BytesPerPixel = (grey ? 1 : 3) + (alpha ? 1 : 0);
    const int w = image.width(), h = image.height();
    layout.RowBytes = qsizetype(w) * layout.BytesPerPixel;
    layout.Rows.resize(size_t(layout.RowBytes * h));
    for (int y = 0; y < h; ++y) {
        const QRgb* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        uchar* dst = layout.Rows.data() + y * layout.RowBytes;
        for (int x = 0; x < w; ++x) {
            const QRgb c = row[x];
            if (grey) {
                *dst++ = uchar(qRed(c));
            } else {
                *dst++ = uchar(qRed(c));
                *dst++ = uchar(qGreen(c));
                *dst++ = uchar(qBlue(c));
            }
            if (alpha)
                *dst++ = uchar(qAlpha(c));
        }
    }
    return layout;
}

QByteArray pngFile(const QImage& image, const TznPngLayout& layout, const QByteArray& idat, const QByteArray& extraChunks)
{
    QByteArray out("\x89PNG\r\n\x1a\n", 8);
    QByteArray ihdr;
    putBe32(ihdr, quint32(image.width()));
    putBe32(ihdr, quint32(image.height()));
    ihdr += char(layout.BitDepth);
    ihdr += char(layout.ColourType);
    ihdr += QByteArray(3, '\0');
    appendChunk(out, "IHDR", ihdr);
    out += extraChunks;
    if (layout.ColourType == 3) {
        appendChunk(out, "PLTE", layout.Palette);
        if (!layout.Transparency.isEmpty())
            appendChunk(out, "tRNS", layout.Transparency);
    }
    appendChunk(out, "IDAT", idat);
    appendChunk(out, "IEND", {});
    return out;
}

} // namespace

std::optional<QByteArray> KeptPngChunks(const QByteArray& png)
{
    static const char* kept[] = {"iCCP", "sRGB", "gAMA", "cHRM", "pHYs"};
    QByteArray out;
    qsizetype at = 8;
    while (at + 12 <= png.size()) {
        const quint32 length = (quint32(quint8(png[at])) << 24) | (quint32(quint8(png[at + 1])) << 16)
                             | (quint32(quint8(png[at + 2])) << 8) | quint32(quint8(png[at + 3]));
        if (length > quint32(png.size() - at - 12))
            return std::nullopt;
        const QByteArray type = png.mid(at + 4, 4);
        if (type == "acTL")
            return std::nullopt;
        if (type == "IDAT" || type == "IEND")
            break;
        for (const char* k : kept)
            if (type == k)
                out += png.mid(at, qsizetype(length) + 12);
        at += qsizetype(length) + 12;
    }
    return out;
}

bool SamePixels(const QImage& decoded, const QImage& other)
{
    if (decoded.size() != other.size())
        return false;
    const int w = decoded.width(), h = decoded.height();
    // Two pictures of one format without a colour table hold the same samples when their rows
    // hold the same bytes (RGB32's unused alpha byte apart); no copy in another format is needed.
    if (decoded.format() == other.format() && decoded.colorCount() == 0 && decoded.depth() >= 8) {
        if (decoded.format() == QImage::Format_RGB32) {
            for (int y = 0; y < h; ++y) {
                const QRgb* a = reinterpret_cast<const QRgb*>(decoded.constScanLine(y));
                const QRgb* b = reinterpret_cast<const QRgb*>(other.constScanLine(y));
                for (int x = 0; x < w; ++x)
                    if ((a[x] | 0xFF000000u) != (b[x] | 0xFF000000u))
                        return false;
            }
            return true;
        }
        const size_t rowBytes = size_t(w) * size_t(decoded.depth() / 8);
        for (int y = 0; y < h; ++y)
            if (std::memcmp(decoded.constScanLine(y), other.constScanLine(y), rowBytes) != 0)
                return false;
        return true;
    }
    // Indexed and straight pictures convert to straight ARGB32 without loss;
    // premultiplied ones hold no colour under alpha 0 to compare.
    const QImage::Format format = decoded.format() == QImage::Format_ARGB32_Premultiplied
                                      ? QImage::Format_ARGB32_Premultiplied
                                      : QImage::Format_ARGB32;
    const QImage a = decoded.convertToFormat(format), b = other.convertToFormat(format);
    const qsizetype rowBytes = qsizetype(w) * 4;
    for (int y = 0; y < h; ++y)
        if (std::memcmp(a.constScanLine(y), b.constScanLine(y), size_t(rowBytes)) != 0)
            return false;
    return true;
}

bool IsOpaque(const QImage& straight)
{
    const int w = straight.width(), h = straight.height();
    for (int y = 0; y < h; ++y) {
        const QRgb* row = reinterpret_cast<const QRgb*>(straight.constScanLine(y));
        for (int x = 0; x < w; ++x)
            if (qAlpha(row[x]) != 255)
                return false;
    }
    return true;
}

// Filters are chosen with a quick deflate, and the strong one runs only for
// the winner, and only when it can still come below the limit.
QByteArray SmallestPng(const QImage& image, const QByteArray& extraChunks, qint64 limit)
{
    if (image.isNull() || image.width() <= 0 || image.height() <= 0)
        return {};
    const QImage straight = image.convertToFormat(QImage::Format_ARGB32);
    const int width = straight.width(), height = straight.height();
    bool alpha = false, grey = true;
    for (int y = 0; y < height; ++y) {
        const QRgb* row = reinterpret_cast<const QRgb*>(straight.constScanLine(y));
        for (int x = 0; x < width; ++x) {
            alpha |= qAlpha(row[x]) != 255;
            grey &= qRed(row[x]) == qGreen(row[x]) && qGreen(row[x]) == qBlue(row[x]);
        }
    }
    // A PNG's profile must fit its colour type: a grey profile grey samples,
    // an RGB one RGB samples or a palette. Readers drop a profile that does not.
    const QByteArray profileClass = PngIccProfile(extraChunks).mid(16, 4);
    const bool greyProfile = profileClass == "GRAY", rgbProfile = profileClass == "RGB ";
    QList<TznPngLayout> layouts;
    if (!(grey && greyProfile))
        if (const auto colours = distinctColours(straight))
            layouts.append(paletteLayout(straight, *colours));
    if (grey && rgbProfile)
        grey = false;
    if (grey || layouts.isEmpty())
        layouts.append(directLayout(straight, grey, alpha));

    qint64 bestSize = -1;
    int bestLayout = 0, bestStrategy = 0;
    // A trial of every row is the winner's data as it stands.
    std::vector<uchar> bestData;
    for (int l = 0; l < layouts.size(); ++l) {
        // Palettes of few bits do best unfiltered or row by row; the other
        // strategies are for bytes that are samples.
        const bool packed = layouts[l].ColourType == 3;
        // Paeth is the single filter that wins most often on samples; the
        // others rarely beat the row-by-row choice by enough to pay their trial.
        const TznTrialRows rows = trialRows(layouts[l], height);
        for (int strategy : {0, 4, 5}) {
            if (packed && strategy == 4)
                continue;
            std::vector<uchar> data = trialData(layouts[l], height, strategy, rows);
            const qint64 sample = zlibAt(QuickLevel, data.data(), data.size()).size();
            const qint64 size = sample * height / std::max<qint64>(1, rows.Rows);
            if (size > 0 && (bestSize < 0 || size < bestSize)) {
                bestSize = size;
                bestLayout = l;
                bestStrategy = strategy;
                bestData = rows.Band == 0 ? std::move(data) : std::vector<uchar>();
            }
        }
    }
    // The strong deflate gains a few percent on the quick one, never a fifth.
    if (bestSize < 0 || (limit > 0 && bestSize * 4 > limit * 5))
        return {};
    if (bestData.empty())
        bestData = filtered(layouts[bestLayout], height, bestStrategy);
    const QByteArray idat = zlibAt(StrongLevel, bestData.data(), bestData.size());
    if (idat.isEmpty())
        return {};
    return pngFile(straight, layouts[bestLayout], idat, extraChunks);
}

QByteArray PngChunksOf(const QImage& image, const QByteArray& iccProfile)
{
    QByteArray out;
    if (image.dotsPerMeterX() > 0 && image.dotsPerMeterY() > 0) {
        QByteArray phys;
        putBe32(phys, quint32(image.dotsPerMeterX()));
        putBe32(phys, quint32(image.dotsPerMeterY()));
        phys += char(1);
        appendChunk(out, "pHYs", phys);
    }
    const QByteArray& icc = iccProfile;
    if (!icc.isEmpty()) {
        QByteArray iccp("ICC Profile\0\0", 13);
        iccp += zlibAt(9, reinterpret_cast<const uchar*>(icc.constData()), size_t(icc.size()));
        appendChunk(out, "iCCP", iccp);
    }
    return out;
}

QByteArray PngIccProfile(const QByteArray& data)
{
    // Profiles are kilobytes, a few megabytes at most; more is no profile.
    constexpr size_t MaxProfile = size_t(16) << 20;
    qsizetype at = data.startsWith("\x89PNG\r\n\x1a\n") ? 8 : 0;
    while (at + 12 <= data.size()) {
        const quint32 length = (quint32(quint8(data[at])) << 24) | (quint32(quint8(data[at + 1])) << 16)
                             | (quint32(quint8(data[at + 2])) << 8) | quint32(quint8(data[at + 3]));
        if (length > quint32(data.size() - at - 12))
            return {};
        if (data.mid(at + 4, 4) == "IDAT")
            return {};
        if (data.mid(at + 4, 4) != "iCCP") {
            at += qsizetype(length) + 12;
            continue;
        }
        const QByteArray body = data.mid(at + 8, qsizetype(length));
        const qsizetype name = body.indexOf('\0');
        if (name < 0 || name + 2 > body.size() || body[name + 1] != 0)
            return {};
        libdeflate_decompressor* d = libdeflate_alloc_decompressor();
        if (!d)
            return {};
        QByteArray out;
        for (size_t size = std::max<size_t>(4096, size_t(body.size()) * 4); size <= MaxProfile; size *= 4) {
            out.resize(qsizetype(size));
            size_t actual = 0;
            const libdeflate_result r = libdeflate_zlib_decompress(d, body.constData() + name + 2, size_t(body.size() - name - 2),
                                                                   out.data(), size, &actual);
            if (r == LIBDEFLATE_SUCCESS) {
                out.resize(qsizetype(actual));
                break;
            }
            out.clear();
            if (r != LIBDEFLATE_INSUFFICIENT_SPACE)
                break;
        }
        libdeflate_free_decompressor(d);
        return out;
    }
    return {};
}

QByteArray EncodeSmallestPng(const QImage& image, const QByteArray& extraChunks)
{
    return SmallestPng(image, extraChunks, 0);
}
