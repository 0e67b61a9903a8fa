#include "imaging/Calibration.h"

#include "app/Report.h"
#include "imaging/CalibrationStore.h"
#include "imaging/FrameBuffer.h"
#include "imaging/Parallel.h"
#include "imaging/PostProcess.h"
#include "imaging/RawFile.h"
#include "imaging/SimdKernels.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace orvi {
namespace {

constexpr const char* kNoMemoryLogLine = "No memory for the calibration data: correction skipped";

// Reports a file that could not be read (a short one is logged too); true
// when it could.
bool ReportRead(RawRead e, const std::string& strPath, uint64_t nBytes, size_t nPixels, const char* szFail,
                const char* szWhat, CReport& report) {
    if (e == RawRead::Ok) return true;
    if (e == RawRead::TooShort) report.Log(ShortFileLogLine(szWhat, strPath, nBytes, uint64_t(nPixels) * 2));
    report.Warn(szFail);
    return false;
}

// Checks that a calibration file can be read in full, without reading it.
bool CheckCalibrationFile(const std::string& strPath, size_t nPixels, const char* szFail, const char* szWhat,
                          CReport& report) {
    uint64_t nBytes = 0;
    RawRead e = CheckRawFile(strPath, nPixels, &nBytes);
    return ReportRead(e, strPath, nBytes, nPixels, szFail, szWhat, report);
}

bool ReadCalibrationFile(const std::string& strPath, uint16_t* pPixels, size_t nPixels, const char* szFail,
                         const char* szWhat, CReport& report) {
    uint64_t nBytes = 0;
    RawRead e = ReadRawFile(strPath, pPixels, nPixels, &nBytes);
    return ReportRead(e, strPath, nBytes, nPixels, szFail, szWhat, report);
}

}  // namespace

// ---- Gain ------------------------------------------------------------------

void GainCorrect(uint16_t* pFrame, const uint16_t* pDark, const uint16_t* pReference, int32_t nLevel, size_t nPixels) {
    if (nLevel <= 0) {
        // Every result is limited to L and then to 0.
        std::fill(pFrame, pFrame + nPixels, uint16_t{0});
        return;
    }
    std::vector<double> quotient;
    FillGainQuotients(nLevel, quotient);
    // The result is limited to L and to the 14 bits of a corrected image; a
    // bright file named above 16383 must not give larger values (or wrap).
    const double dLevel = double(std::min<int32_t>(nLevel, kMaxPixelValue));
    RunRanges(nPixels, WorkerCount(nPixels, size_t{1} << 19), [&](size_t b, size_t e) {
        ActiveKernels().GainRange(pFrame + b, pDark + b, pReference + b, quotient.data(), dLevel, e - b);
    });
}

// q[0] = 0 gives the rule's 0 for g = 0.
void FillGainQuotients(int32_t nLevel, std::vector<double>& quotient) {
    quotient.resize(65536);
    quotient[0] = 0.0;
    for (uint32_t g = 1; g < 65536; ++g) quotient[g] = double(nLevel) / double(g);
}

void GainCorrectPixels(uint16_t* pFrame, const CGainInputs& in, size_t nBegin, size_t nEnd) {
    if (nEnd > nBegin)
        ActiveKernels().GainRange(pFrame + nBegin, in.pDark + nBegin, in.pReference + nBegin, in.pQuotient, in.dLevel,
                                  nEnd - nBegin);
}

int32_t ChooseReferenceBright(const std::string* pNames, size_t nBrights) {
    int32_t nBest = -1;
    int64_t nBestDistance = 0;
    for (size_t i = 0; i < nBrights; ++i) {
        int64_t nDistance = int64_t{LevelFromFileName(pNames[i], kPrefixBright)} - kGainTargetLevel;
        if (nDistance < 0) nDistance = -nDistance;
        if (nBest < 0 || nDistance < nBestDistance) {
            nBest = int32_t(i);
            nBestDistance = nDistance;
        }
    }
    return nBest;
}

