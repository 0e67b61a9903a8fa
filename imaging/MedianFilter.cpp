// The 3 x 3 median filter of the corrected image.
//
// Limiting the result to 16383 commutes with the median, so every input is
// limited to 16383 first; the values then fit signed 16-bit lanes, whose
// min/max every x86-64 processor has in vector form. The median of nine is
// taken as med3(max of column minima, med3 of column medians, min of column
// maxima) over the three vertically sorted columns; output rows are made in
// pairs that share the sort of their two middle rows. Limited copies of the
// rows still needed are kept in a small ring, so the filter works in place
// without a copy of the frame. The loops (SimdKernels) are plain, vectorised
// by the compiler for the x86-64 baseline and for AVX2.
#include "imaging/Parallel.h"
#include "imaging/PostProcess.h"
#include "imaging/SimdKernels.h"

#include <vector>

namespace orvi {
namespace {

// Filters output rows [y0, y1). pBelow and pAbove are limited copies of rows
// y0 - 1 and y1, taken before any band started writing.
void FilterBand(uint16_t* pFrame, int32_t nWidth, int32_t y0, int32_t y1, const int16_t* pBelow,
                const int16_t* pAbove) {
    const CSimdKernels& k = ActiveKernels();
    const size_t w = size_t(nWidth);
    std::vector<int16_t> buf(10 * w);
    int16_t* ring[4] = {&buf[0], &buf[w], &buf[2 * w], &buf[3 * w]};
    int16_t* lo0 = &buf[4 * w];
    int16_t* mid0 = &buf[5 * w];
    int16_t* hi0 = &buf[6 * w];
    int16_t* lo1 = &buf[7 * w];
    int16_t* mid1 = &buf[8 * w];
    int16_t* hi1 = &buf[9 * w];
    auto row = [&](int32_t r, int16_t* pSlot) -> const int16_t* {
        if (r == y1) return pAbove;
        k.LimitRow(pFrame + size_t(r) * w, pSlot, nWidth);
        return pSlot;
    };

    // Rows y - 1 and y, the upper two of the next output row's window.
    const int16_t* pPrev0 = pBelow;
    const int16_t* pPrev1 = row(y0, ring[0]);
    int nFree = 1;  // ring slots nFree and nFree + 1 (mod 4) are free; slot 0 holds row y0
    for (int32_t y = y0; y < y1; y += 2) {
        int16_t* pSlotA = ring[nFree % 4];
        int16_t* pSlotB = ring[(nFree + 1) % 4];
        nFree = (nFree + 2) % 4;
        if (y + 1 < y1) {
            const int16_t* pNext0 = row(y + 1, pSlotA);
            const int16_t* pNext1 = row(y + 2, pSlotB);
            k.SortColumnPairs(pPrev0, pPrev1, pNext0, pNext1, nWidth, lo0, mid0, hi0, lo1, mid1, hi1);
            k.CombineRow(lo0, mid0, hi0, pFrame + size_t(y) * w, nWidth);
            k.CombineRow(lo1, mid1, hi1, pFrame + size_t(y + 1) * w, nWidth);
            pPrev0 = pNext0;
            pPrev1 = pNext1;
        } else {
            const int16_t* pNext0 = row(y + 1, pSlotA);
            k.SortColumns(pPrev0, pPrev1, pNext0, nWidth, lo0, mid0, hi0);
            k.CombineRow(lo0, mid0, hi0, pFrame + size_t(y) * w, nWidth);
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
