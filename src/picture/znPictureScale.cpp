#include "picture/znPictureScale.h"

#include <algorithm>
#include <cmath>

TznBoxScaler::TznTaps TznBoxScaler::MakeTaps(int sourceLength, double from, double to, int outLength)
{
    TznTaps taps;
    const double step = (to - from) / outLength;
    taps.Stride = int(std::ceil(step)) + 2;
    taps.Start.resize(outLength);
    taps.Count.resize(outLength);
    taps.Weights.assign(size_t(outLength) * taps.Stride, 0.0f);
    for (int i = 0; i < outLength; ++i) {
        const double a = from + i * step, b = from + (i + 1) * step;
        const int first = std::clamp(int(std::floor(a)), 0, sourceLength - 1);
        const int last = std::clamp(int(std::ceil(b)) - 1, first, sourceLength - 1);
        const int count = std::min(last - first + 1, taps.Stride);
        double sum = 0;
        float* weights = &taps.Weights[size_t(i) * taps.Stride];
        for (int k = 0; k < count; ++k) {
            const int s = first + k;
            // A source pixel counts by the part of it the output pixel covers.
            const double overlap = std::min(b, s + 1.0) - std::max(a, double(s));
            weights[k] = float(std::max(overlap, 0.0));
            sum += weights[k];
        }
        if (sum <= 0) { // a region thinner than a pixel: take the pixel it lies in
            weights[0] = 1;
            sum = 1;
        }
        for (int k = 0; k < count; ++k)
            weights[k] = float(weights[k] / sum);
        taps.Start[i] = first;
        taps.Count[i] = count;
    }
    return taps;
}

TznBoxScaler::TznBoxScaler(int width, int height, int channels, const QRectF& region, QSize outSize,
                           QImage::Format format)
    : FWidth(width), FChannels(channels), FResult(outSize, format)
{
    FResult.fill(0);
    FColumns = MakeTaps(width, region.left(), region.right(), outSize.width());
    FRows = MakeTaps(height, region.top(), region.bottom(), outSize.height());
    FFirstRow = FRows.Start.front();
    FEndRow = FRows.Start.back() + FRows.Count.back();
    FRing = FRows.Stride + 1;
    FBuffer.assign(size_t(FRing) * outSize.width() * channels, 0.0f);
    FSum.assign(size_t(outSize.width()) * channels, 0.0f);
}

template <int C>
void TznBoxScaler::FilterRow(const uchar* row, float* out) const noexcept
{
    const int outWidth = FResult.width();
    for (int x = 0; x < outWidth; ++x) {
        const uchar* src = row + size_t(FColumns.Start[x]) * C;
        const float* weights = &FColumns.Weights[size_t(x) * FColumns.Stride];
        const int count = FColumns.Count[x];
        float sum[C] = {};
        for (int k = 0; k < count; ++k) {
            for (int c = 0; c < C; ++c)
                sum[c] += weights[k] * src[k * C + c];
        }
        for (int c = 0; c < C; ++c)
            out[x * C + c] = sum[c];
    }
}

template <int C>
void TznBoxScaler::EmitRow(int outY) noexcept
{
    const size_t rowFloats = size_t(FResult.width()) * C;
    const int first = FRows.Start[outY];
    const int count = FRows.Count[outY];
    const float* weights = &FRows.Weights[size_t(outY) * FRows.Stride];
    float* sum = FSum.data();
    // Row by row over whole lines, so the compiler can vectorise the sums.
    const float* source = &FBuffer[size_t(first % FRing) * rowFloats];
    for (size_t i = 0; i < rowFloats; ++i)
        sum[i] = weights[0] * source[i];
    for (int k = 1; k < count; ++k) {
        source = &FBuffer[size_t((first + k) % FRing) * rowFloats];
        const float w = weights[k];
        for (size_t i = 0; i < rowFloats; ++i)
            sum[i] += w * source[i];
    }
    uchar* dest = FResult.scanLine(outY);
    for (size_t i = 0; i < rowFloats; ++i)
        dest[i] = uchar(std::clamp(int(sum[i] + 0.5f), 0, 255));
}

void TznBoxScaler::AddRow(int y, const uchar* row) noexcept
{
    if (y < FFirstRow || y >= FEndRow || FNextOut >= FResult.height())
        return;
    const size_t rowFloats = size_t(FResult.width()) * FChannels;
    float* slot = &FBuffer[size_t(y % FRing) * rowFloats];
    if (FChannels == 1)
        FilterRow<1>(row, slot);
    else
        FilterRow<4>(row, slot);
    // Every output row whose last source row has arrived is complete.
    while (FNextOut < FResult.height() && FRows.Start[FNextOut] + FRows.Count[FNextOut] - 1 <= y) {
        if (FChannels == 1)
            EmitRow<1>(FNextOut);
        else
            EmitRow<4>(FNextOut);
        ++FNextOut;
    }
}
