#pragma once
// The inner loops of the pixel steps, built twice: for the x86-64 baseline
// (SSE2, what every processor has) and for AVX2 (with GCC and with Clang,
// through a target attribute on the functions). The better one the
// processor runs is chosen once at first use. Tests lower the choice to check the baseline build too.
#include <cstddef>
#include <cstdint>

namespace orvi {

enum class SimdLevel { Baseline, Avx2 };

struct CSimdKernels {
    // 3 x 3 medians, limited to 16383, of n pixels of the row between rows a
    // and c into out0, and when out1 is given of the row between b and d
    // into out1: output x reads columns x - 1 .. x + 1 of its three rows.
    // The outputs lie apart from the rows read.
    void (*MedianRows)(const uint16_t* a, const uint16_t* b, const uint16_t* c, const uint16_t* d, uint16_t* out0,
                       uint16_t* out1, int32_t n);
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
