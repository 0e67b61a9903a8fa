#pragma once
// CImageReception: every frame of the detector, handled by what the
// acquisition mode says it is. An exposure image is held while one or more
// darks are taken; the last dark becomes the dark file and the held image is
// corrected, cut, saved and handed to the image sinks as a CAcquiredImage. A
// bright calibration frame is held while one dark is taken; the pair becomes
// a bright file (bright minus dark) and a dark file, and the calibration
// dialog is told through ICalibrationFrames. A dark requested alone becomes
// the dark file.
//
// It belongs to a CMainFrame and owns the two full-frame buffers, the
// calibration store and the exposure path's workspace.
#include "imaging/AcquiredImage.h"
#include "imaging/CalibrationStore.h"
#include "imaging/ImageHistory.h"
#include "imaging/ImagePipeline.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace orvi {

class CImageStore;
struct CStationSettings;
class CMainFrame;
class ICalibrationFrames;

class CImageReception {
public:
    CImageReception(CMainFrame& frame, ICalibrationFrames& calibration);
    CImageReception(const CImageReception&) = delete;
    CImageReception& operator=(const CImageReception&) = delete;

    // The frame buffers, kFramePixels each; the dark frame starts zero-filled.
    void AllocateBuffers();
    // The image history, the first sink; fnProblem shows what it cannot do.
    void CreateHistory(const std::string& strIniPath, std::function<void(const std::string&)> fnProblem);

    // A frame of detector hDetector (pStore: the image store it goes to, null
    // for the application's).
    void OnImage(uint32_t hDetector, uint16_t* pFrame, CImageStore* pStore);
    // The dark after an image did not come in time.
    void OnTimerDarkWait();
    // True while an exposure image is held for its dark.
    bool HoldsExposure() const;
    // The held exposure is saved without its dark, for strReason.
    void SaveImageWithoutDark(const std::string& strReason);

    // ---- Finished exposures -------------------------------------------------------

    void AddImageSink(IImageSink* pSink);
    void RemoveImageSink(IImageSink* pSink);
    const AcquiredImagePtr& LastImage() const { return m_pLastImage; }
    CImageHistory* History() const { return m_pHistory.get(); }

    // ---- The buffers -------------------------------------------------------------------

    const std::vector<uint16_t>& ImageBackup() const { return m_pImageBackup; }
    const std::vector<uint16_t>& DarkFrame() const { return m_pDarkFrame; }
    // Darks still to come after the held image (-1: none is awaited).
    int32_t DarkRepeat() const { return m_nDarkRepeat; }

private:
    const CStationSettings& Settings() const;

    // Where the dark of an exposure comes from.
    enum class DarkSource { File, Memory, None };

    void ImageArrived(uint16_t* pFrame);
    void BrightArrived(uint16_t* pFrame, uint32_t hDetector, CImageStore* pStore);
    void CalibrationDarkArrived(uint16_t* pFrame, uint32_t hDetector, CImageStore* pStore);
    void DarkAfterImageArrived(uint16_t* pFrame, uint32_t hDetector, CImageStore* pStore,
                               const std::string& strImageName);
    void RequestDarkAfterImage(uint16_t nDelayMs);
    // fnAfterImageWritten runs once the image is processed and its file
    // written (or refused), before anything is reported (the dark file's
    // write starts there).
    void FinishExposureImage(uint16_t* pFrame, uint32_t hDetector, CImageStore* pStore, const std::string& strImageName,
                             DarkSource dark, const std::string& strDarkName = std::string(),
                             const std::function<void()>& fnAfterImageWritten = {});
    void HandOver(std::shared_ptr<CAcquiredImage> pImage);

    CMainFrame& m_frame;
    ICalibrationFrames& m_calibration;

    // Frame buffers of kFramePixels each.
    std::vector<uint16_t> m_pImageBackup;
    std::vector<uint16_t> m_pDarkFrame;
    int32_t m_nDarkRepeat = 0;
    int32_t m_nDarkTotal = 0;
    // When the exposure frame now held arrived, and its dose indicator.
    std::chrono::system_clock::time_point m_tExposure;
    int32_t m_nDoseIndicatorHeld = -1;
    std::chrono::steady_clock::time_point m_tLastDarkArrived;  // the dark of the exposure under way
    CCalibrationStore m_calibrationStore;                      // the calibration folder's files the exposures use
    CExposureWorkspace m_exposureWorkspace;                    // the exposure path's buffers, kept between images

    std::vector<IImageSink*> m_sinks;
    AcquiredImagePtr m_pLastImage;
    uint64_t m_nImagesAcquired = 0;
    std::unique_ptr<CImageHistory> m_pHistory;
};

}  // namespace orvi
