#include "imaging/BadPixelMap.h"

#include "app/Report.h"
#include "imaging/Calibration.h"
#include "imaging/FrameBuffer.h"
#include "imaging/Parallel.h"
#include "imaging/RawFile.h"
#include "imaging/SimdKernels.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace orvi {
namespace {

constexpr int32_t kBlock = kBpmBlockSide;
static_assert(kBadPixelMark == 1u << 13);
constexpr size_t kTable = size_t(kBpmBlocksPerSide) * kBpmBlocksPerSide;

// The values v of a 16-bit pixel for which neither "v > high" nor "v < low"
// holds (double comparisons): v >= ceil(low) and v <= floor(high). As an
// offset and span so that one unsigned 16-bit comparison tests a pixel:
// good when (uint16)(v - nLow) <= nSpan.
struct CGoodRange {
    bool bEmpty = false;  // no 16-bit value is good
    uint16_t nLow = 0;
    uint16_t nSpan = 0;
};

CGoodRange GoodRange(double dLow, double dHigh) {
    double dLo = std::ceil(dLow);
    double dHi = std::floor(dHigh);
    int64_t nLo = dLo <= 0.0 ? 0 : dLo > 65535.0 ? 65536 : int64_t(dLo);
    int64_t nHi = dHi >= 65535.0 ? 65535 : dHi < 0.0 ? -1 : int64_t(dHi);
    CGoodRange r;
    if (nLo > nHi) {
        r.bEmpty = true;
        return r;
    }
    r.nLow = uint16_t(nLo);
    r.nSpan = uint16_t(nHi - nLo);
    return r;
}

}  // namespace

bool MakeBadPixelMap(const uint16_t* pDark, const uint16_t* pBright, int32_t nWidth, int32_t nHeight,
                     const CBpmThresholds& t, uint16_t* pMap) {
    constexpr int32_t kMaxSide = kBpmBlocksPerSide * kBlock;
    if (nWidth <= 0 || nHeight <= 0 || nWidth > kMaxSide || nHeight > kMaxSide) return false;
    const CSimdKernels& kernels = ActiveKernels();
    const size_t w = size_t(nWidth);
    const int32_t nBlockCols = (nWidth + kBlock - 1) / kBlock;
    const int32_t nBlockRows = (nHeight + kBlock - 1) / kBlock;
    auto index = [](int32_t br, int32_t bc) { return size_t(br) * kBpmBlocksPerSide + size_t(bc); };
    auto segment = [&](int32_t bc) { return std::min(kBlock, nWidth - bc * kBlock); };
    // Block rows are independent in the first two passes.
    const size_t nBlockWorkers = WorkerCount(size_t(nBlockRows), 1);

    // Pixels of a block: 65536, fewer in the last block row and column when
    // the panel's sides are not multiples of 256. A block's means are over
    // the pixels it has.
    auto pixelsOf = [&](int32_t br, int32_t bc) {
        return uint32_t(std::min(kBlock, nHeight - br * kBlock)) * uint32_t(segment(bc));
    };

    // Pass 1: coarse block means, sum / pixels.
    std::vector<uint32_t> sumB(kTable, 0), sumD(kTable, 0);
    RunChunks(size_t(nBlockRows), nBlockWorkers, [&](size_t nBlockRow) {
        const int32_t br = int32_t(nBlockRow);
        for (int32_t r = br * kBlock; r < std::min(nHeight, (br + 1) * kBlock); ++r)
            for (int32_t bc = 0; bc < nBlockCols; ++bc) {
                const size_t i = size_t(r) * w + size_t(bc) * kBlock;
                kernels.SumSegment(pBright + i, pDark + i, segment(bc), sumB[index(br, bc)], sumD[index(br, bc)]);
            }
    });
    for (int32_t br = 0; br < nBlockRows; ++br)
        for (int32_t bc = 0; bc < nBlockCols; ++bc) {
            const size_t k = index(br, bc);
            sumB[k] /= pixelsOf(br, bc);
            sumD[k] /= pixelsOf(br, bc);
        }

    // Pass 2: refined block means over the pixels that are not coarse
    // outliers (above 1.5 x or below 0.5 x the coarse mean).
    std::vector<uint32_t> meanB(kTable, 0), meanD(kTable, 0), count(kTable, 0);
    RunChunks(size_t(nBlockRows), nBlockWorkers, [&](size_t nBlockRow) {
        const int32_t br = int32_t(nBlockRow);
        for (int32_t bc = 0; bc < nBlockCols; ++bc) {
            const size_t k = index(br, bc);
            const CGoodRange gB = GoodRange(0.5 * double(sumB[k]), 1.5 * double(sumB[k]));
            const CGoodRange gD = GoodRange(0.5 * double(sumD[k]), 1.5 * double(sumD[k]));
            for (int32_t r = br * kBlock; r < std::min(nHeight, (br + 1) * kBlock); ++r) {
                if (gB.bEmpty || gD.bEmpty) {
                    count[k] += uint32_t(segment(bc));
                    continue;
                }
                const size_t i = size_t(r) * w + size_t(bc) * kBlock;
                kernels.SumGoodSegment(pBright + i, pDark + i, segment(bc), gB.nLow, gB.nSpan, gD.nLow, gD.nSpan,
                                       meanB[k], meanD[k], count[k]);
            }
            // Every pixel an outlier: the mean stays 0 (its sums stayed 0).
            const uint32_t nPixels = pixelsOf(br, bc);
            if (count[k] != nPixels) {
                meanB[k] /= nPixels - count[k];
                meanD[k] /= nPixels - count[k];
            }
        }
    });

    // Pass 3: area and line defects.
    const double aB = double(static_cast<uint32_t>(t.nAreaBright)) / 100;
    const double aD = double(static_cast<uint32_t>(t.nAreaDark)) / 100;
    std::vector<CGoodRange> areaB(kTable), areaD(kTable);
    for (int32_t br = 0; br < nBlockRows; ++br)
        for (int32_t bc = 0; bc < nBlockCols; ++bc) {
            const size_t k = index(br, bc);
            areaB[k] = GoodRange(meanB[k] * (1 - aB), meanB[k] * (1 + aB));
            areaD[k] = GoodRange(meanD[k] * (1 - aD), meanD[k] * (1 + aD));
        }
    RunRanges(size_t(nHeight), WorkerCount(size_t(nHeight) * w, size_t{1} << 19), [&](size_t b, size_t e) {
        for (int32_t r = int32_t(b); r < int32_t(e); ++r) {
            // Rows 0, 1, H - 2 and H - 1 have no line test: their five rows
            // are the centre row five times, which never exceeds a threshold.
            const bool bLine = r >= 2 && r <= nHeight - 3;
            const int32_t nLineB = bLine ? t.nLineBright : std::numeric_limits<int32_t>::max();
            const int32_t nLineD = bLine ? t.nLineDark : std::numeric_limits<int32_t>::max();
            auto rowB = [&](int32_t dr) { return pBright + size_t(bLine ? r + dr : r) * w; };
            auto rowD = [&](int32_t dr) { return pDark + size_t(bLine ? r + dr : r) * w; };
            for (int32_t bc = 0; bc < nBlockCols; ++bc) {
                const size_t k = index(r / kBlock, bc);
                const size_t c = size_t(bc) * kBlock;
                uint16_t* pOut = pMap + size_t(r) * w + c;
                if (areaB[k].bEmpty || areaD[k].bEmpty) {
                    std::fill(pOut, pOut + segment(bc), kBadPixelMark);
                    continue;
                }
                kernels.MarkSegment(rowB(-2) + c, rowB(-1) + c, rowB(0) + c, rowB(1) + c, rowB(2) + c, rowD(-2) + c,
                                    rowD(-1) + c, rowD(0) + c, rowD(1) + c, rowD(2) + c, segment(bc), areaB[k].nLow,
                                    areaB[k].nSpan, areaD[k].nLow, areaD[k].nSpan, nLineB, nLineD, pOut);
            }
        }
    });
    return true;
}

