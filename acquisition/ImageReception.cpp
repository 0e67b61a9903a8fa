// CMainFrame::ImageCallback: every frame of the detector, handled by what the
// acquisition mode says it is. An exposure image is held while one or more
// darks are taken; the last dark becomes the dark file and the held image is
// corrected, cut and saved. A bright calibration frame is held while one dark
// is taken; the pair becomes a bright file (bright minus dark) and a dark
// file. A dark requested alone becomes the dark file.
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

void CMainFrame::ImageCallback(uint32_t hDetector, uint16_t* pPixels, void* pUser) {
    CMainFrame* pFrame = Current();
    if (pFrame != nullptr && pPixels != nullptr)
        pFrame->OnImage(hDetector, pPixels, static_cast<CImageStore*>(pUser));
}

void CMainFrame::OnImage(uint32_t hDetector, uint16_t* pFrame, CImageStore* pStore) {
    if (m_pImageBackup.empty()) return;  // not created: no buffers to work with
    if (pStore == nullptr) pStore = &m_app.m_imageStore;

    WriteLog("WINAPI ImageCallback");
    m_bImageBusy = true;
    SetOutputs(g_byOut1, kOutAllOff);
    for (uint32_t nId : {TIMER_COUNTDOWN, TIMER_PRE_EXPOSURE, TIMER_REPEAT, TIMER_MANUAL_READ, TIMER_MANUAL_EXP,
                         TIMER_READY_TIMEOUT, TIMER_EXP_DELAY})
        StopTimer(nId);
    StopProgress();
    m_bWaitingForXray = false;
    ReleaseSwitchOutputs();
    WriteOutputs();
    const std::string strImageName = cfg::Read(m_strIniPath, cfg::IMAGE_NAME);
    MirrorRows(pFrame, m_nImageWidth, m_nImageHeight);

    switch (m_nAcqMode) {
    case ACQ_IMAGE: ImageArrived(pFrame); return;
    case ACQ_BRIGHT: BrightArrived(pFrame, hDetector, pStore); return;
    case ACQ_DARK: CalibrationDarkArrived(pFrame, hDetector, pStore); return;
    case ACQ_DARK_AFTER_IMAGE: DarkAfterImageArrived(pFrame, hDetector, pStore, strImageName); return;
    default: pStore->StoreFrame(hDetector, pFrame); return;
    }
}

