#pragma once

#include <QImage>
#include <QRectF>

#include <vector>

// Area-averaging reduction fed one source row at a time, so a decoder can
// stream its rows through it and never hold the whole picture. Each output
// pixel is the mean of the source area it covers, partly covered source
// pixels weighted by the covered fraction. Colours must be premultiplied
// when there is alpha, so transparent pixels do not bleed into their
// neighbours.
class TznBoxScaler
{
public:
    // Reduces region (in source pixels) of a source width × height with channels bytes per pixel
    // (1: Grayscale8, 4: any 32-bit layout, kept as it is) to an image of outSize in format.
    TznBoxScaler(int width, int height, int channels, const QRectF& region, QSize outSize, QImage::Format format);

    // Source rows the result needs: [FirstRow(), EndRow()).
    int FirstRow() const { return FFirstRow; }
    int EndRow() const { return FEndRow; }
    // Hands over source row y; rows arrive in increasing order, rows outside the region are ignored.
    // Allocates nothing, so it may run inside a decoder's error-jump scope.
    void AddRow(int y, const uchar* row) noexcept;
    // The reduced picture; rows never fed stay black.
    const QImage& Result() const { return FResult; }

private:
    struct TznTaps {
        std::vector<int> Start;      // first source index per output index
        std::vector<int> Count;      // number of source indices per output index
        std::vector<float> Weights;  // Stride weights per output index
        int Stride = 0;
    };
    static TznTaps MakeTaps(int sourceLength, double from, double to, int outLength);
    template <int C> void FilterRow(const uchar* row, float* out) const noexcept;
    template <int C> void EmitRow(int outY) noexcept;

    int FWidth, FChannels;
    TznTaps FColumns, FRows;
    int FFirstRow = 0, FEndRow = 0, FNextOut = 0;
    int FRing = 0;                   // rows kept in FBuffer
    std::vector<float> FBuffer;      // FRing filtered rows of FResult.width() * FChannels
    std::vector<float> FSum;         // one output row being summed
    QImage FResult;
};
