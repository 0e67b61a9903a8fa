#include "display/WindowLevelLut.h"

#include "app/Report.h"
#include "imaging/Parallel.h"
#include "imaging/SimdKernels.h"

#include <algorithm>
#include <cmath>
#include <new>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace orvi {

void BuildWindowLevelTable(float fWidth, float fLevel, unsigned char* pTable) {
    const float fLow = fLevel - fWidth * 0.5f;
    const float fHigh = fLevel + fWidth * 0.5f;
    for (size_t i = 0; i < kLutEntries; ++i) {
        const float x = float(i);
        if (x >= fHigh) {
            pTable[i] = 255;
        } else if (x < fLow) {
            pTable[i] = 0;
        } else {
            const float fProduct = (x - fLow) * 255.0f;
            const float fValue = fProduct / fWidth;
            pTable[i] = static_cast<unsigned char>(static_cast<int32_t>(fValue));
        }
    }
}

namespace {

unsigned char* DefaultAllocate(size_t nBytes) { return new (std::nothrow) unsigned char[nBytes]; }

// The table's rule computed directly, eight or sixteen pixels at a time: the
// same single-precision operations in the same order, so the same greys as
// the table (which each build checks over all 16384 inputs). A table read per
// pixel cannot be vectorised; this can, and it reads no table.
struct CWindowRule {
    float fLow, fHigh, fWidth;
    int32_t nInvert;  // 0 or 255: xor of the grey
};

#if defined(__x86_64__)
// Greys of eight 32-bit inputs (0 .. 16383).
inline __m128i WindowGrey4(__m128i v, const CWindowRule& r) {
    const __m128 x = _mm_cvtepi32_ps(v);
    __m128 f = _mm_div_ps(_mm_mul_ps(_mm_sub_ps(x, _mm_set1_ps(r.fLow)), _mm_set1_ps(255.0f)), _mm_set1_ps(r.fWidth));
    __m128i g = _mm_and_si128(_mm_cvttps_epi32(f), _mm_set1_epi32(0xFF));
    const __m128i bLow = _mm_castps_si128(_mm_cmplt_ps(x, _mm_set1_ps(r.fLow)));
    const __m128i bHigh = _mm_castps_si128(_mm_cmpge_ps(x, _mm_set1_ps(r.fHigh)));
    g = _mm_andnot_si128(bLow, g);
    g = _mm_or_si128(_mm_andnot_si128(bHigh, g), _mm_and_si128(bHigh, _mm_set1_epi32(255)));
    return _mm_xor_si128(g, _mm_set1_epi32(r.nInvert));
}

void WindowRowBaseline(const uint16_t* pSrc, uint8_t* pDst, size_t n, const CWindowRule& r) {
    const __m128i vMask = _mm_set1_epi16(0x3FFF), vZero = _mm_setzero_si128();
    size_t x = 0;
    for (; x + 16 <= n; x += 16) {
        __m128i a = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(pSrc + x)), vMask);
        __m128i b = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(pSrc + x + 8)), vMask);
        __m128i ga =
            _mm_packs_epi32(WindowGrey4(_mm_unpacklo_epi16(a, vZero), r), WindowGrey4(_mm_unpackhi_epi16(a, vZero), r));
        __m128i gb =
            _mm_packs_epi32(WindowGrey4(_mm_unpacklo_epi16(b, vZero), r), WindowGrey4(_mm_unpackhi_epi16(b, vZero), r));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(pDst + x), _mm_packus_epi16(ga, gb));
    }
    for (; x < n; ++x) {
        __m128i g = WindowGrey4(_mm_cvtsi32_si128(pSrc[x] & 0x3FFF), r);
        pDst[x] = static_cast<uint8_t>(_mm_cvtsi128_si32(g));
    }
}

__attribute__((target("avx2"))) inline __m256i WindowGrey8(__m256i v, const CWindowRule& r) {
    const __m256 x = _mm256_cvtepi32_ps(v);
    __m256 f = _mm256_div_ps(_mm256_mul_ps(_mm256_sub_ps(x, _mm256_set1_ps(r.fLow)), _mm256_set1_ps(255.0f)),
                             _mm256_set1_ps(r.fWidth));
    __m256i g = _mm256_and_si256(_mm256_cvttps_epi32(f), _mm256_set1_epi32(0xFF));
    const __m256i bLow = _mm256_castps_si256(_mm256_cmp_ps(x, _mm256_set1_ps(r.fLow), _CMP_LT_OQ));
    const __m256i bHigh = _mm256_castps_si256(_mm256_cmp_ps(x, _mm256_set1_ps(r.fHigh), _CMP_GE_OQ));
    g = _mm256_andnot_si256(bLow, g);
    g = _mm256_blendv_epi8(g, _mm256_set1_epi32(255), bHigh);
    return _mm256_xor_si256(g, _mm256_set1_epi32(r.nInvert));
}