// The exposure image: checked, held, and one or more darks requested.
void CMainFrame::ImageArrived(uint16_t* pFrame) {
    WriteLog("Receive Image data");
    m_tExposure = std::chrono::system_clock::now();
    StartTimer(TIMER_BLINK, kBlinkMs);
    DeleteMessageFile(kFileConnectionSuccess);
    DeleteMessageFile(kFileDetectorReady);
    DeleteMessageFile(kFileDetectorReady);
    if (m_nStdDevOption != 0) CheckExposure(pFrame, m_nImageWidth, m_nImageHeight, m_nStdDevRange);
    // The host program's note that an image is coming. When it cannot be
    // made the exposure goes on all the same: it is the patient's dose.
    if (!CreateEmptyFile(m_strImagePath, kFileImageComing)) {
        const int nError = errno;
        WriteLog(FileFailLogLine("Message file creation fail", m_strImagePath + kFileImageComing, nError));
        m_ui.ShowWarning(std::string(kMessageFileCreationFail) + "\n" + m_strImagePath + kFileImageComing + ": " +
                         FileErrorText(nError));
    }
    std::memcpy(m_pImageBackup.data(), pFrame, FramePixels() * sizeof(uint16_t));
    ShowProgress(kProgressReading);
    m_nDoseIndicatorHeld = -1;
    if (m_nDoseIndicator != 0) {
        CReport report;
        m_nDoseIndicatorHeld =
            ComputeDoseIndicator(pFrame, m_nImageWidth, m_nImageHeight, m_strIniPath, m_strImagePath, report);
        m_ui.ShowReport(report);
    }
    WriteLog("Backup data & order to get dark.");

    const int32_t nSleep = cfg::Read(m_strIniPath, cfg::DARK_SLEEP_TERM_FIRST);
    m_timers.sleep_ms(PauseMs(nSleep));
    // At least one dark is taken: the held image is corrected with the last.
    const int32_t nDarks = cfg::Read(m_strIniPath, cfg::REPEAT_GER_DARK);
    m_nDarkRepeat = nDarks < 1 ? 0 : nDarks - 1;
    if (m_nDarkRepeat > 5) m_nDarkRepeat = 1;
    char sz[96];
    std::snprintf(sz, sizeof sz, "%d time(s) Get dark(%d ms)", m_nDarkRepeat + 1, nSleep);
    WriteLog(sz);
    m_nAcqMode = ACQ_DARK_AFTER_IMAGE;
    m_nDarkTotal = m_nDarkRepeat + 1;
    ShowProgress("Dark 1 of " + std::to_string(m_nDarkTotal));

    const uint16_t nDelay = Acquisition_GetInnerDelayTime(m_hDetector);
    Acquisition_SetDRConfigSetDelayTime(m_hDetector, nDelay);
    Acquisition_DRConfigUpdateAll(m_hDetector);
    RequestDarkAfterImage(nDelay);
    // While the dark is read out: the calibration set is loaded if the folder
    // changed (the dark's arrival then only compares the folder with it) and
    // the image buffers are made, so that the operator's wait from the dark
    // to the saved image holds no file reads and no fresh memory.
    if (m_nCalibration != 0) m_calibrationStore.Get(m_strCalPath, m_nImageWidth, m_nImageHeight);
    const CImageGeometry g{m_nImageWidth, m_nImageHeight, m_nCutTop, m_nCutBottom, m_nCutLeft, m_nCutRight};
    if (g.IsValid()) m_exposureWorkspace.CutImage(g.CutPixels());
}

// Asks for a dark after the held image and watches for it: a request that
// fails or a dark that does not come in time still saves the image.
void CMainFrame::RequestDarkAfterImage(uint16_t nDelayMs) {
    const uint32_t hDetector = m_hDetector;
    const int32_t nResult = Acquisition_StartClearTimeAcquisition(hDetector, nDelayMs);
    if (nResult < 0) {
        char sz[96];
        std::snprintf(sz, sizeof sz, "Dark request failed (result %d)", nResult);
        WriteLog(sz);
        if (nResult == ORVIACQ_ERR_LINK) ReportLinkLost(hDetector);  // saves the held image
        if (m_nAcqMode == ACQ_DARK_AFTER_IMAGE && m_nDarkRepeat >= 0) SaveImageWithoutDark(sz);
        return;
    }
    StartTimer(TIMER_DARK_WAIT, int32_t{nDelayMs} + kDarkWaitMarginMs);
}

void CMainFrame::OnTimerDarkWait() {
    StopTimer(TIMER_DARK_WAIT);
    if (m_nAcqMode != ACQ_DARK_AFTER_IMAGE || m_nDarkRepeat < 0) return;
    SaveImageWithoutDark("No dark frame within " + std::to_string(kDarkWaitMarginMs / 1000) +
                         " s of its readout");
}

void CMainFrame::SaveImageWithoutDark(const std::string& strReason) {
    WriteLog(strReason + ": the image is saved without a dark");
    m_ui.ShowWarning(std::string(kImageSavedWithoutDark) + "\n" + strReason);
    m_nDarkRepeat = -1;
    // The held image is the working frame now; nothing else needs it.
    FinishExposureImage(m_pImageBackup.data(), m_hDetector, &m_app.m_imageStore,
                        cfg::Read(m_strIniPath, cfg::IMAGE_NAME), DarkSource::None);
}

