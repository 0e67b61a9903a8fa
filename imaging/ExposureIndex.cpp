#include "imaging/ExposureIndex.h"

#include "app/Profile.h"
#include "imaging/AcquiredImage.h"
#include "imaging/Parallel.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace orvi::dose {

namespace {

using Histogram = std::vector<uint32_t>;

inline uint32_t Signal(const CSignalSource& s, size_t i) {
    int32_t v = int32_t{s.pPixels[i]} - s.nOffset;
    if (s.pDark != nullptr) v -= int32_t{s.pDark[i]};
    return v > 0 ? uint32_t(v) : 0u;
}

bool IsUsable(const CSignalSource& s) { return s.pPixels != nullptr && s.nWidth > 0 && s.nHeight > 0; }

// The smallest value v with more than nRank values at or below it.
uint32_t ValueAtRank(const Histogram& hist, uint64_t nRank) {
    uint64_t nSeen = 0;
    for (size_t v = 0; v < hist.size(); ++v) {
        nSeen += hist[v];
        if (nSeen > nRank) return uint32_t(v);
    }
    return uint32_t(hist.size() - 1);
}

// First and last index whose count is at least half the largest count; false when all are 0.
bool SpanOfHalfMax(const std::vector<uint32_t>& counts, int32_t& nFirst, int32_t& nLast) {
    const uint32_t nMax = counts.empty() ? 0 : *std::max_element(counts.begin(), counts.end());
    if (nMax == 0) return false;
    nFirst = -1;
    for (size_t i = 0; i < counts.size(); ++i)
        if (uint64_t{counts[i]} * 2 >= nMax) {
            if (nFirst < 0) nFirst = int32_t(i);
            nLast = int32_t(i);
        }
    return true;
}

// The gain correction's rule without its limit (imaging/Calibration.h), with
// its factor L / g from a table as the correction takes it (pQuotient[0] = 0).
inline uint32_t UnlimitedGain(uint16_t v, uint16_t d, uint16_t g, const double* pQuotient) {
    if (v == 0 || g == 0) return 0;
    const double dValue = std::trunc(pQuotient[g] * (double(v) - double(d)));
    if (!(dValue > 0.0)) return 0;
    return dValue >= 4294967295.0 ? 4294967295u : uint32_t(dValue);
}

// The lower median of the region: from a histogram of 16-bit values, and
// the few above them (only over a gain correction) kept apart and sorted
// when the median lies among them.
class CMedian {
public:
    CMedian() : m_hist(65536, 0) {}
    void Add(uint32_t v) {
        if (v < 65536)
            ++m_hist[v];
        else
            m_above.push_back(v);
    }
    void Merge(const CMedian& other) {
        for (size_t v = 0; v < m_hist.size(); ++v) m_hist[v] += other.m_hist[v];
        m_above.insert(m_above.end(), other.m_above.begin(), other.m_above.end());
    }
    uint32_t Lower(uint64_t nCount) {
        const uint64_t nRank = (nCount - 1) / 2;
        uint64_t nBelow = nCount - m_above.size();
        if (nRank < nBelow) return ValueAtRank(m_hist, nRank);
        auto it = m_above.begin() + ptrdiff_t(nRank - nBelow);
        std::nth_element(m_above.begin(), it, m_above.end());
        return *it;
    }

private:
    Histogram m_hist;
    std::vector<uint32_t> m_above;
};

}  // namespace

// Counts per row and column the pixels whose signal exceeds nThreshold.
template <bool bDark>
void CountExposed(const CSignalSource& s, uint32_t nThreshold, std::vector<uint32_t>& rows,
                  std::vector<uint32_t>& cols) {
    // signal > t  <=>  v > t + offset (+ dark), with the sums in 32 bits.
    const int32_t nBase = int32_t(nThreshold) + s.nOffset;
    for (int32_t y = 0; y < s.nHeight; ++y) {
        const size_t nRow = size_t(y) * size_t(s.nWidth);
        const uint16_t* pV = s.pPixels + nRow;
        const uint16_t* pD = bDark ? s.pDark + nRow : nullptr;
        uint32_t* pCols = cols.data();
        uint32_t nCount = 0;
        for (int32_t x = 0; x < s.nWidth; ++x) {
            const int32_t nLimit = bDark ? nBase + int32_t(pD[x]) : nBase;
            const uint32_t bExposed = int32_t(pV[x]) > nLimit ? 1u : 0u;
            nCount += bExposed;
            pCols[x] += bExposed;
        }
        rows[size_t(y)] = nCount;
    }
}

