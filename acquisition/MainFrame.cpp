// CMainFrame: creation, connection, the commands, the panel's selectors,
// Open File and destruction; the timers and the detector's reports are handed
// to the part that owns them.
#include "acquisition/MainFrame.h"

#include "acquisition/BoardSimControls.h"
#include "app/ConfigKeys.h"
#include "app/EventLog.h"
#include "app/Profile.h"
#include "imaging/ImagePipeline.h"
#include "imaging/MessageFiles.h"
#include "imaging/RawFile.h"
#include "orviacquire/ORVIAcquireLib.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace orvi {

std::string NormaliseFolder(const std::string& strFolder) {
    if (!strFolder.empty() && strFolder.back() != '/') return strFolder + '/';
    return strFolder;
}

namespace {

CMainFrame* s_pCurrent = nullptr;

// Creates the folder and any missing parents; an existing folder or a failure
// is ignored here (a failure shows later as a file that cannot be created).
void CreateFolder(const std::string& strFolder) {
    if (strFolder.empty()) return;
    std::error_code ec;
    std::filesystem::create_directories(strFolder, ec);
}

std::string InitFailureText(const std::string& strLabel, int32_t nResult) {
    const char* szFormat = nullptr;
    switch (nResult) {
    case ORVIACQ_INIT_SERIAL_PORT: szFormat = "%s: Initialization com failed!"; break;
    case ORVIACQ_INIT_NETWORK: szFormat = "%s: Gigabit Network connection failed!"; break;
    case ORVIACQ_INIT_ADAPTER: szFormat = "%s: Initialization adapter failed!"; break;
    case ORVIACQ_INIT_LINK_SPEED: szFormat = "%s: Gigabit Network connection speed not 1000!"; break;
    default: return "";
    }
    char sz[128];
    std::snprintf(sz, sizeof sz, szFormat, strLabel.c_str());
    return sz;
}

}  // namespace

CMainFrame::CMainFrame(CAppValues& app, IUiPort& ui, ITimerService& timers, CPelkioApi board)
    : m_app(app),
      m_ui(ui),
      m_timers(timers),
      m_board(std::move(board)),
      m_dlgCalibration(*this),
      m_connection(timers, *this),
      m_sequencer(*this, m_dlgCalibration),
      m_reception(*this, m_dlgCalibration) {
    m_timers.set_handler([this](uint32_t nId) { OnTimer(nId); });
    s_pCurrent = this;
}

CMainFrame::~CMainFrame() {
    // The port is not told: the window that implements it is going too.
    m_pConfigDlg.reset();
    m_board.Shutdown();
    for (uint32_t nId :
         {TIMER_COUNTDOWN, TIMER_RUNNING, TIMER_BLINK, TIMER_REPEAT, TIMER_MANUAL_READ, TIMER_MANUAL_EXP})
        m_timers.stop(nId);
    // Nothing of this frame may run once it is gone: the other timers stop too,
    // and a detector still open (the close step did not run) is closed, so the
    // library calls no callback into a frame that no longer exists.
    for (uint32_t nId : {TIMER_DARK, TIMER_PRE_EXPOSURE, TIMER_READY_TIMEOUT, TIMER_MANUAL_READ_2, TIMER_EXP_DELAY,
                         TIMER_PROGRESS, TIMER_DARK_WAIT})
        m_timers.stop(nId);
    m_timers.set_handler(nullptr);
    m_connection.Release();
    if (s_pCurrent == this) s_pCurrent = nullptr;
    SetLogClock(nullptr);
}

CMainFrame* CMainFrame::Current() { return s_pCurrent; }

// ---- Folder locks ------------------------------------------------------------------

CMainFrame::CFolderLocks::CFolderLocks(CMainFrame& frame) : m_frame(frame) {
    if (m_frame.m_nLockDepth++ > 0) return;
    const CStationSettings& s = m_frame.m_settings;
    m_frame.LockFolder(m_frame.m_calLock, s.m_strCalPath);
    if (s.m_strImagePath != s.m_strCalPath) m_frame.LockFolder(m_frame.m_imageLock, s.m_strImagePath);
}

