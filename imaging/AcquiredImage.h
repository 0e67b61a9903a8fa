#pragma once
// A finished exposure: the corrected, cut image as it was saved, with what is
// known of how it was made. Made once by the controller when an exposure has
// been corrected and handed, immutable, to every image sink (the view, the
// headless station's printout, the history, the DICOM writer). Sinks may keep
// the pointer as long as they like and read it from any thread.
#include "imaging/Calibration.h"
#include "imaging/ExposureIndex.h"
#include "imaging/FrameGeometry.h"
#include "imaging/WindowLevel.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace orvi {

struct CAcquiredImage {
    // The cut image, row after row: geometry.CutWidth() x geometry.CutHeight().
    std::vector<uint16_t> pixels;
    // The dark frame the image was taken with, cut the same way (empty when the
    // exposure had no dark of its own).
    std::vector<uint16_t> dark;
    // The detector frame size and the four cuts applied.
    CImageGeometry geometry;

    uint32_t hDetector = 0;
    char cDetector = 'A';      // 'A' or 'B'
    int32_t nTriggerMode = 0;  // 0, 1, 6 or 7
    uint64_t nSequence = 0;    // 1 for the first image of this run
    // What the detector says of itself ("" when it says nothing): its identity
    // and its firmware version as the configuration dialog shows it.
    std::string strDetectorId;
    std::string strDetectorFirmware;
    // When the exposure frame arrived from the detector.
    std::chrono::system_clock::time_point tAcquired;

    // The image file written (IMAGE_PATH + IMAGE_NAME); bSaved is false when
    // that write failed and the image exists only here.
    std::string strSavedPath;
    bool bSaved = false;

    // The corrections applied and the calibration set used for the gain step.
    int32_t nCalibration = 0;
    int32_t nOffsetControl = 0;
    int32_t nMedianFilter = 0;
    CGainResult gain;
    // The dose indicator of the exposure frame; -1 when DOSE_INDICATOR is off.
    // The image's automatic window (display/AutoWindow.h), worked out once
    // for every sink that needs one (the history's sidecar, a file made
    // without a screen).
    CWindowLevel autoWindow;
    // The exposure index (imaging/ExposureIndex.h), worked out once by the
    // controller with [EXPOSURE_INDEX] as it was at the exposure; over a gain
    // correction from the signal before the correction's limit.
    dose::CExposureIndex exposureIndex;
    int32_t nDoseIndicator = -1;

    int32_t Width() const { return geometry.CutWidth(); }
    int32_t Height() const { return geometry.CutHeight(); }
};

using AcquiredImagePtr = std::shared_ptr<const CAcquiredImage>;

// A consumer of finished exposures. Called on the controller's thread, in the
// order the sinks were added, after the image file is written; also when it
// could not be written (bSaved false), so that a sink may still keep it.
class IImageSink {
public:
    virtual ~IImageSink() = default;
    virtual void OnImageAcquired(const AcquiredImagePtr& pImage) = 0;
};

}  // namespace orvi