CPixelRect ExposedField(const CSignalSource& s) {
    if (!IsUsable(s)) return {};
    // The 99th percentile from every 4th row and column of a large image: a
    // threshold needs no more, and it spares a pass over every pixel.
    const int32_t nStep = int64_t{s.nWidth} * s.nHeight > (int64_t{1} << 20) ? 4 : 1;
    Histogram hist(65536, 0);
    uint64_t nSampled = 0;
    for (int32_t y = 0; y < s.nHeight; y += nStep)
        for (int32_t x = 0; x < s.nWidth; x += nStep, ++nSampled)
            ++hist[Signal(s, size_t(y) * size_t(s.nWidth) + size_t(x))];
    const uint32_t nHigh = ValueAtRank(hist, nSampled * 99 / 100);
    const uint32_t nThreshold = nHigh / 10;
    if (nHigh == 0) return {};

    std::vector<uint32_t> rows(size_t(s.nHeight), 0), cols(size_t(s.nWidth), 0);
    if (s.pDark != nullptr)
        CountExposed<true>(s, nThreshold, rows, cols);
    else
        CountExposed<false>(s, nThreshold, rows, cols);
    CPixelRect r;
    int32_t nTop = 0, nBottom = 0, nLeft = 0, nRight = 0;
    if (!SpanOfHalfMax(rows, nTop, nBottom) || !SpanOfHalfMax(cols, nLeft, nRight)) return {};
    r.nLeft = nLeft;
    r.nTop = nTop;
    r.nWidth = nRight - nLeft + 1;
    r.nHeight = nBottom - nTop + 1;
    return r;
}

CPixelRect CentralRegion(const CPixelRect& field, int32_t nPercent) {
    if (field.IsEmpty() || nPercent <= 0) return {};
    nPercent = std::min(nPercent, 100);
    CPixelRect r;
    r.nWidth = std::max<int32_t>(1, int32_t(int64_t{field.nWidth} * nPercent / 100));
    r.nHeight = std::max<int32_t>(1, int32_t(int64_t{field.nHeight} * nPercent / 100));
    r.nLeft = field.nLeft + (field.nWidth - r.nWidth) / 2;
    r.nTop = field.nTop + (field.nHeight - r.nHeight) / 2;
    return r;
}

CExposureIndex ComputeExposureIndex(const CSignalSource& s, const CExposureIndexSettings& settings,
                                    const CGainInputs* pGain) {
    CExposureIndex ei;
    ei.dTargetEI = settings.dTargetEI;
    ei.field = ExposedField(s);
    ei.region = CentralRegion(ei.field, settings.nRegionPercent);
    if (ei.region.IsEmpty() || !(settings.dSignalPerUGy > 0.0)) return ei;

    const bool bGain = pGain != nullptr && pGain->pRaw != nullptr && pGain->pDark != nullptr &&
                       pGain->pReference != nullptr && pGain->nLevel > 0 && pGain->nStride > 0;
    std::vector<double> quotient;
    if (bGain) {
        quotient.assign(65536, 0.0);
        for (uint32_t g = 1; g < 65536; ++g) quotient[g] = double(pGain->nLevel) / double(g);
    }
    // The region's rows in one block per thread, each counted apart, then merged.
    auto fnRows = [&](CMedian& median, int32_t nFirst, int32_t nEnd) {
        for (int32_t y = nFirst; y < nEnd; ++y) {
            if (bGain) {
                const size_t nRow = size_t(y + pGain->nTop) * size_t(pGain->nStride) + size_t(pGain->nLeft);
                for (int32_t x = ei.region.nLeft; x < ei.region.nLeft + ei.region.nWidth; ++x) {
                    const size_t i = nRow + size_t(x);
                    median.Add(UnlimitedGain(pGain->pRaw[i], pGain->pDark[i], pGain->pReference[i], quotient.data()));
                }
                continue;
            }
            const size_t nRow = size_t(y) * size_t(s.nWidth);
            for (int32_t x = ei.region.nLeft; x < ei.region.nLeft + ei.region.nWidth; ++x)
                median.Add(Signal(s, nRow + size_t(x)));
        }
    };
    const size_t nWorkers = WorkerCount(size_t(ei.region.nWidth) * size_t(ei.region.nHeight), size_t{1} << 19);
    std::vector<CMedian> parts(nWorkers);
    RunChunks(nWorkers, nWorkers, [&](size_t c) {
        const int64_t nRows = ei.region.nHeight;
        fnRows(parts[c], ei.region.nTop + int32_t(nRows * int64_t(c) / int64_t(nWorkers)),
               ei.region.nTop + int32_t(nRows * int64_t(c + 1) / int64_t(nWorkers)));
    });
    CMedian& median = parts[0];
    for (size_t c = 1; c < parts.size(); ++c) median.Merge(parts[c]);
    const uint64_t nCount = uint64_t(ei.region.nWidth) * uint64_t(ei.region.nHeight);
    // The median; of an even count the lower of the two middle values.
    ei.nValueOfInterest = median.Lower(nCount);
    ei.dKermaUGy = double(ei.nValueOfInterest) / settings.dSignalPerUGy;
    ei.dEI = 100.0 * ei.dKermaUGy;
    ei.bValid = true;
    if (ei.dEI > 0.0 && settings.dTargetEI > 0.0) {
        ei.dDI = 10.0 * std::log10(ei.dEI / settings.dTargetEI);
        ei.bDeviationValid = true;
    }
    return ei;
}