namespace {

// A bright file whose level reads back as 0 or less would turn every pixel
// into 0 (the rule limits to L): it is refused like a file that cannot be read.
bool BrightLevelUsable(const std::string& strFolder, const std::string& strName, CReport& report) {
    if (LevelFromFileName(strName, kPrefixBright) > 0) return true;
    report.Log("Bright file refused: " + JoinPath(strFolder, strName) + " has level 0 and would make the image black");
    report.Warn(kBrightFileOpenFail);
    return false;
}

}  // namespace

CGainResult PrepareGainFromSets(int32_t nWidth, int32_t nHeight, const std::string& strCalFolder, CReport& report,
                                const uint16_t* pDarkInMemory, const std::string& strDarkInMemory,
                                const CCalibrationSet* pSet, CGainInputs& inputs) {
    CGainResult result;
    if (nWidth <= 0 || nHeight <= 0) return result;
    const size_t nPixels = size_t(nWidth) * size_t(nHeight);
    // With the dark from memory and the folder's set just taken from the
    // store, the set's listing and checks stand for the folder's (the store
    // made them when the folder last changed).
    const bool bListedInSet = pDarkInMemory != nullptr && pSet != nullptr && pSet->strFolder == strCalFolder &&
                              size_t(pSet->nWidth) * size_t(pSet->nHeight) == nPixels;
    std::vector<std::string> names;
    if (bListedInSet) {
        for (const CCalibrationSet::CListed& listed : pSet->listed) names.push_back(listed.strName);
    } else {
        names = ListCalibrationFiles(strCalFolder);
    }
    if (pDarkInMemory != nullptr) {
        // The dark comes from memory: every listed dark file is left out, the
        // rest are the brights.
        std::erase_if(names, [](const std::string& s) { return s.find("DARK") != std::string::npos; });
        names.push_back(strDarkInMemory);
    }
    if (names.size() < 2) {
        report.Warn(kNeedMoreBrightFiles);
        return result;
    }

    // Every file is checked in listing order (the dark is last); files that
    // cannot be used are reported and left out.
    std::vector<std::string> usable;
    for (size_t i = 0; i + 1 < names.size(); ++i) {
        const std::string strPath = JoinPath(strCalFolder, names[i]);
        const bool bReadable = bListedInSet
                                   ? ReportRead(pSet->listed[i].eCheck, strPath, pSet->listed[i].nBytes, nPixels,
                                                kBrightFileOpenFail, "Bright file", report)
                                   : CheckCalibrationFile(strPath, nPixels, kBrightFileOpenFail, "Bright file", report);
        if (bReadable && BrightLevelUsable(strCalFolder, names[i], report)) usable.push_back(names[i]);
    }
    const std::string& strDark = names.back();
    bool bDarkOk = pDarkInMemory != nullptr || CheckCalibrationFile(JoinPath(strCalFolder, strDark), nPixels,
                                                                    kDarkFileOpenFail, "Dark file", report);
    int32_t nRef = ChooseReferenceBright(usable.data(), usable.size());
    if (!bDarkOk || nRef < 0) return result;

    const std::string& strRef = usable[size_t(nRef)];
    const bool bRefInSet = pSet != nullptr && pSet->strFolder == strCalFolder && pSet->strReference == strRef &&
                           pSet->reference.size() == nPixels;
    // The two files are read at once, one per core.
    if (pDarkInMemory == nullptr) inputs.pDarkRead = std::make_unique<CFrameBuffer>(nPixels);
    if (!bRefInSet) inputs.pReferenceRead = std::make_unique<CFrameBuffer>(nPixels);
    if ((inputs.pDarkRead && !*inputs.pDarkRead) || (inputs.pReferenceRead && !*inputs.pReferenceRead)) {
        report.Log(kNoMemoryLogLine);
        return result;
    }
    const std::string strRefPath = JoinPath(strCalFolder, strRef);
    const std::string strDarkPath = JoinPath(strCalFolder, strDark);
    RawRead eRead[2] = {RawRead::Ok, RawRead::Ok};
    uint64_t nBytes[2] = {0, 0};
    RunChunks(2, WorkerCount(2, 1), [&](size_t k) {
        if (k == 0 && !bRefInSet)
            eRead[0] = ReadRawFile(strRefPath, inputs.pReferenceRead->get(), nPixels, &nBytes[0]);
        else if (k == 1 && pDarkInMemory == nullptr)
            eRead[1] = ReadRawFile(strDarkPath, inputs.pDarkRead->get(), nPixels, &nBytes[1]);
    });
    if (!ReportRead(eRead[0], strRefPath, nBytes[0], nPixels, kBrightFileOpenFail, "Bright file", report) ||
        !ReportRead(eRead[1], strDarkPath, nBytes[1], nPixels, kDarkFileOpenFail, "Dark file", report))
        return result;
    const uint16_t* pReference = bRefInSet ? pSet->reference.data() : inputs.pReferenceRead->get();
    // A reference of zeros would make the image black as well.
    if (bRefInSet ? pSet->bReferenceAllZero
                  : std::all_of(pReference, pReference + nPixels, [](uint16_t v) { return v == 0; })) {
        report.Log("Bright file refused: " + strRefPath + " holds only zeros and would make the image black");
        report.Warn(kBrightFileOpenFail);
        return result;
    }

    result.nLevel = LevelFromFileName(strRef, kPrefixBright);
    inputs.pDark = pDarkInMemory != nullptr ? pDarkInMemory : inputs.pDarkRead->get();
    inputs.pReference = pReference;
    // The set holds the table of its reference's level.
    if (bRefInSet && pSet->quotient.size() == 65536 && pSet->nLevel == result.nLevel) {
        inputs.pQuotient = pSet->quotient.data();
    } else {
        FillGainQuotients(result.nLevel, inputs.quotient);
        inputs.pQuotient = inputs.quotient.data();
    }
    // The result is limited to L and to the 14 bits of a corrected image; a
    // bright file named above 16383 must not give larger values (or wrap).
    inputs.dLevel = double(std::min<int32_t>(result.nLevel, kMaxPixelValue));
    result.bApplied = true;
    result.strDarkFile = strDark;
    result.strReferenceFile = strRef;
    return result;
}

