// The 3 x 3 median filter of the corrected image.
//
// Limiting the result to 16383 commutes with the median, so every input is
// limited to 16383 first; the values then fit signed 16-bit lanes, whose
// min/max every x86-64 processor has in vector form. The median of nine is
// taken as med3(max of column minima, med3 of column medians, min of column
// maxima) over the three vertically sorted columns; output rows are made in
// pairs that share the sort of their two middle rows. Limited copies of the
// rows still needed are kept in a small ring, so the filter works in place
// without a copy of the frame; the rows are taken in strips of columns so that
// the ring stays in the first-level cache. The loops (SimdKernels) are plain, vectorised
// by the compiler for the x86-64 baseline and for AVX2.
#include "imaging/Parallel.h"
#include "imaging/PostProcess.h"
#include "imaging/SimdKernels.h"

#include <vector>

namespace orvi {
namespace {

// Output columns per strip: a strip's ring rows and sorted columns (about
// 20 KB) stay in the first-level cache.
constexpr int32_t kStripColumns = 1024;

inline int16_t Limited(uint16_t v) { return static_cast<int16_t>(v < kMaxPixelValue ? v : kMaxPixelValue); }

// Filters output rows [y0, y1) of one band, strip by strip. pBelow and pAbove
// are limited copies of rows y0 - 1 and y1 (full width), taken before any
// band started writing. A strip works on columns c0 - 1 .. c1 of its rows;
// column c0 - 1 has already been written by the strip to its left, so the
// band saves those columns before it writes anything.
void FilterBand(uint16_t* pFrame, int32_t nWidth, int32_t y0, int32_t y1, const int16_t* pBelow,
                const int16_t* pAbove) {
    const CSimdKernels& k = ActiveKernels();
    const size_t w = size_t(nWidth);
    const int32_t nStrips = (nWidth + kStripColumns - 1) / kStripColumns;
    const size_t nBandRows = size_t(y1 - y0);
    std::vector<int16_t> left(size_t(nStrips - 1) * nBandRows);
    for (int32_t s = 1; s < nStrips; ++s)
        for (int32_t r = y0; r < y1; ++r)
            left[size_t(s - 1) * nBandRows + size_t(r - y0)] =
                Limited(pFrame[size_t(r) * w + size_t(s) * kStripColumns - 1]);

    const size_t nSlot = size_t(kStripColumns) + 2;
    std::vector<int16_t> buf(10 * nSlot);
    int16_t* ring[4] = {&buf[0], &buf[nSlot], &buf[2 * nSlot], &buf[3 * nSlot]};
    int16_t* lo0 = &buf[4 * nSlot];
    int16_t* mid0 = &buf[5 * nSlot];
    int16_t* hi0 = &buf[6 * nSlot];
    int16_t* lo1 = &buf[7 * nSlot];
    int16_t* mid1 = &buf[8 * nSlot];
    int16_t* hi1 = &buf[9 * nSlot];

    for (int32_t s = 0; s < nStrips; ++s) {
        const int32_t c0 = s * kStripColumns;
        const int32_t c1 = std::min(nWidth, c0 + kStripColumns);
        // Outputs are columns 1 .. W - 3; working index j is column c0 - 1 + j.
        const int32_t xBegin = std::max(c0, 1);
        const int32_t xEnd = std::min(c1, nWidth - 2);
        if (xBegin >= xEnd) continue;
        const int32_t n = c1 - c0 + 2;
        const size_t nOut = size_t(xBegin - c0 + 1);

        // Row r's working columns, limited; the columns -1 and W never reach an output.
        auto row = [&](int32_t r, int16_t* pSlot) -> const int16_t* {
            if (r == y0 - 1 || r == y1) {
                const int16_t* pFull = r == y1 ? pAbove : pBelow;
                pSlot[0] = c0 > 0 ? pFull[c0 - 1] : 0;
                std::copy(pFull + c0, pFull + c1, pSlot + 1);
                pSlot[n - 1] = c1 < nWidth ? pFull[c1] : 0;
                return pSlot;
            }
            pSlot[0] = c0 > 0 ? left[size_t(s - 1) * nBandRows + size_t(r - y0)] : 0;
            k.LimitRow(pFrame + size_t(r) * w + size_t(c0), pSlot + 1, std::min(c1 + 1, nWidth) - c0);
            if (c1 == nWidth) pSlot[n - 1] = 0;
            return pSlot;
        };
        auto combine = [&](const int16_t* lo, const int16_t* mid, const int16_t* hi, int32_t y) {
            k.CombineRange(lo + nOut, mid + nOut, hi + nOut, pFrame + size_t(y) * w + size_t(xBegin), xEnd - xBegin);
        };

        // Rows y - 1 and y, the upper two of the next output row's window.
        const int16_t* pPrev0 = row(y0 - 1, ring[3]);
        const int16_t* pPrev1 = row(y0, ring[0]);
        int nFree = 1;  // ring slots nFree and nFree + 1 (mod 4) are free
        for (int32_t y = y0; y < y1; y += 2) {
            int16_t* pSlotA = ring[nFree % 4];
            int16_t* pSlotB = ring[(nFree + 1) % 4];
            nFree = (nFree + 2) % 4;
            if (y + 1 < y1) {
                const int16_t* pNext0 = row(y + 1, pSlotA);
                const int16_t* pNext1 = row(y + 2, pSlotB);
                k.SortColumnPairs(pPrev0, pPrev1, pNext0, pNext1, n, lo0, mid0, hi0, lo1, mid1, hi1);
                combine(lo0, mid0, hi0, y);
                combine(lo1, mid1, hi1, y + 1);
                pPrev0 = pNext0;
                pPrev1 = pNext1;
            } else {
                const int16_t* pNext0 = row(y + 1, pSlotA);
                k.SortColumns(pPrev0, pPrev1, pNext0, n, lo0, mid0, hi0);
                combine(lo0, mid0, hi0, y);
            }
        }
    }
}

}  // namespace

void MedianFilter3x3(uint16_t* pFrame, int32_t nWidth, int32_t nHeight) {
    if (nWidth < 4 || nHeight < 4) return;  // no pixel has its full window inside columns 0..W-2, rows 0..H-2
    const int32_t nRows = nHeight - 3;          // output rows 1 .. H - 3
    const size_t w = size_t(nWidth);
    const size_t nWorkers = WorkerCount(size_t(nRows), std::max<size_t>(2, (size_t{1} << 18) / w));
    const size_t nBands = nWorkers == 1 ? 1 : std::min(size_t(nRows) / 2, nWorkers * kChunksPerWorker);

    // Each band reads the row below and above it from copies, since the
    // neighbouring bands overwrite those rows meanwhile.
    const CSimdKernels& k = ActiveKernels();
    std::vector<int16_t> edges(2 * nBands * w);
    auto begin = [&](size_t p) { return 1 + int32_t(size_t(nRows) * p / nBands); };
    for (size_t p = 0; p < nBands; ++p) {
        k.LimitRow(pFrame + size_t(begin(p) - 1) * w, &edges[2 * p * w], nWidth);
        k.LimitRow(pFrame + size_t(begin(p + 1)) * w, &edges[(2 * p + 1) * w], nWidth);
    }
    RunChunks(nBands, nWorkers, [&](size_t p) {
        FilterBand(pFrame, nWidth, begin(p), begin(p + 1), &edges[2 * p * w], &edges[(2 * p + 1) * w]);
    });
}

}  // namespace orvi
