#pragma once
// The exposure index of a detector image (IEC 62494-1) and the image
// statistics the DICOM object needs: the exposed field, the value of interest,
// the air kerma it stands for, EI, the deviation from the target and the
// action level of the deviation, and a window for the viewer when the front
// end gives none. Plain functions on 16-bit pixels, worked out by the
// controller once per exposure and read by every image sink.
#include <cstdint>
#include <string>

namespace orvi {
struct CAcquiredImage;
}

namespace orvi::dose {

// [EXPOSURE_INDEX] of ORVI2.ini.
struct CExposureIndexSettings {
    int32_t nRegionPercent = 50;    // REGION_PERCENT: central share of the field's width and height
    double dSignalPerUGy = 4000.0;  // SIGNAL_PER_UGY: grey levels per uGy air kerma at RQA5
    double dTargetEI = 250.0;       // TARGET_EI
};

// A rectangle of pixels; empty when nWidth or nHeight is 0.
struct CPixelRect {
    int32_t nLeft = 0;
    int32_t nTop = 0;
    int32_t nWidth = 0;
    int32_t nHeight = 0;
    bool IsEmpty() const { return nWidth <= 0 || nHeight <= 0; }
};

// The signal of a pixel: its value less the dark (when the image still holds
// it, i.e. no gain correction subtracted it) and less the offset added to
// the corrected image, never below 0.
struct CSignalSource {
    const uint16_t* pPixels = nullptr;
    const uint16_t* pDark = nullptr;  // null: the pixels hold no dark level
    int32_t nOffset = 0;              // OFFSET_CONTROL added to every pixel
    int32_t nWidth = 0;
    int32_t nHeight = 0;
};

// The exposed field: the smallest rectangle holding every row and column of
// which at least half the pixels carry more than a tenth of the image's
// 99th-percentile signal (the collimated area; unexposed borders carry none).
// Empty when the image carries no signal.
CPixelRect ExposedField(const CSignalSource& src);

// The central region of a field: nPercent of its width and height, centred,
// at least one pixel each way when the field and nPercent are not empty.
CPixelRect CentralRegion(const CPixelRect& field, int32_t nPercent);

struct CExposureIndex {
    bool bValid = false;  // false: no exposed field or an empty region
    CPixelRect field;
    CPixelRect region;
    uint32_t nValueOfInterest = 0;  // median signal of the region
    double dKermaUGy = 0.0;         // K = value / SIGNAL_PER_UGY
    double dEI = 0.0;               // 100 x K
    double dTargetEI = 0.0;
    bool bDeviationValid = false;  // false when EI or the target is 0
    double dDI = 0.0;              // 10 log10(EI / EI_T)
};

// The gain correction's inputs for the signal before its limit. The gain
// correction limits every pixel to the reference level L (and 14 bits), so a
// dose above the calibration's level would all read as L; the value of
// interest is taken from trunc((L / g) x (v - d)) of the uncorrected frame
// instead, the same rule without the limit (v = 0 or g = 0 give 0, below 0
// gives 0). The frames are the detector's, nStride pixels a row; the image
// of the signal source starts at (nLeft, nTop) of them (its cuts).
struct CGainInputs {
    const uint16_t* pRaw = nullptr;
    const uint16_t* pDark = nullptr;
    const uint16_t* pReference = nullptr;
    int32_t nLevel = 0;
    int32_t nStride = 0;
    int32_t nLeft = 0;
    int32_t nTop = 0;
};

// pGain (may be null): the value of interest from the gain correction's
// unlimited signal; the field is found on the image's own pixels either way.
CExposureIndex ComputeExposureIndex(const CSignalSource& src, const CExposureIndexSettings& settings,
                                    const CGainInputs* pGain = nullptr);

// The exposure index of a finished exposure: its signal is the corrected
// pixel less the offset added, and less the dark when no gain correction
// took it away. pGain as above, when the gain correction was applied.
CExposureIndex ExposureIndexOf(const CAcquiredImage& image, const CExposureIndexSettings& settings,
                               const CGainInputs* pGain = nullptr);

// [EXPOSURE_INDEX] of a configuration file. Unusable values keep their
// defaults and are named, in words, in strProblems ("" when there are none).
CExposureIndexSettings ReadExposureIndexSettings(const std::string& strIniPath, std::string& strProblems);

// Action levels of the deviation index (AAPM TG-116).
enum class EDoseLevel { Excessive, OverTarget, NearTarget, OnTarget, UnderTarget, Repeat };

// DI > +3 excessive; +1..+3 over target; -0.5..+0.5 on target; -3..-1 under
// target; below -3 repeat; the gaps between are near target.
EDoseLevel ClassifyDeviation(double dDI);
const char* DoseLevelText(EDoseLevel level);
// The colour the level is shown in, as 0xRRGGBB: red to act, amber to watch,
// green within the target range.
uint32_t DoseLevelColour(EDoseLevel level);
// The status line of an exposure, e.g. "EI 254 DI +0.1: on target".
std::string ExposureIndexText(const CExposureIndex& ei);
// The verdict alone, e.g. "on target"; "" when there is no deviation index.
std::string ExposureIndexWords(const CExposureIndex& ei);

// A display window as DICOM's Window Center and Width.
struct CWindow {
    double dCenter = 0.0;
    double dWidth = 1.0;
};

}  // namespace orvi::dose