CGainResult ApplyGainFromSets(uint16_t* pFrame, int32_t nWidth, int32_t nHeight, const std::string& strCalFolder,
                              CReport& report, const uint16_t* pDarkInMemory, const std::string& strDarkInMemory,
                              const CCalibrationSet* pSet) {
    CGainInputs inputs;
    CGainResult result =
        PrepareGainFromSets(nWidth, nHeight, strCalFolder, report, pDarkInMemory, strDarkInMemory, pSet, inputs);
    if (!result.bApplied) return result;
    const size_t nPixels = size_t(nWidth) * size_t(nHeight);
    RunRanges(nPixels, WorkerCount(nPixels, size_t{1} << 19),
              [&](size_t b, size_t e) { GainCorrectPixels(pFrame, inputs, b, e); });
    return result;
}

// ---- Bad pixel map -----------------------------------------------------------

namespace {

// The truncated mean of the good pixels within `radius` of (r, c), or -1.
inline int32_t GoodMean(const uint16_t* pFrame, const uint16_t* pMap, int32_t nWidth, int32_t nHeight, int32_t r,
                        int32_t c, int32_t nRadius) {
    int32_t nSum = 0;
    int32_t nCount = 0;
    const int32_t r0 = std::max(0, r - nRadius), r1 = std::min(nHeight - 1, r + nRadius);
    const int32_t c0 = std::max(0, c - nRadius), c1 = std::min(nWidth - 1, c + nRadius);
    for (int32_t rr = r0; rr <= r1; ++rr) {
        const size_t nRow = size_t(rr) * size_t(nWidth);
        for (int32_t cc = c0; cc <= c1; ++cc)
            if (pMap[nRow + size_t(cc)] == 0) {
                nSum += pFrame[nRow + size_t(cc)];
                ++nCount;
            }
    }
    return nCount == 0 ? -1 : nSum / nCount;
}

void CorrectRows(uint16_t* pFrame, const uint16_t* pMap, int32_t nWidth, int32_t nHeight, int32_t r0, int32_t r1) {
    const size_t nBegin = size_t(r0) * size_t(nWidth);
    const size_t nEnd = size_t(r1) * size_t(nWidth);
    size_t i = nBegin;
    // Most of the map is 0: skip it 32 pixels at a time.
    for (; i < nEnd;) {
        if (i % 32 == 0 && i + 32 <= nEnd) {
            uint64_t w[8];
            std::memcpy(w, pMap + i, sizeof w);
            if ((w[0] | w[1] | w[2] | w[3] | w[4] | w[5] | w[6] | w[7]) == 0) {
                i += 32;
                continue;
            }
        }
        size_t nStop = std::min(nEnd, (i / 32 + 1) * 32);
        for (; i < nStop; ++i) {
            if (pMap[i] == 0) continue;
            const int32_t r = int32_t(i / size_t(nWidth));
            const int32_t c = int32_t(i % size_t(nWidth));
            int32_t nMean = GoodMean(pFrame, pMap, nWidth, nHeight, r, c, 1);
            if (nMean < 0) nMean = GoodMean(pFrame, pMap, nWidth, nHeight, r, c, 2);
            if (nMean >= 0) pFrame[i] = static_cast<uint16_t>(std::min(nMean, 16383));
        }
    }
}

}  // namespace

