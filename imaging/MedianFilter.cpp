// The 3 x 3 median filter of the corrected image.
//
// The kernel (SimdKernels) makes two output rows at a time from their four
// source rows, limited to 16383. The frame is cut into bands of rows that the
// threads take in turn. Out of place, a band reads the source and writes the
// destination. In place, a band keeps each output row pair in a small buffer
// until the next pair has read the rows it needs, and reads the rows just
// outside it from copies taken before any band started writing.
#include "imaging/Parallel.h"
#include "imaging/PostProcess.h"
#include "imaging/SimdKernels.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace orvi {
namespace {

struct CBands {
    int32_t nRows;  // output rows 1 .. H - 3
    size_t nWorkers, nBands;
    int32_t Begin(size_t p) const { return 1 + int32_t(size_t(nRows) * p / nBands); }
};

CBands SplitRows(int32_t nWidth, int32_t nHeight) {
    CBands b;
    b.nRows = nHeight - 3;
    b.nWorkers = WorkerCount(size_t(b.nRows), std::max<size_t>(2, (size_t{1} << 18) / size_t(nWidth)));
    b.nBands = b.nWorkers == 1 ? 1 : std::max<size_t>(1, std::min(size_t(b.nRows) / 2, b.nWorkers * kChunksPerWorker));
    return b;
}

}  // namespace

void MedianFilter3x3(const uint16_t* pSrc, uint16_t* pDst, int32_t nWidth, int32_t nHeight) {
    if (nWidth <= 0 || nHeight <= 0) return;
    const size_t w = size_t(nWidth);
    if (nWidth < 4 || nHeight < 4) {
        std::memcpy(pDst, pSrc, w * size_t(nHeight) * sizeof(uint16_t));
        return;
    }
    const CSimdKernels& k = ActiveKernels();
    const CBands bands = SplitRows(nWidth, nHeight);
    for (int32_t r : {0, nHeight - 2, nHeight - 1}) std::memcpy(pDst + size_t(r) * w, pSrc + size_t(r) * w, w * 2);
    RunChunks(bands.nBands, bands.nWorkers, [&](size_t p) {
        const int32_t y0 = bands.Begin(p), y1 = bands.Begin(p + 1);
        for (int32_t y = y0; y < y1; y += 2) {
            const bool bPair = y + 1 < y1;
            const uint16_t* s = pSrc + size_t(y) * w;
            uint16_t* d = pDst + size_t(y) * w;
            k.MedianRows(s - w + 1, s + 1, s + w + 1, bPair ? s + 2 * w + 1 : nullptr, d + 1,
                         bPair ? d + w + 1 : nullptr, nWidth - 3);
            for (int32_t r = 0; r < (bPair ? 2 : 1); ++r) {
                const size_t o = size_t(r) * w;
                d[o] = s[o];
                d[o + w - 2] = s[o + w - 2];
                d[o + w - 1] = s[o + w - 1];
            }
        }
    });
}

