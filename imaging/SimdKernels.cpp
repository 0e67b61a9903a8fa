#include "imaging/SimdKernels.h"

#include <algorithm>
#include <atomic>
#include <utility>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace orvi {

namespace simd_baseline {
#define ORVI_SIMD_AVX2 0
#include "imaging/SimdKernels.inc"
#undef ORVI_SIMD_AVX2
}  // namespace simd_baseline

#if defined(__x86_64__) && defined(__clang__)
#define ORVI_HAVE_AVX2_BUILD 1
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
namespace simd_avx2 {
#define ORVI_SIMD_AVX2 1
#include "imaging/SimdKernels.inc"
#undef ORVI_SIMD_AVX2
}  // namespace simd_avx2
#pragma clang attribute pop
#elif defined(__x86_64__) && defined(__GNUC__)
#define ORVI_HAVE_AVX2_BUILD 1
#pragma GCC push_options
#pragma GCC target("avx2")
namespace simd_avx2 {
#define ORVI_SIMD_AVX2 1
#include "imaging/SimdKernels.inc"
#undef ORVI_SIMD_AVX2
}  // namespace simd_avx2
#pragma GCC pop_options
#endif

namespace {

SimdLevel DetectLevel() {
#ifdef ORVI_HAVE_AVX2_BUILD
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2")) return SimdLevel::Avx2;
#endif
    return SimdLevel::Baseline;
}

std::atomic<int>& Limit() {
    static std::atomic<int> s_nLimit{int(SimdLevel::Avx2)};
    return s_nLimit;
}

}  // namespace

SimdLevel SupportedSimdLevel() {
    static const SimdLevel s_eLevel = DetectLevel();
    return s_eLevel;
}

SimdLevel ActiveSimdLevel() { return SimdLevel(std::min(int(SupportedSimdLevel()), Limit().load())); }

void LimitSimdLevel(SimdLevel eLevel) { Limit().store(int(eLevel)); }

const CSimdKernels& ActiveKernels() {
#ifdef ORVI_HAVE_AVX2_BUILD
    if (ActiveSimdLevel() == SimdLevel::Avx2) return simd_avx2::kTable;
#endif
    return simd_baseline::kTable;
}

}  // namespace orvi