CMainFrame::CFolderLocks::~CFolderLocks() {
    if (--m_frame.m_nLockDepth > 0) return;
    m_frame.m_imageLock.Unlock();
    m_frame.m_calLock.Unlock();
}

void CMainFrame::WithFoldersLocked(const std::function<void()>& fn) {
    CFolderLocks locks = LockFolders();
    fn();
}

// Another station writing there is waited for; after the wait (or when the
// lock cannot be taken at all) the files are written anyway: each one is
// replaced whole, and an exposure is never dropped for a lock.
void CMainFrame::LockFolder(CFolderLock& lock, const std::string& strFolder) {
    int nError = 0;
    switch (lock.Lock(
        strFolder, kFolderLockWaitMs, kFolderLockStepMs, [this](uint32_t nMs) { m_timers.sleep_ms(nMs); }, &nError)) {
    case CFolderLock::Result::Locked: return;
    case CFolderLock::Result::Busy:
        WriteLog(std::string(kFolderInUse) + " " + strFolder);
        m_ui.ShowWarning(std::string(kFolderInUse) + "\n" + strFolder);
        return;
    case CFolderLock::Result::Failed:
        WriteLog(FileFailLogLine("Folder lock not taken", strFolder + kFolderLockName, nError));
        return;
    }
}

// ---- Creation -------------------------------------------------------------------

CMainFrame::CreateResult CMainFrame::OnCreate(const std::string& strProgramDir) {
    DeleteLogFile();

    CStationSettings& st = m_settings;
    st.m_strIniPath = strProgramDir + cfg::kIniFileName;
    std::error_code ec;
    if (!std::filesystem::exists(st.m_strIniPath, ec)) {
        m_ui.ShowWarning("ORVI2.ini don`t exist.");
        return CreateResult::MissingIni;
    }
    // Every key is read from the whole file: a huge file would stall every image.
    const uintmax_t nIniBytes = std::filesystem::file_size(st.m_strIniPath, ec);
    if (!ec && nIniBytes > kMaxProfileBytes) {
        m_ui.ShowWarning(std::string(kIniTooLarge) + "\n" + st.m_strIniPath + ": " + std::to_string(nIniBytes) +
                         " bytes");
        return CreateResult::BadConfig;
    }

    cfg::CFrameConfig c = cfg::ReadFrameConfig(st.m_strIniPath);
    st.m_strImagePath = NormaliseFolder(c.strImagePath);
    CreateFolder(st.m_strImagePath);
    st.m_strCalPath = NormaliseFolder(c.strCalPath);
    CreateFolder(st.m_strCalPath);
    g_bWriteLog = c.nWriteLog;
    st.m_nStdDevOption = c.nStdDevOption;
    st.m_nDoseIndicator = c.nDoseIndicator;
    st.m_nMedianFilter = c.nMedianFilter;
    st.m_nCalibration = c.nCalibration;
    st.m_nImageWidth = c.nImageWidth;
    st.m_nImageHeight = c.nImageHeight;
    st.m_nStdDevRange = c.nStdDevRange;
    st.m_nOffsetControl = c.nOffsetControl;
    st.m_nCutTop = c.nCutTop;
    st.m_nCutBottom = c.nCutBottom;
    st.m_nCutLeft = c.nCutLeft;
    st.m_nCutRight = c.nCutRight;
    m_sequencer.Configure(c.nTriggerMode, c.nRepeatNumber, c.nRepeatPeriod);

    // The frame buffers hold 3072 x 3072 pixels: a larger or empty image, or
    // cuts that leave nothing, are refused before anything else happens.
    std::string strBad = cfg::CheckImageGeometry(st.m_nImageWidth, st.m_nImageHeight, st.m_nCutTop, st.m_nCutBottom,
                                                 st.m_nCutLeft, st.m_nCutRight);
    if (!strBad.empty()) {
        m_ui.ShowWarning(strBad);
        return CreateResult::BadConfig;
    }

    SetLogClock([this] { return m_timers.now_ms(); });
    StartLog();

    // Temporaries of a write that an earlier run did not finish (it crashed or
    // was killed); a running station's own stay.
    for (const std::string& strFolder : {st.m_strImagePath, st.m_strCalPath})
        for (const std::string& strPath : RemoveStaleTemporaries(strFolder, m_tStarted))
            WriteLog("Removed an unfinished file of an earlier run: " + strPath);

    DeleteMessageFile(kFileDetectorReady);
    DeleteMessageFile(kFileTextIconExposure);
    DeleteMessageFile(kFileImageComing);
    DeleteMessageFile(kFileDoseIndicator);

    m_reception.AllocateBuffers();

    // The simulated boards [SIMULATOR] BOARDS asks for, when the board library has them.
    CBoardSimControls::Lookup().SetBoards(CBoardSimControls::ConfiguredBoards(st.m_strIniPath));
    m_board.StartupConfiguration();

    // The image history is the first to receive every finished exposure.
    m_reception.CreateHistory(st.m_strIniPath, [this](const std::string& strProblem) {
        m_sequencer.ShowOtherText("History: " + strProblem);
    });
    return CreateResult::Ok;
}

