#include "display/Histogram.h"

#include "imaging/Parallel.h"

#include <algorithm>
#include <vector>

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

    // Each worker counts its band of rows into two partial tables of its own
    // (so runs of equal values do not wait on one counter); summed at the end.
    const int32_t nRows = y1 - y0, nRowLen = x1 - x0;
    const size_t nChunks = WorkerCount(size_t(nRows) * size_t(nRowLen), size_t{1} << 20);
    std::vector<uint32_t> parts(nChunks * 2 * kHistogramBins, 0);
    RunChunks(nChunks, nChunks, [&](size_t c) {
        uint32_t* pA = parts.data() + c * 2 * kHistogramBins;
        uint32_t* pB = pA + kHistogramBins;
        const int32_t r0 = y0 + int32_t(size_t(nRows) * c / nChunks);
        const int32_t r1 = y0 + int32_t(size_t(nRows) * (c + 1) / nChunks);
        for (int32_t y = r0; y < r1; ++y) {
            const uint16_t* p = pPixels + size_t(y) * size_t(nWidth) + size_t(x0);
            int32_t i = 0;
            for (; i + 2 <= nRowLen; i += 2) {
                ++pA[p[i] & kHistogramMaxValue];
                ++pB[p[i + 1] & kHistogramMaxValue];
            }
            if (i < nRowLen) ++pA[p[i] & kHistogramMaxValue];
        }
    });
    bool bFirst = true;
    for (size_t v = 0; v < kHistogramBins; ++v) {
        uint32_t n = 0;
        for (size_t t = 0; t < nChunks * 2; ++t) n += parts[t * kHistogramBins + v];
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

uint16_t HistogramPercentile(const CHistogram& h, double fFraction, uint16_t nFrom) {
    uint64_t nTotal = h.nTotal;
    for (size_t v = 0; v < nFrom && v < kHistogramBins; ++v) nTotal -= h.counts[v];
    if (nTotal == 0) return 0;
    fFraction = std::clamp(fFraction, 0.0, 1.0);
    // At least one pixel, so the 0 % point is the lowest value counted.
    const uint64_t nWanted = std::max<uint64_t>(1, uint64_t(fFraction * double(nTotal) + 0.5));
    uint64_t nSum = 0;
    for (size_t v = nFrom; v < kHistogramBins; ++v) {
        nSum += h.counts[v];
        if (nSum >= nWanted) return uint16_t(v);
    }
    return h.nMax;
}

}  // namespace orvi