// A bright calibration frame: held, and its dark requested at once.
void CMainFrame::BrightArrived(uint16_t* pFrame, uint32_t hDetector, CImageStore* pStore) {
    WriteLog("Succeed to get bright data");
    std::memcpy(m_pImageBackup.data(), pFrame, FramePixels() * sizeof(uint16_t));
    m_nAcqMode = ACQ_DARK;
    ShowProgress("Dark 1 of 1");
    const uint32_t hCurrent = m_hDetector;
    if (!CheckLink(Acquisition_StartClearTimeAcquisition(hCurrent, Acquisition_GetInnerDelayTime(hCurrent)),
                   hCurrent)) {
        m_dlgCalibration.EnableGetButtons(true);
        m_dlgCalibration.Changed();
    }
    pStore->StoreFrame(hDetector, pFrame);
}

// The dark of a calibration set (GET BRIGHT's second frame, or GET DARK).
void CMainFrame::CalibrationDarkArrived(uint16_t* pFrame, uint32_t hDetector, CImageStore* pStore) {
    WriteLog("Succeed to get dark data");
    const size_t nPixels = FramePixels();
    std::memcpy(m_pDarkFrame.data(), pFrame, nPixels * sizeof(uint16_t));
    const std::string strDarkName = LevelFileName(kPrefixDark, FrameMean(pFrame, nPixels));
    const std::string strDarkPath = m_strCalPath + strDarkName;
    CFolderLocks locks = LockFolders();

    // One dark file at a time: the listed ones go, with their files.
    CCalibration& dlg = m_dlgCalibration;
    for (int32_t i = 0; i < static_cast<int32_t>(dlg.Files().size());) {
        const std::string& strEntry = dlg.Files()[static_cast<size_t>(i)];
        if (strEntry.find("DARK") != std::string::npos) {
            DeleteFileIn(m_strCalPath, strEntry);
            dlg.DeleteString(i);
        } else {
            ++i;
        }
    }

    int nError = 0;
    if (!WriteRawFile(strDarkPath, pFrame, nPixels, &nError)) {
        WriteLog(FileFailLogLine("Dark file creation fail", strDarkPath, nError));
        dlg.Changed();
        m_ui.ShowWarning(kDarkFileCreationFail);
        m_ui.ShowWarning(strDarkPath);
        m_ui.SequenceAborted();
        return;
    }
    m_ui.FileSaved(strDarkPath);
    dlg.AddString(strDarkName);

    if (m_bDarkOnly) {
        m_bDarkOnly = false;
        pStore->StoreFrame(hDetector, pFrame);
        dlg.EnableGetButtons(true);
        ShowSaved(strDarkName);
        dlg.Changed();
        m_ui.SetStatusText(4, "Done");
        return;
    }

    // The pair: bright minus dark, named by its mean level.
    const int64_t nMean = BrightMinusDark(m_pImageBackup.data(), pFrame, nPixels);
    const std::string strBrightName = LevelFileName(kPrefixBright, nMean);
    const std::string strBrightPath = m_strCalPath + strBrightName;
    if (!WriteRawFile(strBrightPath, pFrame, nPixels, &nError)) {
        WriteLog(FileFailLogLine("Bright file creation fail", strBrightPath, nError));
        dlg.Changed();
        m_ui.ShowWarning(kBrightFileCreationFail);
        m_ui.SequenceAborted();
        return;
    }
    m_ui.FileSaved(strBrightPath);
    // A bright file of a level already listed replaces the old one.
    if (dlg.FindString(strBrightName) < 0) dlg.AddString(strBrightName);
    dlg.m_strGetBrightCaption = kGetBrightCaption;
    dlg.EnableGetButtons(true);
    ShowSaved(strBrightName + " and " + strDarkName);
    dlg.Changed();

    const uint16_t nDelay = Acquisition_GetInnerDelayTime(m_hDetector);
    Acquisition_SetDRConfigSetDelayTime(m_hDetector, nDelay);
    Acquisition_DRConfigUpdateAll(m_hDetector);
    m_ui.SetStatusText(4, "Done");
    pStore->StoreFrame(hDetector, pFrame);
}