bool CMainFrame::AttachImageStore() {
    CImageStore& store = m_app.m_imageStore;
    std::string strBad = cfg::CheckImageGeometry(store.m_nWidth, store.m_nHeight, 0, 0, 0, 0);
    if (!strBad.empty() || store.m_pDisplay.empty()) {
        m_ui.ShowWarning(strBad.empty() ? "The image buffers could not be obtained." : strBad);
        return false;
    }
    const std::vector<uint16_t>& dark = m_reception.DarkFrame();
    store.SetFrameLinks(m_connection.DetectorBAddress(), dark.data(), dark.size());
    return true;
}

bool CMainFrame::CanClose() const { return !m_timers.is_running(TIMER_DARK); }

void CMainFrame::OnClose() { OnDisconnect(); }

// ---- Small services ---------------------------------------------------------------

void CMainFrame::CreateMessageFile(const std::string& strBaseName) {
    if (!CreateEmptyFile(m_settings.m_strImagePath, strBaseName + ".txt")) {
        WriteLog(
            FileFailLogLine("Message file creation fail", m_settings.m_strImagePath + strBaseName + ".txt", errno));
        m_ui.ShowWarning(kMessageFileCreationFail);
    }
}

void CMainFrame::DeleteMessageFile(const std::string& strFileName) {
    DeleteFileIn(m_settings.m_strImagePath, strFileName);
}

void CMainFrame::WriteOutputs() { m_board.WriteOutputs(); }

void CMainFrame::StartTimer(uint32_t nId, int32_t nPeriodMs) {
    if (nPeriodMs <= 0) {
        // EXP_DELAY of 11000 or more (or a short repeat period) leaves no time
        // before the step: it falls due at once.
        char sz[96];
        std::snprintf(sz, sizeof sz, "Timer %u period %d ms: started at once", nId, nPeriodMs);
        WriteLog(sz);
        nPeriodMs = 0;
    }
    m_timers.start(nId, nPeriodMs);
}

void CMainFrame::StopTimer(uint32_t nId) { m_timers.stop(nId); }

int32_t CMainFrame::ExpDelay() const { return TextToInt(m_app.m_strExpDelay); }
int32_t CMainFrame::Integrate() const { return TextToInt(m_app.m_strIntegrate); }

// ---- Connection -------------------------------------------------------------------