void BadPixelCorrect(uint16_t* pFrame, const uint16_t* pMap, int32_t nWidth, int32_t nHeight) {
    if (nWidth <= 0 || nHeight <= 0) return;
    // Bands may run at once: a band writes only marked pixels and every band
    // reads only unmarked ones.
    RunRanges(size_t(nHeight), WorkerCount(size_t(nHeight) * size_t(nWidth), size_t{1} << 20),
              [&](size_t b, size_t e) { CorrectRows(pFrame, pMap, nWidth, nHeight, int32_t(b), int32_t(e)); });
}

void BadPixelCorrectRows(uint16_t* pFrame, const uint16_t* pMap, int32_t nWidth, int32_t nHeight, int32_t r0,
                         int32_t r1, size_t nWorkers) {
    if (r1 <= r0) return;
    RunRanges(size_t(r1 - r0), nWorkers, [&](size_t b, size_t e) {
        CorrectRows(pFrame, pMap, nWidth, nHeight, r0 + int32_t(b), r0 + int32_t(e));
    });
}

const uint16_t* PrepareBadPixelMap(int32_t nWidth, int32_t nHeight, const std::string& strCalFolder, CReport& report,
                                   const CCalibrationSet* pSet, std::unique_ptr<CFrameBuffer>& pRead) {
    if (nWidth <= 0 || nHeight <= 0) return nullptr;
    const size_t nPixels = size_t(nWidth) * size_t(nHeight);
    if (pSet != nullptr && pSet->strFolder == strCalFolder && pSet->bpm.size() == nPixels) return pSet->bpm.data();
    pRead = std::make_unique<CFrameBuffer>(nPixels);
    if (!*pRead) {
        report.Log(kNoMemoryLogLine);
        return nullptr;
    }
    if (!ReadCalibrationFile(JoinPath(strCalFolder, kBpmFileName), pRead->get(), nPixels, kBpmFileOpenFail, "BPM file",
                             report))
        return nullptr;
    return pRead->get();
}

bool ApplyBadPixelMap(uint16_t* pFrame, int32_t nWidth, int32_t nHeight, const std::string& strCalFolder,
                      CReport& report, const CCalibrationSet* pSet) {
    std::unique_ptr<CFrameBuffer> pRead;
    const uint16_t* pMap = PrepareBadPixelMap(nWidth, nHeight, strCalFolder, report, pSet, pRead);
    if (pMap == nullptr) return false;
    BadPixelCorrect(pFrame, pMap, nWidth, nHeight);
    return true;
}

}  // namespace orvi
