// The 3 x 3 median filter of the corrected image.
//
// Limiting the result to 16383 commutes with the median, so every input is
// limited to 16383 first; the values then fit signed 16-bit lanes, whose
// min/max every x86-64 processor has in vector form. The median of nine is
// taken as med3(max of column minima, med3 of column medians, min of column
// maxima) over the three vertically sorted columns; output rows are made in
// pairs that share the sort of their two middle rows. Limited copies of the
// rows still needed are kept in a small ring, so the filter works in place
// without a copy of the frame. The loops are plain, vectorised by the
// compiler, and built twice (AVX2 and the x86-64 baseline) with the better
// one chosen at load time.
#include "imaging/Parallel.h"
#include "imaging/PostProcess.h"

#include <vector>

namespace orvi {
namespace {

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define ORVI_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define ORVI_CLONES
#endif

constexpr int16_t kLimit = static_cast<int16_t>(kMaxPixelValue);

inline int16_t Min(int16_t a, int16_t b) { return a < b ? a : b; }
inline int16_t Max(int16_t a, int16_t b) { return a < b ? b : a; }

ORVI_CLONES
void LimitRow(const uint16_t* __restrict pSrc, int16_t* __restrict pDst, int32_t n) {
    for (int32_t x = 0; x < n; ++x) pDst[x] = static_cast<int16_t>(pSrc[x] < kMaxPixelValue ? pSrc[x] : kMaxPixelValue);
}

// Sorts the columns of rows (a, b, c) and (b, c, d) for two output rows.
ORVI_CLONES
void SortColumnPairs(const int16_t* __restrict a, const int16_t* __restrict b, const int16_t* __restrict c,
                     const int16_t* __restrict d, int32_t n, int16_t* __restrict lo0, int16_t* __restrict mid0,
                     int16_t* __restrict hi0, int16_t* __restrict lo1, int16_t* __restrict mid1,
                     int16_t* __restrict hi1) {
    for (int32_t x = 0; x < n; ++x) {
        int16_t p = Min(b[x], c[x]);
        int16_t q = Max(b[x], c[x]);
        lo0[x] = Min(a[x], p);
        hi0[x] = Max(a[x], q);
        mid0[x] = Max(p, Min(a[x], q));
        lo1[x] = Min(d[x], p);
        hi1[x] = Max(d[x], q);
        mid1[x] = Max(p, Min(d[x], q));
    }
}

// Sorts the columns of rows (a, b, c) for one output row.
ORVI_CLONES
void SortColumns(const int16_t* __restrict a, const int16_t* __restrict b, const int16_t* __restrict c,
                 int32_t n, int16_t* __restrict lo, int16_t* __restrict mid, int16_t* __restrict hi) {
    for (int32_t x = 0; x < n; ++x) {
        int16_t p = Min(b[x], c[x]);
        int16_t q = Max(b[x], c[x]);
        lo[x] = Min(a[x], p);
        hi[x] = Max(a[x], q);
        mid[x] = Max(p, Min(a[x], q));
    }
}

// Medians of columns 1 to W - 3 of one row from its sorted columns.
ORVI_CLONES
void CombineRow(const int16_t* __restrict lo, const int16_t* __restrict mid, const int16_t* __restrict hi,
                uint16_t* __restrict pOut, int32_t nWidth) {
    for (int32_t x = 1; x <= nWidth - 3; ++x) {
        int16_t nMaxLo = Max(Max(lo[x - 1], lo[x]), lo[x + 1]);
        int16_t nMinHi = Min(Min(hi[x - 1], hi[x]), hi[x + 1]);
        int16_t a = mid[x - 1], b = mid[x], c = mid[x + 1];
        int16_t nMedMid = Max(Min(a, b), Min(Max(a, b), c));
        pOut[x] = static_cast<uint16_t>(Max(Min(nMaxLo, nMedMid), Min(Max(nMaxLo, nMedMid), nMinHi)));
    }
}

// Filters output rows [y0, y1). pBelow and pAbove are limited copies of rows
// y0 - 1 and y1, taken before any band started writing.
void FilterBand(uint16_t* pFrame, int32_t nWidth, int32_t y0, int32_t y1, const int16_t* pBelow,
                const int16_t* pAbove) {
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
        LimitRow(pFrame + size_t(r) * w, pSlot, nWidth);
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
            SortColumnPairs(pPrev0, pPrev1, pNext0, pNext1, nWidth, lo0, mid0, hi0, lo1, mid1, hi1);
            CombineRow(lo0, mid0, hi0, pFrame + size_t(y) * w, nWidth);
            CombineRow(lo1, mid1, hi1, pFrame + size_t(y + 1) * w, nWidth);
            pPrev0 = pNext0;
            pPrev1 = pNext1;
        } else {
            const int16_t* pNext0 = row(y + 1, pSlotA);
            SortColumns(pPrev0, pPrev1, pNext0, nWidth, lo0, mid0, hi0);
            CombineRow(lo0, mid0, hi0, pFrame + size_t(y) * w, nWidth);
        }
    }
}

}  // namespace

void MedianFilter3x3(uint16_t* pFrame, int32_t nWidth, int32_t nHeight) {
    if (nWidth < 4 || nHeight < 4) return;  // no pixel has its full window inside columns 0..W-2, rows 0..H-2
    const int32_t nRows = nHeight - 3;          // output rows 1 .. H - 3
    const size_t w = size_t(nWidth);
    const size_t nParts = PartCount(size_t(nRows), std::max<size_t>(2, (size_t{1} << 18) / w));

    // Each band reads the row below and above it from copies, since the
    // neighbouring bands overwrite those rows meanwhile.
    std::vector<int16_t> edges(2 * nParts * w);
    auto begin = [&](size_t p) { return 1 + int32_t(size_t(nRows) * p / nParts); };
    for (size_t p = 0; p < nParts; ++p) {
        LimitRow(pFrame + size_t(begin(p) - 1) * w, &edges[2 * p * w], nWidth);
        LimitRow(pFrame + size_t(begin(p + 1)) * w, &edges[(2 * p + 1) * w], nWidth);
    }
    RunParts(size_t(nRows), nParts, [&](size_t p, size_t, size_t) {
        FilterBand(pFrame, nWidth, begin(p), begin(p + 1), &edges[2 * p * w], &edges[(2 * p + 1) * w]);
    });
}

}  // namespace orvi