void CMainFrame::OnConnect() {
    WriteLog("Click connect");
    // The library runs its timed work and its callbacks on our timer service.
    m_connection.InstallDispatch();

    int32_t nResultA = -1;
    int32_t nResultB = -1;
    CImageStore& store = m_app.m_imageStore;
    std::string strProgramDir = m_app.m_strProgramDir;
    if (strProgramDir.empty()) strProgramDir = IniPath().substr(0, IniPath().size() - std::strlen(cfg::kIniFileName));
    auto fnOpen = [&](int32_t nIndex, const std::string& strPort, const std::string& strAdapter, int32_t& nResult) {
        nResult = m_connection.OpenSlot(nIndex, strPort, strAdapter, IniPath(), strProgramDir);
        InitDetector(nIndex == 1 ? m_connection.DetectorB() : m_connection.DetectorA(), nIndex == 1 ? "B" : "A",
                     nResult);
    };
    if (store.m_bShowNetworkWindow != 0) {
        CAdapterChoice choice;
        if (!m_ui.RunAdapterDialog(choice)) return;  // cancelled: nothing is opened
        if (!choice.strAdapter1.empty() && !choice.strPort1.empty()) {
            store.m_strAdapterName1 = choice.strAdapter1;
            store.m_strComName1 = choice.strPort1;
            fnOpen(0, store.m_strComName1, store.m_strAdapterName1, nResultA);
        }
        if (!store.m_strDetectorName2.empty() && !choice.strAdapter2.empty() && !choice.strPort2.empty()) {
            store.m_strAdapterName2 = choice.strAdapter2;
            store.m_strComName2 = choice.strPort2;
            fnOpen(1, store.m_strComName2, store.m_strAdapterName2, nResultB);
        }
    } else {
        if (!store.m_strAdapterName1.empty() && !store.m_strComName1.empty())
            fnOpen(0, store.m_strComName1, store.m_strAdapterName1, nResultA);
        if (!store.m_strDetectorName2.empty() && !store.m_strAdapterName2.empty() && !store.m_strComName2.empty())
            fnOpen(1, store.m_strComName2, store.m_strAdapterName2, nResultB);
    }
    FinishConnect(nResultA, nResultB);
}

void CMainFrame::FinishConnect(int32_t nResultA, int32_t nResultB) {
    const CImageStore& store = m_app.m_imageStore;
    if (nResultA == 0)
        m_connection.SetCurrent(m_connection.DetectorA());
    else if (nResultB == 0)
        m_connection.SetCurrent(m_connection.DetectorB());

    if (!store.m_strDetectorName2.empty() && !store.m_strAdapterName1.empty() && !store.m_strComName1.empty() &&
        !store.m_strAdapterName2.empty() && !store.m_strComName2.empty() && nResultA == 0 && nResultB == 0) {
        m_panel.bDetectorSelectorVisible = true;
        m_ui.PanelChanged();
    }
    // Only detector A lights the lamp, gets the parameters and is announced.
    if (nResultA != 0) return;

    SetConnectionLamp(true);
    WriteOutputs();

    Acquisition_SetDRConfigPGA(Detector(), 5);
    Acquisition_SetDRConfigAecExpTime(Detector(), ExpDelay() & 0xFFFF);
    Acquisition_SetDRConfigAecMode(Detector(), 1);
    Acquisition_SetDRConfigSetDelayTime(Detector(), 1000);
    if (Acquisition_DRConfigUpdateAll(Detector()) != 0) {
        m_timers.sleep_ms(kParameterWaitMs);
        Acquisition_ReadDRConfig(Detector());
    }

    CreateMessageFile(kMsgConnectionSuccess);
    WriteLog("Detector 2 Connect & initialization");
    OnSaveAdapter();
}

void CMainFrame::InitDetector(uint32_t hDetector, const std::string& strLabel, int32_t nResult) {
    if (nResult != 0) {
        m_ui.ShowWarning(InitFailureText(strLabel, nResult));
        m_ui.SequenceAborted();
        return;
    }
    m_connection.InstallCallbacks(hDetector, &m_app.m_imageStore);
    Acquisition_ReadDRConfig(hDetector);
    m_timers.sleep_ms(kParameterWaitMs);
    Acquisition_SetDRConfigAecExpTime(hDetector, ExpDelay());
    Acquisition_SetDRConfigIntegrate(hDetector, Integrate());
    Acquisition_DRConfigUpdateAll(hDetector);
    m_panel.SetConnected();
    m_ui.PanelChanged();
}

bool CMainFrame::CheckLink(int32_t nResult, uint32_t hDetector) {
    if (nResult != ORVIACQ_ERR_LINK) return true;
    ReportLinkLost(hDetector);
    return false;
}

