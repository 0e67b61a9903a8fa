#pragma once
// The processing of a held exposure image once its dark file has been written:
// gain correction, offset, bad pixel map, median, cut, and the image file.
// The controller restores the held image into the working frame and calls
// this; every step is also available on its own (PostProcess.h, Calibration.h).
#include "imaging/Calibration.h"
#include "imaging/FrameGeometry.h"

#include <cstdint>
#include <memory>
#include <string>

namespace orvi {

class IUiPort;
class CCalibrationStore;
struct CCalibrationSet;

// The main frame's settings these steps use, as loaded at start-up.
struct CImageSettings {
    CImageGeometry geometry;   // checked at start-up
    int32_t nCalibration = 1;  // CALIBRATION: gain and bad pixel correction
    int32_t nOffsetControl = 0;
    int32_t nMedianFilter = 1;
    std::string strCalFolder;  // CAL_PATH folder
    // The dark after the exposure when its file could not be written: the
    // gain step takes it from memory. bNoDark: no dark came at all; the gain
    // step is left out (the image is saved uncorrected by it).
    const uint16_t* pDarkInMemory = nullptr;
    std::string strDarkInMemory;
    bool bNoDark = false;
    // The calibration folder's files held in memory: the reference bright and
    // BPM.RAW are read only when the folder changed. Null: read every time.
    CCalibrationStore* pCalibrationStore = nullptr;
};

// On the working frame, in this order: ApplyGainFromSets (CALIBRATION),
// ApplyOffset (OFFSET_CONTROL non-zero), ApplyBadPixelMap (CALIBRATION),
// MedianFilter3x3 (MEDIAN_FILTER), CutImage; then writes the cut image
// ((W - left - right) x (H - top - bottom) pixels) to strImageFile, replacing
// an existing file whole. Failures of the correction steps are shown by them
// and the sequence goes on. Returns false after showing "Image file creation
// fail!!" when the image file cannot be written. When pGainUsed is given it
// receives what the gain step used, and ppSetUsed the calibration store's
// set the steps took (null without a store or without CALIBRATION). The log
// names the image file and the reason of a failed write.
bool ProcessExposureImage(uint16_t* pFrame, const CImageSettings& settings, const std::string& strImageFile,
                          IUiPort& ui, CGainResult* pGainUsed = nullptr,
                          std::shared_ptr<const CCalibrationSet>* ppSetUsed = nullptr);

// The log line of a file that could not be written, e.g.
// "Image file creation fail: /img/IMAGE.RAW: No space left on device".
std::string FileFailLogLine(const std::string& strWhat, const std::string& strPath, int nError);

}  // namespace orvi
