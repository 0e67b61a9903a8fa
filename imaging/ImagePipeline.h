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

class CReport;
class CCalibrationStore;
class CFrameBuffer;

// Buffers the exposure path keeps from one image to the next, so that an
// exposure obtains no frame-sized memory (and touches no fresh pages) once
// the first one has run. One image at a time.
class CExposureWorkspace {
public:
    CExposureWorkspace();
    ~CExposureWorkspace();
    CExposureWorkspace(const CExposureWorkspace&) = delete;
    CExposureWorkspace& operator=(const CExposureWorkspace&) = delete;

    // A buffer of at least nPixels pixels for the cut image, its pages
    // touched when it is made; null when no memory could be had.
    uint16_t* CutImage(size_t nPixels);

private:
    std::unique_ptr<CFrameBuffer> m_pCut;
    size_t m_nCutPixels = 0;
};
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
    // The buffers kept between images. Null: obtained for this image alone.
    CExposureWorkspace* pWorkspace = nullptr;
    // Rows of a band of the steps (at least 4); 0: about 1 MiB of the frame.
    int32_t nBandRows = 0;
};

// On the working frame, in this order: ApplyGainFromSets (CALIBRATION),
// ApplyOffset (OFFSET_CONTROL non-zero), ApplyBadPixelMap (CALIBRATION),
// MedianFilter3x3 (MEDIAN_FILTER), CutImage; then writes the cut image
// ((W - left - right) x (H - top - bottom) pixels) to strImageFile, replacing
// an existing file whole. Failures of the correction steps go to the report
// and the sequence goes on. The steps run a band of rows at a time and each
// finished band of the cut image goes to the disk while the next is worked
// on; the result is that of the steps in turn on the whole frame, and the
// file is on disk (flushed, in place, its folder flushed) when this returns.
// Returns false after reporting "Image file creation
// fail!!" when the image file cannot be written. When pGainUsed is given it
// receives what the gain step used, and ppSetUsed the calibration store's
// set the steps took (null without a store or without CALIBRATION). The
// report's log line names the image file and the reason of a failed write.
// The caller shows and logs the report.
bool ProcessExposureImage(uint16_t* pFrame, const CImageSettings& settings, const std::string& strImageFile,
                          CReport& report, CGainResult* pGainUsed = nullptr,
                          std::shared_ptr<const CCalibrationSet>* ppSetUsed = nullptr);

// The log line of a file that could not be written, e.g.
// "Image file creation fail: /img/IMAGE.RAW: No space left on device".
std::string FileFailLogLine(const std::string& strWhat, const std::string& strPath, int nError);

}  // namespace orvi