void CMainFrame::ReportLinkLost(uint32_t hDetector) {
    if (!m_connection.IsOpen(hDetector)) return;  // reported already
    char sz[64];
    const char szLabel[2] = {m_connection.Label(hDetector), 0};
    std::snprintf(sz, sizeof sz, kLinkLostFormat, szLabel);
    WriteLog(sz);
    for (uint32_t nId : {TIMER_COUNTDOWN, TIMER_PRE_EXPOSURE, TIMER_REPEAT, TIMER_MANUAL_READ, TIMER_MANUAL_READ_2,
                         TIMER_MANUAL_EXP, TIMER_READY_TIMEOUT, TIMER_EXP_DELAY, TIMER_DARK_WAIT})
        StopTimer(nId);
    // Closed first: what the frame does from here on gets no second report.
    OnDisconnect();
    m_connection.SetCurrent(0);
    m_ui.ShowWarning(sz);
    m_ui.SequenceAborted();
    // A held exposure is the patient's dose: it is saved without its dark.
    if (m_reception.HoldsExposure()) m_reception.SaveImageWithoutDark(sz);
    SetConnectionLamp(false);
    SetEnableLamp(false);
    SetReadyLamp(false);
    WriteOutputs();
    m_sequencer.AbortAfterLinkLost();
}

void CMainFrame::OnDisconnect() {
    m_sequencer.StopForDisconnect();
    m_ui.SetStatusText(4, "");
    m_connection.CloseAll();
    m_panel.SetDisconnected();
    m_ui.PanelChanged();
    m_sequencer.ClearPane0AfterDisconnect();
}

void CMainFrame::OnSaveAdapter() {
    const CImageStore& store = m_app.m_imageStore;
    if (!store.m_strAdapterName1.empty() && !store.m_strComName1.empty()) {
        cfg::Write(IniPath(), "ADAPTER_NAME_1", store.m_strAdapterName1);
        cfg::Write(IniPath(), "COM_NAME_1", store.m_strComName1);
    }
    if (!store.m_strAdapterName2.empty() && !store.m_strComName2.empty()) {
        cfg::Write(IniPath(), "ADAPTER_NAME_2", store.m_strAdapterName2);
        cfg::Write(IniPath(), "COM_NAME_2", store.m_strComName2);
    }
    cfg::Write(IniPath(), cfg::SELECT_ADAPTER, store.m_bShowNetworkWindow != 0 ? "1" : "0");
}

void CMainFrame::OnShowNetworkWindow() {
    m_panel.bShowNetworkTicked = !m_panel.bShowNetworkTicked;
    m_app.m_imageStore.m_bShowNetworkWindow = m_panel.bShowNetworkTicked ? 1 : 0;
    m_ui.PanelChanged();
}

// ---- Dialogs ----------------------------------------------------------------------

void CMainFrame::OnOpenConfig() {
    if (!m_pConfigDlg) m_pConfigDlg = std::make_unique<CTarsoConfigDlg>(static_cast<IDetectorConfigHost&>(*this));
    m_ui.ShowConfigDialog();
    if (Acquisition_ReadDRConfig(Detector()) == 0) m_ui.ShowWarning(kSendReadError);
}

void CMainFrame::DestroyConfigDialog() {
    if (!m_pConfigDlg) return;
    m_ui.ConfigDialogDestroyed();
    m_pConfigDlg.reset();
}

// ---- The parts' commands, timers and reports ---------------------------------------

void CMainFrame::OnAcquisition() { m_sequencer.OnAcquisition(); }

void CMainFrame::OnDark() {
    if (!m_sequencer.StartDark()) return;
    m_panel.SetDarkRunning(true);
    m_ui.PanelChanged();
    m_sequencer.StartDarkTimer();
    m_ui.SetCloseEnabled(false);
}

void CMainFrame::OnNoClear() { m_sequencer.OnNoClear(); }

void CMainFrame::OnTimer(uint32_t nId) {
    if (m_sequencer.IsDarkTimer(nId)) {
        m_sequencer.EndDarkTimer();
        m_panel.SetDarkRunning(false);
        m_ui.PanelChanged();
        m_ui.SetCloseEnabled(true);
        return;
    }
    if (nId == TIMER_DARK_WAIT) {
        m_reception.OnTimerDarkWait();
        return;
    }
    m_sequencer.OnTimer(nId);
}

void CMainFrame::OnAecInfo(uint32_t hDetector, int32_t nState) { m_sequencer.OnAecInfo(hDetector, nState); }

