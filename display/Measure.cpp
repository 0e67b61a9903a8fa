#include "display/Measure.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace orvi {

CRoiStats ComputeRoiStats(const uint16_t* pPixels, int32_t nWidth, int32_t nHeight, CPixelRect rc) {
    CRoiStats s;
    if (pPixels == nullptr || nWidth <= 0 || nHeight <= 0 || rc.IsEmpty()) return s;
    const int32_t x0 = std::max(rc.nX, 0), y0 = std::max(rc.nY, 0);
    const int32_t x1 = std::min<int64_t>(int64_t(rc.nX) + rc.nW, nWidth);
    const int32_t y1 = std::min<int64_t>(int64_t(rc.nY) + rc.nH, nHeight);
    if (x1 <= x0 || y1 <= y0) return s;
    // Integer sums are exact for any rectangle of a 3072 x 3072 image.
    uint64_t nSum = 0, nSumSq = 0;
    uint16_t nMin = 0xFFFF, nMax = 0;
    for (int32_t y = y0; y < y1; ++y) {
        const uint16_t* p = pPixels + size_t(y) * size_t(nWidth);
        for (int32_t x = x0; x < x1; ++x) {
            const uint64_t v = p[x];
            nSum += v;
            nSumSq += v * v;
            nMin = std::min<uint16_t>(nMin, p[x]);
            nMax = std::max<uint16_t>(nMax, p[x]);
        }
    }
    s.nCount = int64_t(x1 - x0) * (y1 - y0);
    const double n = double(s.nCount);
    s.fMean = double(nSum) / n;
    // The variance from exact integer sums: n * sum(x^2) - sum(x)^2 >= 0.
    const long double fVar = (static_cast<long double>(nSumSq) * n - static_cast<long double>(nSum) * nSum) / (n * n);
    s.fStdDev = fVar > 0 ? double(std::sqrt(fVar)) : 0.0;
    s.nMin = nMin;
    s.nMax = nMax;
    return s;
}

CPixelRect RectBetween(int32_t nX0, int32_t nY0, int32_t nX1, int32_t nY1) {
    const int32_t x = std::min(nX0, nX1), y = std::min(nY0, nY1);
    return {x, y, std::max(nX0, nX1) - x + 1, std::max(nY0, nY1) - y + 1};
}

std::string RoiStatsText(const CRoiStats& s) {
    char sz[160];
    std::snprintf(sz, sizeof sz, "Mean %.1f  SD %.1f  Min %u  Max %u  N %lld", s.fMean, s.fStdDev, unsigned(s.nMin),
                  unsigned(s.nMax), static_cast<long long>(s.nCount));
    return sz;
}

CRulerLength RulerLength(double fX0, double fY0, double fX1, double fY1, int32_t nPitchUm) {
    CRulerLength r;
    r.fPixels = std::hypot(fX1 - fX0, fY1 - fY0);
    if (nPitchUm > 0) r.fMillimetres = r.fPixels * nPitchUm / 1000.0;
    return r;
}

std::string RulerText(const CRulerLength& r) {
    char sz[96];
    if (r.fMillimetres > 0)
        std::snprintf(sz, sizeof sz, "%.1f px  %.2f mm", r.fPixels, r.fMillimetres);
    else
        std::snprintf(sz, sizeof sz, "%.1f px", r.fPixels);
    return sz;
}

}  // namespace orvi
