#include "display/Histogram.h"

#include <algorithm>

namespace orvi {

namespace {

bool RowIsZero(const uint16_t* pRow, int32_t nWidth) {
    for (int32_t x = 0; x < nWidth; ++x)
        if (pRow[x] != 0) return false;
    return true;
}

bool ColumnIsZero(const uint16_t* pPixels, int32_t nWidth, int32_t nTop, int32_t nBottom, int32_t nColumn) {
    for (int32_t y = nTop; y < nBottom; ++y)
        if (pPixels[size_t(y) * size_t(nWidth) + size_t(nColumn)] != 0) return false;
    return true;
}

}  // namespace

CPixelRect ExposedField(const uint16_t* pPixels, int32_t nWidth, int32_t nHeight) {
    if (pPixels == nullptr || nWidth <= 0 || nHeight <= 0) return {};
    int32_t nTop = 0, nBottom = nHeight;
    while (nTop < nBottom && RowIsZero(pPixels + size_t(nTop) * size_t(nWidth), nWidth)) ++nTop;
    if (nTop == nBottom) return {};
    while (RowIsZero(pPixels + size_t(nBottom - 1) * size_t(nWidth), nWidth)) --nBottom;
    // A non-zero pixel lies between nTop and nBottom, so the columns stop too.
    int32_t nLeft = 0, nRight = nWidth;
    while (ColumnIsZero(pPixels, nWidth, nTop, nBottom, nLeft)) ++nLeft;
    while (ColumnIsZero(pPixels, nWidth, nTop, nBottom, nRight - 1)) --nRight;
    return {nLeft, nTop, nRight - nLeft, nBottom - nTop};
}

void ComputeHistogram(const uint16_t* pPixels, int32_t nWidth, int32_t nHeight, CPixelRect rc, CHistogram& h) {
    h.counts.fill(0);
    h.nTotal = 0;
    h.nMin = h.nMax = 0;
    h.nPeak = 0;
    if (pPixels == nullptr || nWidth <= 0 || nHeight <= 0) return;
    const int32_t x0 = std::max(rc.nX, 0), y0 = std::max(rc.nY, 0);
    const int32_t x1 = std::min<int64_t>(int64_t(rc.nX) + rc.nW, nWidth);
    const int32_t y1 = std::min<int64_t>(int64_t(rc.nY) + rc.nH, nHeight);
    if (x1 <= x0 || y1 <= y0) return;

    // Four partial tables, so that runs of equal values do not wait on one
    // counter; summed at the end.
    static thread_local std::array<std::array<uint32_t, kHistogramBins>, 4> parts;
    for (auto& p : parts) p.fill(0);
    const int32_t nRowLen = x1 - x0;
    for (int32_t y = y0; y < y1; ++y) {
        const uint16_t* p = pPixels + size_t(y) * size_t(nWidth) + size_t(x0);
        int32_t i = 0;
        for (; i + 4 <= nRowLen; i += 4) {
            ++parts[0][p[i] & kHistogramMaxValue];
            ++parts[1][p[i + 1] & kHistogramMaxValue];
            ++parts[2][p[i + 2] & kHistogramMaxValue];
            ++parts[3][p[i + 3] & kHistogramMaxValue];
        }
        for (; i < nRowLen; ++i) ++parts[0][p[i] & kHistogramMaxValue];
    }
    bool bFirst = true;
    for (size_t v = 0; v < kHistogramBins; ++v) {
        const uint32_t n = parts[0][v] + parts[1][v] + parts[2][v] + parts[3][v];
        h.counts[v] = n;
        if (n == 0) continue;
        if (bFirst) {
            h.nMin = uint16_t(v);
            bFirst = false;
        }
        h.nMax = uint16_t(v);
        h.nTotal += n;
        h.nPeak = std::max(h.nPeak, n);
    }
}

void ComputeFieldHistogram(const uint16_t* pPixels, int32_t nWidth, int32_t nHeight, CHistogram& h) {
    ComputeHistogram(pPixels, nWidth, nHeight, ExposedField(pPixels, nWidth, nHeight), h);
}

uint16_t HistogramPercentile(const CHistogram& h, double fFraction) {
    if (h.nTotal == 0) return 0;
    fFraction = std::clamp(fFraction, 0.0, 1.0);
    // At least one pixel, so the 0 % point is the lowest value counted.
    const uint64_t nWanted = std::max<uint64_t>(1, uint64_t(fFraction * double(h.nTotal) + 0.5));
    uint64_t nSum = 0;
    for (size_t v = 0; v < kHistogramBins; ++v) {
        nSum += h.counts[v];
        if (nSum >= nWanted) return uint16_t(v);
    }
    return h.nMax;
}

}  // namespace orvi