void MedianCutRows(const uint16_t* pFrame, const CImageGeometry& g, bool bMedian, uint16_t* pOut, int32_t y0,
                   int32_t y1, size_t nWorkers) {
    y0 = std::max(y0, g.nCutTop);
    y1 = std::min(y1, g.nHeight - g.nCutBottom);
    if (y1 <= y0) return;
    const size_t w = size_t(g.nWidth);
    const size_t cw = size_t(g.CutWidth());
    // The filtered area: rows 1 .. H - 3, columns 1 .. W - 3; of it, the
    // columns the cut keeps.
    const bool bFilter = bMedian && g.nWidth >= 4 && g.nHeight >= 4;
    const int32_t c0 = std::max(g.nCutLeft, 1), c1 = std::min(g.nWidth - g.nCutRight, g.nWidth - 2);
    const CSimdKernels& k = ActiveKernels();
    // Pairs of rows share the kernel's sort of their middle rows.
    const size_t nPairs = size_t(y1 - y0 + 1) / 2;
    RunRanges(nPairs, nWorkers, [&](size_t b, size_t e) {
        const int32_t yEnd = std::min(y1, y0 + 2 * int32_t(e));
        for (int32_t y = y0 + 2 * int32_t(b); y < yEnd;) {
            const uint16_t* s = pFrame + size_t(y) * w;
            uint16_t* o = pOut + size_t(y - g.nCutTop) * cw;
            const bool bRow = bFilter && y >= 1 && y <= g.nHeight - 3;
            if (!bRow || c1 <= c0) {
                std::memcpy(o, s + g.nCutLeft, cw * 2);
                ++y;
                continue;
            }
            const bool bPair = y + 1 < yEnd && y + 1 <= g.nHeight - 3;
            k.MedianRows(s - w + c0, s + c0, s + w + c0, bPair ? s + 2 * w + c0 : nullptr, o + (c0 - g.nCutLeft),
                         bPair ? o + cw + (c0 - g.nCutLeft) : nullptr, c1 - c0);
            for (int32_t r = 0; r < (bPair ? 2 : 1); ++r) {
                // The kept columns outside the filtered area: 0, W - 2 and W - 1.
                const uint16_t* sr = s + size_t(r) * w;
                uint16_t* orow = o + size_t(r) * cw;
                for (int32_t c = g.nCutLeft; c < c0; ++c) orow[c - g.nCutLeft] = sr[c];
                for (int32_t c = std::max(c1, g.nCutLeft); c < g.nWidth - g.nCutRight; ++c)
                    orow[c - g.nCutLeft] = sr[c];
            }
            y += bPair ? 2 : 1;
        }
    });
}

void MedianFilter3x3(uint16_t* pFrame, int32_t nWidth, int32_t nHeight) {
    if (nWidth < 4 || nHeight < 4) return;  // no pixel has its full window inside columns 0..W-2, rows 0..H-2
    const size_t w = size_t(nWidth);
    const CSimdKernels& k = ActiveKernels();
    const CBands bands = SplitRows(nWidth, nHeight);

    // Each band reads the row below and above it from copies, since the
    // neighbouring bands overwrite those rows meanwhile.
    std::vector<uint16_t> edges(2 * bands.nBands * w);
    for (size_t p = 0; p < bands.nBands; ++p) {
        std::memcpy(&edges[2 * p * w], pFrame + size_t(bands.Begin(p) - 1) * w, w * 2);
        std::memcpy(&edges[(2 * p + 1) * w], pFrame + size_t(bands.Begin(p + 1)) * w, w * 2);
    }
    const size_t nOut = w - 3;
    RunChunks(bands.nBands, bands.nWorkers, [&](size_t p) {
        const int32_t y0 = bands.Begin(p), y1 = bands.Begin(p + 1);
        auto src = [&](int32_t r) -> const uint16_t* {
            if (r == y0 - 1) return &edges[2 * p * w] + 1;
            if (r == y1) return &edges[(2 * p + 1) * w] + 1;
            return pFrame + size_t(r) * w + 1;
        };
        thread_local std::vector<uint16_t> t_pending;  // two row pairs, reused by the thread
        if (t_pending.size() < 4 * nOut) t_pending.resize(4 * nOut);
        int32_t nPendingY = 0, nPendingRows = 0;
        size_t nSlot = 0;
        auto writeBack = [&] {
            for (int32_t r = 0; r < nPendingRows; ++r)
                std::memcpy(pFrame + size_t(nPendingY + r) * w + 1, &t_pending[((nSlot ^ 1) * 2 + size_t(r)) * nOut],
                            nOut * 2);
        };
        for (int32_t y = y0; y < y1; y += 2) {
            const bool bPair = y + 1 < y1;
            uint16_t* o0 = &t_pending[nSlot * 2 * nOut];
            k.MedianRows(src(y - 1), src(y), src(y + 1), bPair ? src(y + 2) : nullptr, o0, bPair ? o0 + nOut : nullptr,
                         int32_t(nOut));
            writeBack();  // the previous pair, in the other slot: no longer read
            nPendingY = y;
            nPendingRows = bPair ? 2 : 1;
            nSlot ^= 1;
        }
        writeBack();
    });
}

}  // namespace orvi
