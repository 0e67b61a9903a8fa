// CImageReception: the frames of the detector, from the library's image
// callback to the finished exposure handed to the sinks.
#include "acquisition/ImageReception.h"

#include "acquisition/CalibrationDialog.h"
#include "acquisition/MainFrame.h"

#include "app/ConfigKeys.h"
#include "app/EventLog.h"
#include "display/AutoWindow.h"
#include "imaging/CalibrationStore.h"
#include "imaging/ExposureIndex.h"
#include "imaging/ImagePipeline.h"
#include "imaging/MessageFiles.h"
#include "imaging/PostProcess.h"
#include "imaging/RawFile.h"
#include "orviacquire/ORVIAcquireLib.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <future>

namespace orvi {

namespace {

// A pause read from the configuration; a negative value is no pause.
uint32_t PauseMs(int32_t nMs) { return nMs > 0 ? static_cast<uint32_t>(nMs) : 0; }

}  // namespace

CImageReception::CImageReception(CMainFrame& frame, ICalibrationFrames& calibration)
    : m_frame(frame), m_calibration(calibration) {}

const CStationSettings& CImageReception::Settings() const { return m_frame.Settings(); }

void CImageReception::AllocateBuffers() {
    m_pImageBackup.assign(kFramePixels, 0);
    m_pDarkFrame.assign(kFramePixels, 0);
}

void CImageReception::CreateHistory(const std::string& strIniPath, std::function<void(const std::string&)> fnProblem) {
    m_pHistory = std::make_unique<CImageHistory>(strIniPath, std::move(fnProblem));
    m_sinks.insert(m_sinks.begin(), m_pHistory.get());
}

bool CImageReception::HoldsExposure() const {
    return m_frame.Sequencer().AcqMode() == ACQ_DARK_AFTER_IMAGE && m_nDarkRepeat >= 0;
}

void CImageReception::OnImage(uint32_t hDetector, uint16_t* pFrame, CImageStore* pStore) {
    if (m_pImageBackup.empty()) return;  // not created: no buffers to work with
    if (pStore == nullptr) pStore = &m_frame.App().m_imageStore;

    WriteLog("WINAPI ImageCallback");
    m_frame.Sequencer().FrameArrived();
    const std::string strImageName = cfg::Read(Settings().m_strIniPath, cfg::IMAGE_NAME);
    MirrorRows(pFrame, Settings().m_nImageWidth, Settings().m_nImageHeight);

    switch (m_frame.Sequencer().AcqMode()) {
    case ACQ_IMAGE: ImageArrived(pFrame); return;
    case ACQ_BRIGHT: BrightArrived(pFrame, hDetector, pStore); return;
    case ACQ_DARK: CalibrationDarkArrived(pFrame, hDetector, pStore); return;
    case ACQ_DARK_AFTER_IMAGE: DarkAfterImageArrived(pFrame, hDetector, pStore, strImageName); return;
    default: pStore->StoreFrame(hDetector, pFrame); return;
    }
}

// The exposure image: checked, held, and one or more darks requested.
void CImageReception::ImageArrived(uint16_t* pFrame) {
    WriteLog("Receive Image data");
    m_tExposure = std::chrono::system_clock::now();
    m_frame.StartTimer(TIMER_BLINK, kBlinkMs);
    m_frame.DeleteMessageFile(kFileConnectionSuccess);
    m_frame.DeleteMessageFile(kFileDetectorReady);
    m_frame.DeleteMessageFile(kFileDetectorReady);
    if (Settings().m_nStdDevOption != 0)
        CheckExposure(pFrame, Settings().m_nImageWidth, Settings().m_nImageHeight, Settings().m_nStdDevRange);
    // The host program's note that an image is coming. When it cannot be
    // made the exposure goes on all the same: it is the patient's dose.
    if (!CreateEmptyFile(Settings().m_strImagePath, kFileImageComing)) {
        const int nError = errno;
        WriteLog(FileFailLogLine("Message file creation fail", Settings().m_strImagePath + kFileImageComing, nError));
        m_frame.Ui().ShowWarning(std::string(kMessageFileCreationFail) + "\n" + Settings().m_strImagePath +
                                 kFileImageComing + ": " + FileErrorText(nError));
    }
    std::memcpy(m_pImageBackup.data(), pFrame, Settings().FramePixels() * sizeof(uint16_t));
    m_frame.ShowProgress(kProgressReading);
    m_nDoseIndicatorHeld = -1;
    if (Settings().m_nDoseIndicator != 0) {
        CReport report;
        m_nDoseIndicatorHeld = ComputeDoseIndicator(pFrame, Settings().m_nImageWidth, Settings().m_nImageHeight,
                                                    Settings().m_strIniPath, Settings().m_strImagePath, report);
        m_frame.Ui().ShowReport(report);
    }
    WriteLog("Backup data & order to get dark.");

    const int32_t nSleep = cfg::Read(Settings().m_strIniPath, cfg::DARK_SLEEP_TERM_FIRST);
    m_frame.Timers().sleep_ms(PauseMs(nSleep));
    // At least one dark is taken: the held image is corrected with the last.
    const int32_t nDarks = cfg::Read(Settings().m_strIniPath, cfg::REPEAT_GER_DARK);
    m_nDarkRepeat = nDarks < 1 ? 0 : nDarks - 1;
    if (m_nDarkRepeat > 5) m_nDarkRepeat = 1;
    char sz[96];
    std::snprintf(sz, sizeof sz, "%d time(s) Get dark(%d ms)", m_nDarkRepeat + 1, nSleep);
    WriteLog(sz);
    m_frame.Sequencer().SetAcqMode(ACQ_DARK_AFTER_IMAGE);
    m_nDarkTotal = m_nDarkRepeat + 1;
    m_frame.ShowProgress("Dark 1 of " + std::to_string(m_nDarkTotal));

    const uint16_t nDelay = Acquisition_GetInnerDelayTime(m_frame.Connection().Detector());
    Acquisition_SetDRConfigSetDelayTime(m_frame.Connection().Detector(), nDelay);
    Acquisition_DRConfigUpdateAll(m_frame.Connection().Detector());
    RequestDarkAfterImage(nDelay);
    // While the dark is read out: the calibration set is loaded if the folder
    // changed (the dark's arrival then only compares the folder with it) and
    // the image buffers are made, so that the operator's wait from the dark
    // to the saved image holds no file reads and no fresh memory.
    if (Settings().m_nCalibration != 0)
        m_calibrationStore.Get(Settings().m_strCalPath, Settings().m_nImageWidth, Settings().m_nImageHeight);
    const CImageGeometry g{Settings().m_nImageWidth, Settings().m_nImageHeight, Settings().m_nCutTop,
                           Settings().m_nCutBottom,  Settings().m_nCutLeft,     Settings().m_nCutRight};
    if (g.IsValid()) m_exposureWorkspace.CutImage(g.CutPixels());
}

// Asks for a dark after the held image and watches for it: a request that
// fails or a dark that does not come in time still saves the image.
void CImageReception::RequestDarkAfterImage(uint16_t nDelayMs) {
    const uint32_t hDetector = m_frame.Connection().Detector();
    const int32_t nResult = Acquisition_StartClearTimeAcquisition(hDetector, nDelayMs);
    if (nResult < 0) {
        char sz[96];
        std::snprintf(sz, sizeof sz, "Dark request failed (result %d)", nResult);
        WriteLog(sz);
        if (nResult == ORVIACQ_ERR_LINK) m_frame.ReportLinkLost(hDetector);  // saves the held image
        if (HoldsExposure()) SaveImageWithoutDark(sz);
        return;
    }
    m_frame.StartTimer(TIMER_DARK_WAIT, int32_t{nDelayMs} + kDarkWaitMarginMs);
}

void CImageReception::OnTimerDarkWait() {
    m_frame.StopTimer(TIMER_DARK_WAIT);
    if (!HoldsExposure()) return;
    SaveImageWithoutDark("No dark frame within " + std::to_string(kDarkWaitMarginMs / 1000) + " s of its readout");
}

void CImageReception::SaveImageWithoutDark(const std::string& strReason) {
    WriteLog(strReason + ": the image is saved without a dark");
    m_frame.Ui().ShowWarning(std::string(kImageSavedWithoutDark) + "\n" + strReason);
    m_nDarkRepeat = -1;
    // The held image is the working frame now; nothing else needs it.
    FinishExposureImage(m_pImageBackup.data(), m_frame.Connection().Detector(), &m_frame.App().m_imageStore,
                        cfg::Read(Settings().m_strIniPath, cfg::IMAGE_NAME), DarkSource::None);
}

// A bright calibration frame: held, and its dark requested at once.
void CImageReception::BrightArrived(uint16_t* pFrame, uint32_t hDetector, CImageStore* pStore) {
    WriteLog("Succeed to get bright data");
    std::memcpy(m_pImageBackup.data(), pFrame, Settings().FramePixels() * sizeof(uint16_t));
    m_frame.Sequencer().SetAcqMode(ACQ_DARK);
    m_frame.ShowProgress("Dark 1 of 1");
    const uint32_t hCurrent = m_frame.Connection().Detector();
    if (!m_frame.CheckLink(Acquisition_StartClearTimeAcquisition(hCurrent, Acquisition_GetInnerDelayTime(hCurrent)),
                           hCurrent)) {
        m_calibration.EnableGetButtons(true);
        m_calibration.Changed();
    }
    pStore->StoreFrame(hDetector, pFrame);
}

// The dark of a calibration set (GET BRIGHT's second frame, or GET DARK).
void CImageReception::CalibrationDarkArrived(uint16_t* pFrame, uint32_t hDetector, CImageStore* pStore) {
    WriteLog("Succeed to get dark data");
    const size_t nPixels = Settings().FramePixels();
    std::memcpy(m_pDarkFrame.data(), pFrame, nPixels * sizeof(uint16_t));
    const std::string strDarkName = LevelFileName(kPrefixDark, FrameMean(pFrame, nPixels));
    const std::string strDarkPath = Settings().m_strCalPath + strDarkName;
    CMainFrame::CFolderLocks locks = m_frame.LockFolders();

    // One dark file at a time: the listed ones go, with their files.
    ICalibrationFrames& dlg = m_calibration;
    for (int32_t i = 0; i < static_cast<int32_t>(dlg.Files().size());) {
        const std::string& strEntry = dlg.Files()[static_cast<size_t>(i)];
        if (strEntry.find("DARK") != std::string::npos) {
            DeleteFileIn(Settings().m_strCalPath, strEntry);
            dlg.DeleteString(i);
        } else {
            ++i;
        }
    }

    int nError = 0;
    if (!WriteRawFile(strDarkPath, pFrame, nPixels, &nError)) {
        WriteLog(FileFailLogLine("Dark file creation fail", strDarkPath, nError));
        dlg.Changed();
        m_frame.Ui().ShowWarning(kDarkFileCreationFail);
        m_frame.Ui().ShowWarning(strDarkPath);
        m_frame.Ui().SequenceAborted();
        return;
    }
    m_frame.Ui().FileSaved(strDarkPath);
    dlg.AddString(strDarkName);

    if (m_frame.Sequencer().DarkOnly()) {
        m_frame.Sequencer().SetDarkOnly(false);
        pStore->StoreFrame(hDetector, pFrame);
        dlg.EnableGetButtons(true);
        m_frame.Sequencer().ShowSaved(strDarkName);
        dlg.Changed();
        m_frame.Ui().SetStatusText(4, "Done");
        return;
    }

    // The pair: bright minus dark, named by its mean level.
    const int64_t nMean = BrightMinusDark(m_pImageBackup.data(), pFrame, nPixels);
    const std::string strBrightName = LevelFileName(kPrefixBright, nMean);
    const std::string strBrightPath = Settings().m_strCalPath + strBrightName;
    if (!WriteRawFile(strBrightPath, pFrame, nPixels, &nError)) {
        WriteLog(FileFailLogLine("Bright file creation fail", strBrightPath, nError));
        dlg.Changed();
        m_frame.Ui().ShowWarning(kBrightFileCreationFail);
        m_frame.Ui().SequenceAborted();
        return;
    }
    m_frame.Ui().FileSaved(strBrightPath);
    // A bright file of a level already listed replaces the old one.
    if (dlg.FindString(strBrightName) < 0) dlg.AddString(strBrightName);
    dlg.ResetGetBrightCaption();
    dlg.EnableGetButtons(true);
    m_frame.Sequencer().ShowSaved(strBrightName + " and " + strDarkName);
    dlg.Changed();

    const uint16_t nDelay = Acquisition_GetInnerDelayTime(m_frame.Connection().Detector());
    Acquisition_SetDRConfigSetDelayTime(m_frame.Connection().Detector(), nDelay);
    Acquisition_DRConfigUpdateAll(m_frame.Connection().Detector());
    m_frame.Ui().SetStatusText(4, "Done");
    pStore->StoreFrame(hDetector, pFrame);
}

// A dark after an exposure image: a settling dark, the dark that is used, or
// one that arrives after the sequence has ended.
void CImageReception::DarkAfterImageArrived(uint16_t* pFrame, uint32_t hDetector, CImageStore* pStore,
                                            const std::string& strImageName) {
    WriteLog("Succeed to get Dark (After image)");
    if (m_nDarkRepeat > 0) {
        --m_nDarkRepeat;
        const int32_t nSleep = cfg::Read(Settings().m_strIniPath, cfg::DARK_SLEEP_TERM_NEXT);
        m_frame.Timers().sleep_ms(PauseMs(nSleep));
        char sz[96];
        std::snprintf(sz, sizeof sz, "%dms Atfer,(%d time) get dark", nSleep, m_nDarkRepeat + 1);
        WriteLog(sz);
        m_frame.ShowProgress("Dark " + std::to_string(m_nDarkTotal - m_nDarkRepeat) + " of " +
                             std::to_string(m_nDarkTotal));
        RequestDarkAfterImage(Acquisition_GetDRConfigSetDelayTime(m_frame.Connection().Detector()));
        return;
    }
    if (m_nDarkRepeat < 0) {
        pStore->StoreFrame(hDetector, pFrame);
        return;
    }
    m_frame.StopTimer(TIMER_DARK_WAIT);
    m_tLastDarkArrived = std::chrono::steady_clock::now();

    const size_t nPixels = Settings().FramePixels();
    std::memcpy(m_pDarkFrame.data(), pFrame, nPixels * sizeof(uint16_t));
    m_nDarkRepeat = -1;
    CMainFrame::CFolderLocks locks = m_frame.LockFolders();
    const std::string strDarkName = LevelFileName(kPrefixDark, FrameMean(pFrame, nPixels));
    const std::string strDarkPath = Settings().m_strCalPath + strDarkName;
    // The new dark is written before the old ones go, so that the folder never
    // lacks a dark file; a failure keeps the old ones and the dark in memory.
    // The image is corrected with the dark from memory either way, so the
    // dark file is written on the file thread once the image file is on
    // disk: the two would otherwise share the disk while the operator waits
    // for the image. Its outcome is reported when it is written, after the
    // image's.
    int nError = 0;
    bool bDarkWritten = false;
    std::future<void> darkWrite;
    auto fnWriteDark = [&] {
        if (darkWrite.valid()) return;
        darkWrite = PostToFileThread([this, strDarkPath, nPixels, &nError, &bDarkWritten] {
            bDarkWritten = WriteRawFile(strDarkPath, m_pDarkFrame.data(), nPixels, &nError);
        });
    };

    // The held exposure image replaces the dark and is corrected and saved.
    std::memcpy(pFrame, m_pImageBackup.data(), nPixels * sizeof(uint16_t));
    FinishExposureImage(pFrame, hDetector, pStore, strImageName, DarkSource::Memory, strDarkName, fnWriteDark);
    fnWriteDark();  // when the image was not processed
    darkWrite.get();
    if (bDarkWritten) {
        DeleteDarkFiles(Settings().m_strCalPath, strDarkName);
        m_frame.Ui().FileSaved(strDarkPath);
    } else {
        WriteLog(FileFailLogLine("Dark file creation fail", strDarkPath, nError));
        m_frame.Ui().ShowWarning(kDarkFileCreationFail);
        m_frame.Ui().ShowWarning(strDarkPath + ": " + FileErrorText(nError) + "\n" + kImageCorrectedWithDarkInMemory);
    }
}

// The held exposure image (restored into pFrame) is corrected with the dark
// at hand, cut, saved and handed over. It always reaches the sinks, also when
// its file cannot be written.
void CImageReception::FinishExposureImage(uint16_t* pFrame, uint32_t hDetector, CImageStore* pStore,
                                          const std::string& strImageName, DarkSource dark,
                                          const std::string& strDarkName,
                                          const std::function<void()>& fnAfterImageWritten) {
    m_frame.StopTimer(TIMER_DARK_WAIT);
    CMainFrame::CFolderLocks locks = m_frame.LockFolders();
    CImageSettings settings;
    settings.geometry = CImageGeometry{Settings().m_nImageWidth, Settings().m_nImageHeight, Settings().m_nCutTop,
                                       Settings().m_nCutBottom,  Settings().m_nCutLeft,     Settings().m_nCutRight};
    settings.nCalibration = Settings().m_nCalibration;
    settings.nOffsetControl = Settings().m_nOffsetControl;
    settings.nMedianFilter = Settings().m_nMedianFilter;
    settings.strCalFolder = Settings().m_strCalPath;
    settings.pCalibrationStore = &m_calibrationStore;
    settings.pWorkspace = &m_exposureWorkspace;
    // The dark just received is used from memory whether or not its file was
    // written: the file holds the same pixels, and reading it back would only
    // cost time.
    if (dark != DarkSource::None) {
        settings.pDarkInMemory = m_pDarkFrame.data();
        settings.strDarkInMemory = strDarkName;
    }
    settings.bNoDark = dark == DarkSource::None;
    // IMAGE_NAME as read when this frame arrived: a host may change it between
    // images. A name with a folder part would write outside the image folder.
    const std::string strImagePath = Settings().m_strImagePath + strImageName;
    const bool bNameOk = strImageName.find('/') == std::string::npos;
    if (!bNameOk) {
        WriteLog("IMAGE_NAME refused: " + strImageName);
        m_frame.Ui().ShowWarning(std::string(kImageNameHasFolder) + "\n" + strImageName);
    }
    CGainResult gainUsed;
    std::shared_ptr<const CCalibrationSet> pSetUsed;
    m_frame.ShowProgress(kProgressCorrecting);
    m_frame.Ui().SetBusy(true);
    CReport report;
    const bool bSaved = bNameOk && ProcessExposureImage(pFrame, settings, strImagePath, report, &gainUsed, &pSetUsed);
    // The image file is on disk (flushed, renamed, folder flushed) here.
    const auto tSaved = std::chrono::steady_clock::now();
    if (fnAfterImageWritten) fnAfterImageWritten();
    m_frame.Ui().ShowReport(report);
    m_frame.Ui().SetBusy(false);
    if (bSaved) {
        if (dark != DarkSource::None)
            m_frame.Ui().ExposurePathTimed(
                std::chrono::duration<double, std::milli>(tSaved - m_tLastDarkArrived).count());
        m_frame.Ui().FileSaved(strImagePath);
        m_frame.Sequencer().ShowSaved(strImageName);
        WriteLog("Processing finished.");
    } else {
        m_frame.ShowProgress(kProgressNotSaved);
        m_frame.Ui().SequenceAborted();  // the image exists only in memory now: no further exposures
    }

    m_frame.StopTimer(TIMER_BLINK);
    SetOutputs(m_frame.Connection().Detector() != 0 ? kOut1OnlyConnection : kOutAllOff, kOutAllOff);
    m_frame.WriteOutputs();
    m_frame.Sequencer().ImageFinished();

    if (m_frame.Connection().Detector() != 0) {
        const uint16_t nDelay = Acquisition_GetInnerDelayTime(m_frame.Connection().Detector());
        Acquisition_SetDRConfigSetDelayTime(m_frame.Connection().Detector(), nDelay);
        Acquisition_DRConfigUpdateAll(m_frame.Connection().Detector());
    }
    if (bSaved) m_frame.Ui().SetStatusText(4, "Done");
    // The image as saved: cut, at its own size.
    const CImageGeometry& g = settings.geometry;
    if (!bNameOk) CutImage(pFrame, g);  // not processed: cut like a saved one
    pStore->StoreCutFrame(hDetector, pFrame, g.CutWidth(), g.CutHeight(), g.nCutLeft, g.nCutTop);

    auto pImage = std::make_shared<CAcquiredImage>();
    pImage->geometry = g;
    pImage->pixels.assign(pFrame, pFrame + g.CutPixels());
    if (dark != DarkSource::None) {
        pImage->dark.resize(g.CutPixels());
        for (int32_t y = 0; y < g.CutHeight(); ++y) {
            const uint16_t* pRow = m_pDarkFrame.data() + size_t(y + g.nCutTop) * size_t(g.nWidth) + size_t(g.nCutLeft);
            std::copy(pRow, pRow + g.CutWidth(), pImage->dark.begin() + ptrdiff_t(y) * g.CutWidth());
        }
    }
    pImage->hDetector = hDetector;
    pImage->cDetector = m_frame.Connection().Label(hDetector);
    pImage->strDetectorId = DetectorSerialText(hDetector);
    pImage->strDetectorFirmware = DetectorVersionText(hDetector);
    pImage->nTriggerMode = m_frame.Sequencer().TriggerMode();
    pImage->tAcquired = m_tExposure;
    pImage->strSavedPath = strImagePath;
    pImage->bSaved = bSaved;
    pImage->nCalibration = Settings().m_nCalibration;
    pImage->nOffsetControl = Settings().m_nOffsetControl;
    pImage->nMedianFilter = Settings().m_nMedianFilter;
    pImage->gain = std::move(gainUsed);
    pImage->nDoseIndicator = m_nDoseIndicatorHeld;
    pImage->autoWindow = ComputeAutoWindow(pImage->pixels.data(), pImage->Width(), pImage->Height());
    // The exposure index, once for every sink. Over a gain correction its
    // value of interest comes from the uncorrected frame (still held in the
    // backup), the dark and the reference the correction used, so that a
    // dose above the calibration's level is not read as that level.
    std::string strEiProblems;
    const dose::CExposureIndexSettings eiSettings =
        dose::ReadExposureIndexSettings(Settings().m_strIniPath, strEiProblems);
    if (!strEiProblems.empty()) WriteLog("Exposure index settings: " + strEiProblems + " - defaults used");
    dose::CGainInputs gainInputs;
    const bool bRawHeld = pFrame != m_pImageBackup.data() && dark == DarkSource::Memory;
    if (pImage->gain.bApplied && bRawHeld && pSetUsed && pSetUsed->strReference == pImage->gain.strReferenceFile &&
        pSetUsed->reference.size() == g.Pixels() && m_pDarkFrame.size() >= g.Pixels() &&
        m_pImageBackup.size() >= g.Pixels()) {
        gainInputs.pRaw = m_pImageBackup.data();
        gainInputs.pDark = m_pDarkFrame.data();
        gainInputs.pReference = pSetUsed->reference.data();
        gainInputs.nLevel = pImage->gain.nLevel;
        gainInputs.nStride = g.nWidth;
        gainInputs.nLeft = g.nCutLeft;
        gainInputs.nTop = g.nCutTop;
    }
    pImage->exposureIndex = dose::ExposureIndexOf(*pImage, eiSettings, &gainInputs);
    WriteLog("Exposure index: " + dose::ExposureIndexText(pImage->exposureIndex));
    HandOver(std::move(pImage));
}

void CImageReception::AddImageSink(IImageSink* pSink) {
    if (pSink != nullptr && std::find(m_sinks.begin(), m_sinks.end(), pSink) == m_sinks.end()) m_sinks.push_back(pSink);
}

void CImageReception::RemoveImageSink(IImageSink* pSink) {
    m_sinks.erase(std::remove(m_sinks.begin(), m_sinks.end(), pSink), m_sinks.end());
}

void CImageReception::HandOver(std::shared_ptr<CAcquiredImage> pImage) {
    pImage->nSequence = ++m_nImagesAcquired;
    m_pLastImage = std::move(pImage);
    // A sink may add or remove sinks while it runs: hand over from a copy.
    const std::vector<IImageSink*> sinks = m_sinks;
    for (IImageSink* pSink : sinks)
        if (std::find(m_sinks.begin(), m_sinks.end(), pSink) != m_sinks.end()) pSink->OnImageAcquired(m_pLastImage);
}

}  // namespace orvi