__attribute__((target("avx2"))) void WindowRowAvx2(const uint16_t* pSrc, uint8_t* pDst, size_t n,
                                                   const CWindowRule& r) {
    const __m256i vMask = _mm256_set1_epi16(0x3FFF), vZero = _mm256_setzero_si256();
    size_t x = 0;
    for (; x + 32 <= n; x += 32) {
        __m256i a = _mm256_and_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(pSrc + x)), vMask);
        __m256i b = _mm256_and_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(pSrc + x + 16)), vMask);
        // unpack and pack work within 128-bit halves, so the 16-bit order comes back
        __m256i ga = _mm256_packs_epi32(WindowGrey8(_mm256_unpacklo_epi16(a, vZero), r),
                                        WindowGrey8(_mm256_unpackhi_epi16(a, vZero), r));
        __m256i gb = _mm256_packs_epi32(WindowGrey8(_mm256_unpacklo_epi16(b, vZero), r),
                                        WindowGrey8(_mm256_unpackhi_epi16(b, vZero), r));
        __m256i bytes = _mm256_permute4x64_epi64(_mm256_packus_epi16(ga, gb), 0xD8);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(pDst + x), bytes);
    }
    if (x < n) WindowRowBaseline(pSrc + x, pDst + x, n - x, r);
}
#endif

void WindowRow(const uint16_t* pSrc, uint8_t* pDst, size_t n, const CWindowRule& r,
               SimdLevel eLevel = ActiveSimdLevel()) {
#if defined(__x86_64__)
    if (eLevel == SimdLevel::Avx2) {
        WindowRowAvx2(pSrc, pDst, n, r);
        return;
    }
    WindowRowBaseline(pSrc, pDst, n, r);
#else
    (void)pSrc, (void)pDst, (void)n, (void)r, (void)eLevel;
#endif
}

}  // namespace

CWLLUT::CWLLUT(CReport* pReport, TableAllocator fnAllocate)
    : m_pReport(pReport), m_fnAllocate(fnAllocate ? fnAllocate : &DefaultAllocate) {
    if (!ObtainTable()) return;
    BuildWindowLevelTable(m_fWidth, m_fLevel, m_pTable);
    CheckRule();
    m_bChanged = true;
}

CWLLUT::~CWLLUT() { delete[] m_pTable; }

bool CWLLUT::ObtainTable() {
    if (m_pTable) return true;
    m_pTable = m_fnAllocate(kLutEntries);
    if (m_pTable) return true;
    if (m_pReport) m_pReport->Message(kMemoryLess, kMemoryLessCaption, MessageIcon::Warning);
    return false;
}

bool CWLLUT::SetWindowLevel(int nWidth, int nLevel) {
    const float fWidth = float(nWidth);
    const float fLevel = float(nLevel);
    if (std::fabs(fLevel - m_fLevel) <= 1.0f && std::fabs(fWidth - m_fWidth) <= 1.0f) return false;
    m_fWidth = fWidth;
    m_fLevel = fLevel;
    m_nMaxIn = kLutMaxIn;
    m_nMaxOut = kLutMaxOut;
    if (!ObtainTable()) return false;
    BuildWindowLevelTable(m_fWidth, m_fLevel, m_pTable);
    if (m_bInvert) InvertTable();
    CheckRule();
    m_bChanged = true;
    return true;
}

void CWLLUT::SetInvert(bool bInvert) {
    if (bInvert == m_bInvert) return;
    m_bInvert = bInvert;
    if (!m_pTable) return;
    InvertTable();
    CheckRule();
    m_bChanged = true;
}

void CWLLUT::CheckRule() {
    m_bRuleMatches = false;
#if defined(__x86_64__)
    m_fRuleWidth = m_fWidth;
    m_fRuleLevel = m_fLevel;
    const CWindowRule r{m_fLevel - m_fWidth * 0.5f, m_fLevel + m_fWidth * 0.5f, m_fWidth, m_bInvert ? 255 : 0};
    static thread_local uint16_t s_inputs[kLutEntries];
    static thread_local uint8_t s_greys[kLutEntries];
    for (size_t i = 0; i < kLutEntries; ++i) s_inputs[i] = uint16_t(i);
    m_bRuleMatches = true;
    for (SimdLevel eLevel : {SimdLevel::Baseline, SimdLevel::Avx2}) {
        if (int(eLevel) > int(SupportedSimdLevel())) break;
        WindowRow(s_inputs, s_greys, kLutEntries, r, eLevel);
        m_bRuleMatches = m_bRuleMatches && std::equal(s_greys, s_greys + kLutEntries, m_pTable);
    }
#endif
}

void CWLLUT::InvertTable() {
    for (size_t i = 0; i < kLutEntries; ++i) m_pTable[i] = static_cast<unsigned char>(255 - m_pTable[i]);
}

void CWLLUT::Convert(const uint16_t* pSrc, size_t nWidth, size_t nHeight, size_t nSrcStride, uint8_t* pDst,
                     size_t nDstStride) const {
    if (!m_pTable) return;
    const unsigned char* pTable = m_pTable;
    if (m_bRuleMatches && m_fRuleWidth == m_fWidth && m_fRuleLevel == m_fLevel) {
        const CWindowRule rule{m_fLevel - m_fWidth * 0.5f, m_fLevel + m_fWidth * 0.5f, m_fWidth, m_bInvert ? 255 : 0};
        RunRanges(nHeight, WorkerCount(nWidth * nHeight, size_t{1} << 20), [&](size_t b, size_t e) {
            for (size_t r = b; r < e; ++r) WindowRow(pSrc + r * nSrcStride, pDst + r * nDstStride, nWidth, rule);
        });
        return;
    }
    RunRanges(nHeight, WorkerCount(nWidth * nHeight, size_t{1} << 20), [&](size_t b, size_t e) {
        for (size_t r = b; r < e; ++r) {
            const uint16_t* s = pSrc + r * nSrcStride;
            uint8_t* d = pDst + r * nDstStride;
            for (size_t x = 0; x < nWidth; ++x) d[x] = pTable[s[x] & kLutMaxIn];
        }
    });
}

}  // namespace orvi
