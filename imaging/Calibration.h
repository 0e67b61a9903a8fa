#pragma once
// The program's own correction of an exposure image with the calibration data
// of the calibration folder: the gain correction from the dark file and a
// bright file (bright minus dark) of the folder, and the replacement of the
// pixels marked in BPM.RAW by the mean of their good neighbours. What the
// text below says is "shown" or "logged" goes to the caller's report, which
// the controller shows and logs.
#include "imaging/FrameBuffer.h"
#include <cstddef>
#include <cstdint>

#include <memory>
#include <string>
#include <vector>

namespace orvi {

class CReport;
struct CCalibrationSet;

inline constexpr const char* kNeedMoreBrightFiles = "Need more bright files!!";
inline constexpr const char* kDarkFileOpenFail = "Dark file open fail!!";
inline constexpr const char* kBrightFileOpenFail = "Bright file open fail!!";
inline constexpr const char* kBpmFileOpenFail = "BPM file open fail!!";

// The bright level the gain correction aims at: the reference bright file is
// the one whose level is nearest to it.
inline constexpr int32_t kGainTargetLevel = 10000;

// ---- Gain ------------------------------------------------------------------

// The gain rule for every pixel, with v the frame, d the dark, g the reference
// bright and L its level: v = 0 gives 0; else g = 0 gives 0; else
// trunc((L / g) x (v - d)) in double precision, limited to L, to 16383 (the
// 14 bits of a corrected image) and then to 0.
void GainCorrect(uint16_t* pFrame, const uint16_t* pDark, const uint16_t* pReference, int32_t nLevel, size_t nPixels);

struct CGainResult {
    bool bApplied = false;
    std::string strDarkFile;  // names of the files used (no folder)
    std::string strReferenceFile;
    int32_t nLevel = 0;  // L, the reference's level
};

// Chooses the reference among the reference candidates of a sorted list of
// calibration names: every name but the last is a bright file; the nearest
// level to 10000 wins, the first listed on a tie. Returns the index, or -1.
int32_t ChooseReferenceBright(const std::string* pNames, size_t nBrights);

// The gain correction of one exposure image from the calibration folder.
// Lists the calibration files by name (fewer than two: "Need more bright
// files!!", frame unchanged); the last is the dark (level read back with
// "DARK_"), every other one a bright (with "BRIGHT_"). Every file is checked;
// one that cannot be opened shows "Bright file open fail!!" or "Dark file open
// fail!!", one shorter than W x H pixels shows the same and is logged; such a
// file takes no part. Only the dark and the reference bright are read into
// memory. Without a usable dark or bright the frame stays unchanged.
// A bright whose level reads back as 0 (it would make every pixel 0), and a
// reference of zeros, are refused with "Bright file open fail!!" and a log line.
// pDarkInMemory: the dark just taken, when its file could not be written; the
// folder's dark files are then left out and strDarkInMemory names the dark in
// the result.
// pSet: the folder's set from the calibration store, just taken; when it holds
// the chosen reference, that file is not read again.
CGainResult ApplyGainFromSets(uint16_t* pFrame, int32_t nWidth, int32_t nHeight, const std::string& strCalFolder,
                              CReport& report, const uint16_t* pDarkInMemory = nullptr,
                              const std::string& strDarkInMemory = std::string(),
                              const CCalibrationSet* pSet = nullptr);

// The gain correction in two parts, for a caller that corrects the frame a
// band of rows at a time: PrepareGainFromSets does everything of
// ApplyGainFromSets but the correction itself (the same checks, messages and
// result, bApplied telling whether the frame is to be corrected) and fills
// inputs; GainCorrectPixels then corrects pixels nBegin .. nEnd - 1.
struct CGainInputs {
    const uint16_t* pDark = nullptr;
    const uint16_t* pReference = nullptr;
    const double* pQuotient = nullptr;  // L / g for every reference value g (0 for g = 0)
    double dLevel = 0.0;                // the limit: L, at most 16383
    // What the pointers lead into when this exposure read the files itself.
    std::unique_ptr<CFrameBuffer> pDarkRead, pReferenceRead;
    std::vector<double> quotient;
};
CGainResult PrepareGainFromSets(int32_t nWidth, int32_t nHeight, const std::string& strCalFolder, CReport& report,
                                const uint16_t* pDarkInMemory, const std::string& strDarkInMemory,
                                const CCalibrationSet* pSet, CGainInputs& inputs);
void GainCorrectPixels(uint16_t* pFrame, const CGainInputs& inputs, size_t nBegin, size_t nEnd);

// q[g] = L / g for g = 1 .. 65535 and q[0] = 0: the first factor of the gain
// rule for every reference value.
void FillGainQuotients(int32_t nLevel, std::vector<double>& quotient);

// ---- Bad pixel map -----------------------------------------------------------

// Every pixel whose map value is not 0 becomes the truncated mean of the good
// (map 0) pixels of its 3 x 3 neighbourhood inside the frame, or else of its
// 5 x 5 neighbourhood, limited to 16383; with no good neighbour it keeps its
// value. Only good pixels are read and only marked ones written.
void BadPixelCorrect(uint16_t* pFrame, const uint16_t* pMap, int32_t nWidth, int32_t nHeight);

// Reads BPM.RAW of the calibration folder (its first W x H pixels) and applies
// it. A missing, unreadable or short file shows "BPM file open fail!!" (a short
// one is logged too) and leaves the frame unchanged; returns false then.
// pSet: the folder's set from the calibration store, just taken; its map is
// used when it holds one.
bool ApplyBadPixelMap(uint16_t* pFrame, int32_t nWidth, int32_t nHeight, const std::string& strCalFolder,
                      CReport& report, const CCalibrationSet* pSet = nullptr);

// ApplyBadPixelMap in two parts: the map of the set or, failing that, of
// BPM.RAW read into *pRead (null, reported as ApplyBadPixelMap does, when
// there is none); then the correction of rows r0 .. r1 - 1, which reads the
// frame's rows r0 - 2 .. r1 + 1 (those must hold their final unmarked values).
const uint16_t* PrepareBadPixelMap(int32_t nWidth, int32_t nHeight, const std::string& strCalFolder, CReport& report,
                                   const CCalibrationSet* pSet, std::unique_ptr<CFrameBuffer>& pRead);
void BadPixelCorrectRows(uint16_t* pFrame, const uint16_t* pMap, int32_t nWidth, int32_t nHeight, int32_t r0,
                         int32_t r1, size_t nWorkers);

}  // namespace orvi
