#include "imaging/PostProcess.h"

#include "app/ConfigKeys.h"
#include "app/EventLog.h"
#include "app/NumberText.h"
#include "app/Report.h"
#include "imaging/ImagePipeline.h"
#include "imaging/MessageFiles.h"
#include "imaging/Parallel.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

namespace orvi {

// ---- Mirror ----------------------------------------------------------------

namespace {

typedef uint16_t U16x8 __attribute__((vector_size(16)));

inline U16x8 Load8(const uint16_t* p) {
    U16x8 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
inline void Store8(uint16_t* p, U16x8 v) { std::memcpy(p, &v, sizeof v); }
#if defined(__clang__)
// clang (the fuzz build) spells the shuffle differently.
inline U16x8 Reverse8(U16x8 v) { return __builtin_shufflevector(v, v, 7, 6, 5, 4, 3, 2, 1, 0); }
#else
inline U16x8 Reverse8(U16x8 v) { return __builtin_shuffle(v, U16x8{7, 6, 5, 4, 3, 2, 1, 0}); }
#endif

}  // namespace

void MirrorRows(uint16_t* pFrame, int32_t nWidth, int32_t nHeight) {
    if (nWidth <= 1 || nHeight <= 0) return;
    const size_t w = size_t(nWidth);
    // In place: eight pixels from each end of a row swap places reversed, the
    // middle of the row is reversed one by one. Rows are independent.
    RunRanges(size_t(nHeight), WorkerCount(size_t(nHeight) * w, size_t{1} << 20), [&](size_t b, size_t e) {
        for (size_t r = b; r < e; ++r) {
            uint16_t* p = pFrame + r * w;
            size_t i = 0;
            size_t j = w;
            for (; j - i >= 16; i += 8, j -= 8) {
                U16x8 a = Load8(p + i);
                U16x8 z = Load8(p + j - 8);
                Store8(p + i, Reverse8(z));
                Store8(p + j - 8, Reverse8(a));
            }
            std::reverse(p + i, p + j);
        }
    });
}

// ---- Exposure check --------------------------------------------------------

CExposureCheck MeasureExposure(const uint16_t* pFrame, int32_t nWidth, int32_t nHeight, int32_t nStdDevRange) {
    CExposureCheck result;
    int64_t nBegin = int64_t{28} * nWidth;
    int64_t nEnd = (int64_t{nHeight} - 56) * nWidth;
    int64_t n = nEnd - nBegin;
    if (n < 2) return result;  // too few pixels for a deviation: the frame is not checked

    // Sums per row: a row's sum fits 32 bits and its squares 64 bits.
    uint64_t nSum = 0;
    uint64_t nSquares = 0;
    for (int64_t nRow = nBegin; nRow < nEnd; nRow += nWidth) {
        const uint16_t* p = pFrame + nRow;
        uint32_t nRowSum = 0;
        uint64_t nRowSquares = 0;
        for (int32_t c = 0; c < nWidth; ++c) {
            uint32_t v = p[c];
            nRowSum += v;
            nRowSquares += uint64_t{v * v};
        }
        nSum += nRowSum;
        nSquares += nRowSquares;
    }
    int64_t S = int64_t(nSum);
    int64_t Q = int64_t(nSquares);
    int64_t nMean = S / n;
    int64_t nVariance = (Q - nMean * S) / (n - 1);
    result.bChecked = true;
    result.dStdDev = std::sqrt(double(nVariance));
    result.bExposed = result.dStdDev > double(nStdDevRange);
    return result;
}

CExposureCheck CheckExposure(const uint16_t* pFrame, int32_t nWidth, int32_t nHeight, int32_t nStdDevRange) {
    CExposureCheck result = MeasureExposure(pFrame, nWidth, nHeight, nStdDevRange);
    if (!result.bChecked) return result;
    WriteLog(result.bExposed ? FormatC("Get expose Image.(STDDEV:%lf)", result.dStdDev)
                             : FormatC("Expose fail!! exit program.(STDDEV:%lf)", result.dStdDev));
    return result;
}

// ---- Dose indicator --------------------------------------------------------

int32_t DoseIndicatorValue(const uint16_t* pFrame, int32_t nWidth, int32_t nHeight, int32_t nX, int32_t nY,
                           int32_t nRegionWidth, int32_t nRegionHeight) {
    constexpr int32_t kBins = 16384;
    int64_t x0 = std::max<int64_t>(nX, 0);
    int64_t x1 = std::min<int64_t>(int64_t{nX} + nRegionWidth, nWidth);
    int64_t y0 = std::max<int64_t>(nY, 0);
    int64_t y1 = std::min<int64_t>(int64_t{nY} + nRegionHeight, nHeight);
    if (nRegionWidth < 0 && y1 > y0) {
        // The total grows by the width for every row of the region, so a
        // negative width gives a negative total and threshold: the empty
        // counter of value 0 already exceeds it. A threshold that truncates
        // to 0 (one row of width -1) is exceeded by nothing.
        const double dThreshold = std::trunc(double(nRegionWidth) * double(y1 - y0) * 0.8);
        return dThreshold < 0.0 ? 0 : kBins;
    }
    if (x1 <= x0 || y1 <= y0) return kBins;  // nothing counted: no value exceeds a threshold of 0

    std::vector<uint32_t> hist(kBins, 0);
    for (int64_t r = y0; r < y1; ++r) {
        const uint16_t* p = pFrame + r * nWidth;
        for (int64_t c = x0; c < x1; ++c) ++hist[std::min<uint16_t>(p[c], kMaxPixelValue)];
    }
    int64_t nTotal = (x1 - x0) * (y1 - y0);
    int32_t nThreshold = static_cast<int32_t>(double(nTotal) * 0.8);
    int64_t nAccumulated = 0;
    for (int32_t k = 0; k < kBins; ++k) {
        nAccumulated += hist[size_t(k)];
        if (nAccumulated > nThreshold) return k;
    }
    return kBins;
}

int32_t ComputeDoseIndicator(const uint16_t* pFrame, int32_t nWidth, int32_t nHeight, const std::string& strIniPath,
                             const std::string& strImageFolder, CReport& report) {
    int32_t nX = cfg::Read(strIniPath, cfg::DOSE_INDICATOR_X);
    int32_t nY = cfg::Read(strIniPath, cfg::DOSE_INDICATOR_Y);
    int32_t nW = cfg::Read(strIniPath, cfg::DOSE_INDICATOR_WIDTH);
    int32_t nH = cfg::Read(strIniPath, cfg::DOSE_INDICATOR_HEIGHT);
    int32_t k = DoseIndicatorValue(pFrame, nWidth, nHeight, nX, nY, nW, nH);
    if (!WriteDoseIndicatorFile(strImageFolder, k)) {
        report.Log(FileFailLogLine("Message file creation fail", strImageFolder + kFileDoseIndicator, errno));
        report.Warn(kMessageFileCreationFail);
        return k;
    }
    report.Log("Dose Indicator :" + std::to_string(k));
    return k;
}

// ---- Offset and cut --------------------------------------------------------

void ApplyOffset(uint16_t* pFrame, size_t nPixels, int32_t nOffset) {
    // v = pixel + offset becomes 16383 above 16382, else its low 16 bits. In
    // 16-bit terms: pixels above t = 16382 - offset clamp, the others add the
    // offset modulo 65536.
    int64_t t = int64_t{16382} - nOffset;
    if (t < 0) {
        std::fill(pFrame, pFrame + nPixels, kMaxPixelValue);
        return;
    }
    const uint16_t nAdd = static_cast<uint16_t>(nOffset);
    if (t >= 65535) {
        for (size_t i = 0; i < nPixels; ++i) pFrame[i] = static_cast<uint16_t>(pFrame[i] + nAdd);
        return;
    }
    const uint16_t nLimit = static_cast<uint16_t>(t);
    for (size_t i = 0; i < nPixels; ++i) {
        uint16_t v = pFrame[i];
        pFrame[i] = v > nLimit ? kMaxPixelValue : static_cast<uint16_t>(v + nAdd);
    }
}

bool CutImage(uint16_t* pFrame, const CImageGeometry& g) {
    if (!g.IsValid()) return false;
    if (g.nCutTop == 0 && g.nCutBottom == 0 && g.nCutLeft == 0 && g.nCutRight == 0) return true;
    const size_t nRowBytes = size_t(g.CutWidth()) * sizeof(uint16_t);
    uint16_t* pOut = pFrame;
    for (int32_t r = g.nCutTop; r < g.nHeight - g.nCutBottom; ++r) {
        // The output never passes the input, so rows move forward safely.
        std::memmove(pOut, pFrame + size_t(r) * size_t(g.nWidth) + size_t(g.nCutLeft), nRowBytes);
        pOut += g.CutWidth();
    }
    return true;
}

}  // namespace orvi
