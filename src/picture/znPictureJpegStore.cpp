// Coefficient arrays for progressive JPEGs that hold what the picture's
// coefficients need. libjpeg keeps all coefficients of a progressive picture
// until its last scan is in, 128 bytes a block whatever the output scale:
// 300 MB for 100 megapixels in 4:2:0, 600 MB in 4:4:4. Most of them are
// zero, so a row is kept as one 64-bit mask a block and the non-zero values.
#include "picture/znPictureJpegStore.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <exception>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// The mask of a block's non-zero coefficients, bit i for coefficient i.
uint64_t nonZeroMask(const JCOEF* block)
{
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    uint64_t mask = 0;
    for (int i = 0; i < DCTSIZE2; i += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + i + 8));
        const __m128i zeros = _mm_packs_epi16(_mm_cmpeq_epi16(a, zero), _mm_cmpeq_epi16(b, zero));
        mask |= uint64_t(~unsigned(_mm_movemask_epi8(zeros)) & 0xFFFFu) << i;
    }
    return mask;
#else
    uint64_t mask = 0;
    for (int i = 0; i < DCTSIZE2; ++i)
        mask |= uint64_t(block[i] != 0) << i;
    return mask;
#endif
}

// Packs one block at out (room for 8 + 128 bytes); returns the bytes written.
size_t packBlock(const JCOEF* block, uint8_t* out)
{
    uint64_t mask = nonZeroMask(block);
    std::memcpy(out, &mask, 8);
    uint8_t* values = out + 8;
    for (; mask; mask &= mask - 1, values += 2)
        std::memcpy(values, &block[std::countr_zero(mask)], 2);
    return size_t(values - out);
}

} // namespace

TznPackedBlockArray::TznPackedBlockArray(JDIMENSION blocksPerRow, JDIMENSION rows, JDIMENSION maxAccess)
    : FBlocksPerRow(blocksPerRow), FRows(rows), FMaxAccess(maxAccess)
{
}

bool TznPackedBlockArray::Realize() noexcept
{
    try {
        FPacked.resize(FRows);
        FWindow.assign(size_t(FMaxAccess) * FBlocksPerRow * DCTSIZE2, 0);
        FWindowRows.resize(FMaxAccess);
        for (JDIMENSION i = 0; i < FMaxAccess; ++i)
            FWindowRows[i] = reinterpret_cast<JBLOCKROW>(FWindow.data() + size_t(i) * FBlocksPerRow * DCTSIZE2);
        FScratch.resize(size_t(FBlocksPerRow) * (8 + sizeof(JBLOCK)));
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

JBLOCKARRAY TznPackedBlockArray::Access(JDIMENSION start, JDIMENSION count, bool writable) noexcept
{
    if (FWindowRows.empty() || count > FMaxAccess || start > FRows || count > FRows - start) {
        FBadAccess = true;
        return nullptr;
    }
    // Reading, libjpeg-turbo's block smoothing looks at a row past those it asks for (which its
    // own arrays, held whole, always have), so a read gets every row its window can take.
    const JDIMENSION wanted = writable ? count : std::min(FMaxAccess, FRows - start);
    const JDIMENSION windowEnd = FWindowStart + FWindowCount;
    if (start >= FWindowStart && start + wanted <= windowEnd) {
        FDirty |= writable;
        return FWindowRows.data() + (start - FWindowStart);
    }
    try {
        if (FDirty) {
            for (JDIMENSION i = 0; i < FWindowCount; ++i)
                packRow(FWindowStart + i, FWindowRows[i]);
        }
    } catch (const std::exception&) {
        return nullptr;
    }
    // Rows the window moves on over stay, turned to the front; only the new ones are unpacked.
    JDIMENSION kept = 0;
    if (start >= FWindowStart && start < windowEnd) {
        kept = std::min(windowEnd - start, wanted);
        std::rotate(FWindowRows.begin(), FWindowRows.begin() + (start - FWindowStart), FWindowRows.end());
    }
    for (JDIMENSION i = kept; i < wanted; ++i)
        unpackRow(start + i, FWindowRows[i]);
    FWindowStart = start;
    FWindowCount = wanted;
    FDirty = writable;
    return FWindowRows.data();
}

void TznPackedBlockArray::packRow(JDIMENSION row, const JBLOCK* blocks)
{
    TznRow& packed = FPacked[row];
    const size_t raw = size_t(FBlocksPerRow) * sizeof(JBLOCK);
    uint8_t* out = FScratch.data();
    size_t n = 0;
    for (JDIMENSION b = 0; b < FBlocksPerRow; ++b)
        n += packBlock(blocks[b], out + n);
    if (n == 8 * size_t(FBlocksPerRow)) { // every mask empty
        packed = TznRow();
    } else if (n >= raw) {
        packed.Packed = false;
        packed.Bytes.assign(reinterpret_cast<const uint8_t*>(blocks), reinterpret_cast<const uint8_t*>(blocks) + raw);
    } else {
        packed.Packed = true;
        packed.Bytes.assign(out, out + n);
    }
}

void TznPackedBlockArray::unpackRow(JDIMENSION row, JBLOCK* blocks) const
{
    const TznRow& packed = FPacked[row];
    const size_t raw = size_t(FBlocksPerRow) * sizeof(JBLOCK);
    if (!packed.Packed) {
        std::memcpy(blocks, packed.Bytes.data(), raw);
        return;
    }
    std::memset(blocks, 0, raw);
    if (packed.Bytes.empty())
        return;
    const uint8_t* in = packed.Bytes.data();
    for (JDIMENSION b = 0; b < FBlocksPerRow; ++b) {
        JCOEF* block = blocks[b];
        uint64_t mask;
        std::memcpy(&mask, in, 8);
        in += 8;
        for (; mask; mask &= mask - 1) {
            std::memcpy(&block[std::countr_zero(mask)], in, 2);
            in += 2;
        }
    }
}

TznPackedBlockArray* TznPackedBlockStore::Add(JDIMENSION blocksPerRow, JDIMENSION rows, JDIMENSION maxAccess) noexcept
{
    try {
        FArrays.push_back(std::make_unique<TznPackedBlockArray>(blocksPerRow, rows, maxAccess));
        return FArrays.back().get();
    } catch (const std::exception&) {
        return nullptr;
    }
}

bool TznPackedBlockStore::Realize() noexcept
{
    for (const auto& array : FArrays) {
        if (!array->Realize())
            return false;
    }
    return true;
}