MakeBpmResult RunMakeBpm(const std::vector<std::string>& listEntries, const std::string& strCalFolder, int32_t nWidth,
                         int32_t nHeight, const CBpmThresholds& thresholds, CReport& report, size_t* pnMarked) {
    if (listEntries.size() < 2) return MakeBpmResult::TooFewFiles;
    if (nWidth <= 0 || nHeight <= 0) return MakeBpmResult::TooFewFiles;
    const size_t nPixels = size_t(nWidth) * size_t(nHeight);

    auto read = [&](const std::string& strName, uint16_t* p, const char* szFail, const char* szWhat) {
        std::string strPath = JoinPath(strCalFolder, strName);
        uint64_t nBytes = 0;
        RawRead e = ReadRawFile(strPath, p, nPixels, &nBytes);
        if (e == RawRead::Ok) return true;
        if (e == RawRead::TooShort) report.Log(ShortFileLogLine(szWhat, strPath, nBytes, uint64_t(nPixels) * 2));
        report.Warn(szFail);
        return false;
    };

    const std::string& strDark = listEntries.back();
    if (strDark.find("DARK") == std::string::npos) {
        report.Warn(kDarkFileDontExist);
        return MakeBpmResult::NoDark;
    }
    CFrameBuffer pDark(nPixels), pBright(nPixels), pMap(nPixels);
    if (!pDark || !pBright || !pMap) {
        report.Log("No memory for MAKE BPM");
        report.Warn(kBpmFileCreationFail);
        return MakeBpmResult::CreateFailed;
    }
    if (!read(strDark, pDark.get(), kDarkFileOpenFail, "Dark file")) return MakeBpmResult::DarkOpenFailed;

    const std::string& strBright = listEntries[listEntries.size() - 2];
    if (strBright.find("BRIGHT") == std::string::npos) {
        report.Warn(kBrightFileDontExist);
        return MakeBpmResult::NoBright;
    }
    if (!read(strBright, pBright.get(), kBrightFileOpenFail, "Bright file")) return MakeBpmResult::BrightOpenFailed;

    int nError = 0;
    const std::string strBpmPath = JoinPath(strCalFolder, kBpmFileName);
    if (!MakeBadPixelMap(pDark.get(), pBright.get(), nWidth, nHeight, thresholds, pMap.get()) ||
        !WriteRawFile(strBpmPath, pMap.get(), nPixels, &nError)) {
        if (nError != 0) report.Log("BPM file creation fail: " + strBpmPath + ": " + FileErrorText(nError));
        report.Warn(kBpmFileCreationFail);
        return MakeBpmResult::CreateFailed;
    }
    if (pnMarked != nullptr) {
        size_t n = 0;
        const uint16_t* p = pMap.get();
        for (size_t i = 0; i < nPixels; ++i) n += p[i] != 0;
        *pnMarked = n;
    }
    return MakeBpmResult::Written;
}

}  // namespace orvi