// A dark after an exposure image: a settling dark, the dark that is used, or
// one that arrives after the sequence has ended.
void CMainFrame::DarkAfterImageArrived(uint16_t* pFrame, uint32_t hDetector, CImageStore* pStore,
                                       const std::string& strImageName) {
    WriteLog("Succeed to get Dark (After image)");
    if (m_nDarkRepeat > 0) {
        --m_nDarkRepeat;
        const int32_t nSleep = cfg::Read(m_strIniPath, cfg::DARK_SLEEP_TERM_NEXT);
        m_timers.sleep_ms(PauseMs(nSleep));
        char sz[96];
        std::snprintf(sz, sizeof sz, "%dms Atfer,(%d time) get dark", nSleep, m_nDarkRepeat + 1);
        WriteLog(sz);
        ShowProgress("Dark " + std::to_string(m_nDarkTotal - m_nDarkRepeat) + " of " + std::to_string(m_nDarkTotal));
        RequestDarkAfterImage(Acquisition_GetDRConfigSetDelayTime(m_hDetector));
        return;
    }
    if (m_nDarkRepeat < 0) {
        pStore->StoreFrame(hDetector, pFrame);
        return;
    }
    StopTimer(TIMER_DARK_WAIT);
    m_tLastDarkArrived = std::chrono::steady_clock::now();

    const size_t nPixels = FramePixels();
    std::memcpy(m_pDarkFrame.data(), pFrame, nPixels * sizeof(uint16_t));
    m_nDarkRepeat = -1;
    CFolderLocks locks = LockFolders();
    const std::string strDarkName = LevelFileName(kPrefixDark, FrameMean(pFrame, nPixels));
    const std::string strDarkPath = m_strCalPath + strDarkName;
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
        DeleteDarkFiles(m_strCalPath, strDarkName);
        m_ui.FileSaved(strDarkPath);
    } else {
        WriteLog(FileFailLogLine("Dark file creation fail", strDarkPath, nError));
        m_ui.ShowWarning(kDarkFileCreationFail);
        m_ui.ShowWarning(strDarkPath + ": " + FileErrorText(nError) + "\n" + kImageCorrectedWithDarkInMemory);
    }
}

