#pragma once
// The inner loops of the pixel steps, built twice: for the x86-64 baseline
// (SSE2, what every processor has) and for AVX2. Both are plain loops the
// compiler vectorises; the better one the processor runs is chosen once at
// first use. Tests lower the choice to check the baseline build too.
#include <cstddef>
#include <cstdint>

namespace orvi {

enum class SimdLevel { Baseline, Avx2 };

struct CSimdKernels {
    // pDst[x] = min(pSrc[x], 16383) as signed 16-bit.
    void (*LimitRow)(const uint16_t* pSrc, int16_t* pDst, int32_t n);
    // Sorted columns of rows (a, b, c) and (b, c, d).
    void (*SortColumnPairs)(const int16_t* a, const int16_t* b, const int16_t* c, const int16_t* d, int32_t n,
                            int16_t* lo0, int16_t* mid0, int16_t* hi0, int16_t* lo1, int16_t* mid1, int16_t* hi1);
    // Sorted columns of rows (a, b, c).
    void (*SortColumns)(const int16_t* a, const int16_t* b, const int16_t* c, int32_t n, int16_t* lo,
                        int16_t* mid, int16_t* hi);
    // Medians of n outputs from sorted columns; output j reads columns j - 1 .. j + 1.
    void (*CombineRange)(const int16_t* lo, const int16_t* mid, const int16_t* hi, uint16_t* pOut, int32_t n);
    // Gain rule with pQuotient[g] = L / g (pQuotient[0] = 0).
    void (*GainRange)(uint16_t* pFrame, const uint16_t* pDark, const uint16_t* pRef, const double* pQuotient,
                      double dLevel, size_t n);
    // Bad pixel map: block sums, sums of the good pixels, and marking.
    void (*SumSegment)(const uint16_t* pB, const uint16_t* pD, int32_t n, uint32_t& nSumB, uint32_t& nSumD);
    void (*SumGoodSegment)(const uint16_t* pB, const uint16_t* pD, int32_t n, uint16_t nLowB, uint16_t nSpanB,
                           uint16_t nLowD, uint16_t nSpanD, uint32_t& nSumB, uint32_t& nSumD, uint32_t& nCount);
    void (*MarkSegment)(const uint16_t* b0, const uint16_t* b1, const uint16_t* b2, const uint16_t* b3,
                        const uint16_t* b4, const uint16_t* d0, const uint16_t* d1, const uint16_t* d2,
                        const uint16_t* d3, const uint16_t* d4, int32_t n, uint16_t nLowB, uint16_t nSpanB,
                        uint16_t nLowD, uint16_t nSpanD, int32_t nLineB, int32_t nLineD, uint16_t* pMap);
};

// The best level this processor runs.
SimdLevel SupportedSimdLevel();
// The level in use: the supported one unless lowered.
SimdLevel ActiveSimdLevel();
// Uses at most this level from now on (tests; never raises above the supported one).
void LimitSimdLevel(SimdLevel eLevel);

const CSimdKernels& ActiveKernels();

}  // namespace orvi
