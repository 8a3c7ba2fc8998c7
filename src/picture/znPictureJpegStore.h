#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include <jpeglib.h>

// One whole-image array of DCT blocks, as libjpeg asks for one to hold a progressive picture's
// coefficients while its scans come in. The rows are kept packed (a mask of the non-zero
// coefficients of each block, then those coefficients), and only the rows being accessed are
// unpacked into a small window, so the array takes about what the non-zero coefficients need
// rather than 128 bytes a block. A row that packing would not make smaller stays unpacked.
class TznPackedBlockArray {
public:
    TznPackedBlockArray(JDIMENSION blocksPerRow, JDIMENSION rows, JDIMENSION maxAccess);

    // Allocates the window; false when memory runs out.
    bool Realize() noexcept;
    // Rows from start as libjpeg's access_virt_barray gives them: count rows to write, or to read
    // as many as the window takes (up to maxAccess); all zero until written, valid until the next
    // call. Null when the rows lie outside the array or exceed its window (BadAccess() then
    // tells), or when memory runs out.
    JBLOCKARRAY Access(JDIMENSION start, JDIMENSION count, bool writable) noexcept;
    bool BadAccess() const { return FBadAccess; }

private:
    struct TznRow {
        std::vector<uint8_t> Bytes; // empty: every coefficient is zero
        bool Packed = true;         // false: the blocks as they are
    };

    void packRow(JDIMENSION row, const JBLOCK* blocks);
    void unpackRow(JDIMENSION row, JBLOCK* blocks) const;

    JDIMENSION FBlocksPerRow, FRows, FMaxAccess;
    std::vector<TznRow> FPacked;
    std::vector<JCOEF> FWindow;
    std::vector<JBLOCKROW> FWindowRows;
    std::vector<uint8_t> FScratch;
    JDIMENSION FWindowStart = 0, FWindowCount = 0;
    bool FDirty = false, FBadAccess = false;
};

// The packed arrays of one decoding run; they live as long as the run's decompressor.
class TznPackedBlockStore {
public:
    // A new array, or null when memory runs out.
    TznPackedBlockArray* Add(JDIMENSION blocksPerRow, JDIMENSION rows, JDIMENSION maxAccess) noexcept;
    // Allocates every array's window; false when memory runs out.
    bool Realize() noexcept;

private:
    std::vector<std::unique_ptr<TznPackedBlockArray>> FArrays;
};