// The held exposure image (restored into pFrame) is corrected with the dark
// at hand, cut, saved and handed over. It always reaches the sinks, also when
// its file cannot be written.
void CMainFrame::FinishExposureImage(uint16_t* pFrame, uint32_t hDetector, CImageStore* pStore,
                                     const std::string& strImageName, DarkSource dark,
                                     const std::string& strDarkName,
                                     const std::function<void()>& fnAfterImageWritten) {
    StopTimer(TIMER_DARK_WAIT);
    CFolderLocks locks = LockFolders();
    CImageSettings settings;
    settings.geometry = CImageGeometry{m_nImageWidth, m_nImageHeight, m_nCutTop, m_nCutBottom, m_nCutLeft,
                                       m_nCutRight};
    settings.nCalibration = m_nCalibration;
    settings.nOffsetControl = m_nOffsetControl;
    settings.nMedianFilter = m_nMedianFilter;
    settings.strCalFolder = m_strCalPath;
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
    const std::string strImagePath = m_strImagePath + strImageName;
    const bool bNameOk = strImageName.find('/') == std::string::npos;
    if (!bNameOk) {
        WriteLog("IMAGE_NAME refused: " + strImageName);
        m_ui.ShowWarning(std::string(kImageNameHasFolder) + "\n" + strImageName);
    }
    CGainResult gainUsed;
    std::shared_ptr<const CCalibrationSet> pSetUsed;
    ShowProgress(kProgressCorrecting);
    m_ui.SetBusy(true);
    CReport report;
    const bool bSaved = bNameOk && ProcessExposureImage(pFrame, settings, strImagePath, report, &gainUsed, &pSetUsed);
    // The image file is on disk (flushed, renamed, folder flushed) here.
    const auto tSaved = std::chrono::steady_clock::now();
    if (fnAfterImageWritten) fnAfterImageWritten();
    m_ui.ShowReport(report);
    m_ui.SetBusy(false);
    if (bSaved) {
        if (dark != DarkSource::None)
            m_ui.ExposurePathTimed(std::chrono::duration<double, std::milli>(tSaved - m_tLastDarkArrived).count());
        m_ui.FileSaved(strImagePath);
        ShowSaved(strImageName);
        WriteLog("Processing finished.");
    } else {
        ShowProgress(kProgressNotSaved);
        m_ui.SequenceAborted();  // the image exists only in memory now: no further exposures
    }

    StopTimer(TIMER_BLINK);
    SetOutputs(m_hDetector != 0 ? kOut1OnlyConnection : kOutAllOff, kOutAllOff);
    WriteOutputs();
    m_bImageBusy = false;

    if (m_hDetector != 0) {
        const uint16_t nDelay = Acquisition_GetInnerDelayTime(m_hDetector);
        Acquisition_SetDRConfigSetDelayTime(m_hDetector, nDelay);
        Acquisition_DRConfigUpdateAll(m_hDetector);
    }
    if (bSaved) m_ui.SetStatusText(4, "Done");
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
            const uint16_t* pRow =
                m_pDarkFrame.data() + size_t(y + g.nCutTop) * size_t(g.nWidth) + size_t(g.nCutLeft);
            std::copy(pRow, pRow + g.CutWidth(), pImage->dark.begin() + ptrdiff_t(y) * g.CutWidth());
        }
    }
    pImage->hDetector = hDetector;
    pImage->cDetector = (hDetector != 0 && hDetector == m_hDetectorB) ? 'B' : 'A';
    pImage->strDetectorId = DetectorSerialText(hDetector);
    pImage->strDetectorFirmware = DetectorVersionText(hDetector);
    pImage->nTriggerMode = m_nTriggerMode;
    pImage->tAcquired = m_tExposure;
    pImage->strSavedPath = strImagePath;
    pImage->bSaved = bSaved;
    pImage->nCalibration = m_nCalibration;
    pImage->nOffsetControl = m_nOffsetControl;
    pImage->nMedianFilter = m_nMedianFilter;
    pImage->gain = std::move(gainUsed);
    pImage->nDoseIndicator = m_nDoseIndicatorHeld;
    pImage->autoWindow = ComputeAutoWindow(pImage->pixels.data(), pImage->Width(), pImage->Height());
    // The exposure index, once for every sink. Over a gain correction its
    // value of interest comes from the uncorrected frame (still held in the
    // backup), the dark and the reference the correction used, so that a
    // dose above the calibration's level is not read as that level.
    std::string strEiProblems;
    const dose::CExposureIndexSettings eiSettings = dose::ReadExposureIndexSettings(m_strIniPath, strEiProblems);
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

void CMainFrame::AddImageSink(IImageSink* pSink) {
    if (pSink != nullptr && std::find(m_sinks.begin(), m_sinks.end(), pSink) == m_sinks.end())
        m_sinks.push_back(pSink);
}

void CMainFrame::RemoveImageSink(IImageSink* pSink) {
    m_sinks.erase(std::remove(m_sinks.begin(), m_sinks.end(), pSink), m_sinks.end());
}

void CMainFrame::HandOver(std::shared_ptr<CAcquiredImage> pImage) {
    pImage->nSequence = ++m_nImagesAcquired;
    m_pLastImage = std::move(pImage);
    // A sink may add or remove sinks while it runs: hand over from a copy.
    const std::vector<IImageSink*> sinks = m_sinks;
    for (IImageSink* pSink : sinks)
        if (std::find(m_sinks.begin(), m_sinks.end(), pSink) != m_sinks.end()) pSink->OnImageAcquired(m_pLastImage);
}

}  // namespace orvi