void CMainFrame::OnImage(uint32_t hDetector, uint16_t* pPixels, CImageStore* pStore) {
    m_reception.OnImage(hDetector, pPixels, pStore);
}

void CMainFrame::OnComPacket(uint32_t hDetector, const uint8_t* pBytes, int32_t nCount) {
    // Only a whole parameter block carries its checksum byte.
    if (pBytes == nullptr || nCount < ORVIACQ_PACKET_SIZE) return;
    uint8_t bySum = 0;
    for (int32_t i = ORVIACQ_PACKET_CHECKSUM_FIRST; i <= ORVIACQ_PACKET_CHECKSUM_LAST; ++i) bySum ^= pBytes[i];
    if (bySum != pBytes[ORVIACQ_PACKET_CHECKSUM_AT]) {
        m_ui.ShowWarning(kChecksumError);
        return;
    }
    if (m_pConfigDlg) {
        m_pConfigDlg->Refresh(hDetector);
        m_ui.ConfigDialogChanged();
    }
}

void CMainFrame::OnMakeCalibration() {
    m_dlgCalibration.OnInitDialog();
    m_ui.RunCalibrationDialog();
}

// ---- Library corrections and the panel's selectors ------------------------------------

void CMainFrame::OnGain() {
    if (m_panel.bGainTicked) {
        Correction_SetDoGain(Detector(), 0);
        m_panel.bGainTicked = false;
    } else if (Correction_SetDoGain(Detector(), 1) < 0) {
        m_ui.ShowWarning(kCorrectFileFailed);
        m_panel.bGainTicked = false;
    } else {
        m_panel.bGainTicked = true;
    }
    m_ui.PanelChanged();
}

void CMainFrame::OnDefect() {
    if (m_panel.bDefectTicked) {
        Correction_SetDoDefect(Detector(), 0);
        m_panel.bDefectTicked = false;
    } else if (Correction_SetDoDefect(Detector(), 1) < 0) {
        m_ui.ShowWarning(kCorrectFileFailed);
        m_panel.bDefectTicked = false;
    } else {
        m_panel.bDefectTicked = true;
    }
    m_ui.PanelChanged();
}

void CMainFrame::OnOffsetSelChange(int nIndex) {
    m_panel.nOffsetSelection = nIndex;
    if (nIndex == 1) {
        if (Correction_SetDoOffset2(Detector(), 1) < 0) {
            m_ui.ShowWarning(kOffsetFileFailed);
            m_panel.nOffsetSelection = 0;
            m_ui.PanelChanged();
            return;
        }
        Correction_SetAutoOffset(Detector(), 0);
    } else if (nIndex == 2) {
        Correction_SetAutoOffset(Detector(), 1);
        Correction_SetDoOffset2(Detector(), 0);
    } else {
        Correction_SetAutoOffset(Detector(), 0);
        Correction_SetDoOffset2(Detector(), 0);
    }
    m_ui.FocusMakeCalibration();
    m_ui.PanelChanged();
}

void CMainFrame::OnDetectorSelChange(int nIndex) {
    m_panel.nOffsetSelection = 0;
    m_panel.bGainTicked = false;
    m_panel.bDefectTicked = false;
    // The detector that stops being current has every correction switched off.
    Correction_SetAutoOffset(Detector(), 0);
    Correction_SetDoOffset2(Detector(), 0);
    Correction_SetDoGain(Detector(), 0);
    Correction_SetDoDefect(Detector(), 0);
    m_connection.SelectDetector(nIndex);
    m_panel.nDetectorSelection = nIndex;
    m_ui.FocusMakeCalibration();
    m_ui.PanelChanged();
}

// ---- Open File ------------------------------------------------------------------------

std::string CMainFrame::FileOpenInitialPath() const { return cfg::Read(IniPath(), cfg::IMAGE_PATH); }

void CMainFrame::OnFileOpen(const std::string& strPath) {
    std::vector<uint16_t> buffer(kFramePixels);
    if (!ReadRawFileUpTo(strPath, buffer.data(), buffer.size())) {
        m_ui.ShowWarning(kFileOpenFail);
        return;
    }
    m_app.m_imageStore.StoreFrame(0, buffer.data());
}

}  // namespace orvi