EDoseLevel ClassifyDeviation(double d) {
    if (d > 3.0) return EDoseLevel::Excessive;
    if (d >= 1.0) return EDoseLevel::OverTarget;
    if (d > 0.5) return EDoseLevel::NearTarget;
    if (d >= -0.5) return EDoseLevel::OnTarget;
    if (d > -1.0) return EDoseLevel::NearTarget;
    if (d >= -3.0) return EDoseLevel::UnderTarget;
    return EDoseLevel::Repeat;
}

const char* DoseLevelText(EDoseLevel level) {
    switch (level) {
    case EDoseLevel::Excessive: return "excessive exposure";
    case EDoseLevel::OverTarget: return "over target";
    case EDoseLevel::NearTarget: return "near target";
    case EDoseLevel::OnTarget: return "on target";
    case EDoseLevel::UnderTarget: return "under target";
    case EDoseLevel::Repeat: return "underexposed, consider a repeat";
    }
    return "";
}

uint32_t DoseLevelColour(EDoseLevel level) {
    switch (level) {
    case EDoseLevel::Excessive:
    case EDoseLevel::Repeat: return 0xC62828;  // red: act
    case EDoseLevel::OverTarget:
    case EDoseLevel::UnderTarget: return 0xE69500;  // amber: watch
    case EDoseLevel::NearTarget:
    case EDoseLevel::OnTarget: return 0x2E7D32;  // green
    }
    return 0;
}

std::string ExposureIndexText(const CExposureIndex& ei) {
    if (!ei.bValid) return "EI: no exposed field";
    char sz[128];
    if (!ei.bDeviationValid) {
        std::snprintf(sz, sizeof sz, "EI %.0f: no deviation index", ei.dEI);
        return sz;
    }
    std::snprintf(sz, sizeof sz, "EI %.0f DI %+.1f: %s", ei.dEI, ei.dDI, DoseLevelText(ClassifyDeviation(ei.dDI)));
    return sz;
}

std::string ExposureIndexWords(const CExposureIndex& ei) {
    return ei.bValid && ei.bDeviationValid ? DoseLevelText(ClassifyDeviation(ei.dDI)) : "";
}

CExposureIndex ExposureIndexOf(const CAcquiredImage& image, const CExposureIndexSettings& settings,
                               const CGainInputs* pGain) {
    CSignalSource src;
    src.pPixels = image.pixels.data();
    src.nWidth = image.Width();
    src.nHeight = image.Height();
    if (src.nWidth <= 0 || src.nHeight <= 0 || image.pixels.size() != size_t(src.nWidth) * size_t(src.nHeight))
        return {};
    src.nOffset = image.nOffsetControl;
    if (!image.gain.bApplied && image.dark.size() == image.pixels.size()) src.pDark = image.dark.data();
    return ComputeExposureIndex(src, settings, image.gain.bApplied ? pGain : nullptr);
}

namespace {

constexpr const char* kSectionExposureIndex = "EXPOSURE_INDEX";

void AddProblem(std::string& strProblems, const std::string& strText) {
    if (!strProblems.empty()) strProblems += "; ";
    strProblems += strText;
}

std::string Trimmed(const std::string& s) {
    const size_t nFirst = s.find_first_not_of(" \t");
    if (nFirst == std::string::npos) return "";
    return s.substr(nFirst, s.find_last_not_of(" \t") - nFirst + 1);
}

// A positive number from a text key; the default when empty or unusable.
double ReadPositive(const std::string& strIni, const char* szKey, double dDefault, std::string& strProblems) {
    const std::string strText = Trimmed(ReadProfileText(strIni, kSectionExposureIndex, szKey, "", 512));
    if (strText.empty()) return dDefault;
    char* pEnd = nullptr;
    const double d = std::strtod(strText.c_str(), &pEnd);
    if (pEnd == strText.c_str() || *pEnd != '\0' || !(d > 0.0) || d > 1e9) {
        AddProblem(strProblems, std::string(szKey) + "=" + strText + " is not a positive number");
        return dDefault;
    }
    return d;
}

}  // namespace

CExposureIndexSettings ReadExposureIndexSettings(const std::string& strIni, std::string& strProblems) {
    CExposureIndexSettings s;
    strProblems.clear();
    const int32_t nRegion = ReadProfileInt(strIni, kSectionExposureIndex, "REGION_PERCENT", s.nRegionPercent);
    if (nRegion < 1 || nRegion > 100)
        AddProblem(strProblems, "REGION_PERCENT=" + std::to_string(nRegion) + " is not 1 to 100");
    else
        s.nRegionPercent = nRegion;
    s.dSignalPerUGy = ReadPositive(strIni, "SIGNAL_PER_UGY", s.dSignalPerUGy, strProblems);
    s.dTargetEI = ReadPositive(strIni, "TARGET_EI", s.dTargetEI, strProblems);
    return s;
}

}  // namespace orvi::dose
