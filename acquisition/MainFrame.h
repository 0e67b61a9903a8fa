#pragma once
// CMainFrame: the program's controller, a façade over its parts:
//   CConnection          the detectors open, their handles and callbacks;
//   CExposureSequencer   the trigger modes' timers, the exposure's state and
//                        what status pane 0 says;
//   CImageReception      every frame of the detector, the frame buffers, the
//                        calibration store and the image sinks;
// and the two dialogs' logic, which reach the station through narrow
// interfaces (ICalibrationHost, IDetectorConfigHost). The frame keeps the
// configuration read at creation, the panel's state, the board and the folder
// locks, and carries the operator's commands. It never touches a widget: what
// a person sees goes through IUiPort, time through ITimerService.
//
// How a front end drives it (the Qt main window, orvi-station, the tests):
//   construction      CMainFrame(app, ui, timers[, board library]); the frame
//                     installs OnTimer as the timer service's handler; its
//                     connection becomes the one the library's callbacks
//                     report to, and hands them to the frame (IDetectorEvents).
//   creation          OnCreate(programDir); then the image store's
//                     Initialize and AttachImageStore().
//   commands          OnConnect, OnDisconnect, OnAcquisition, OnDark, ...
//                     (one call per button; the panel's flags are in Panel()
//                     and every change is announced by IUiPort::PanelChanged).
//   dialogs           OnMakeCalibration() refills CalibrationDialog() and runs
//                     it through IUiPort::RunCalibrationDialog; its buttons
//                     call CalibrationDialog().On...(). OnOpenConfig() creates
//                     ConfigDialog() on first use; its buttons call
//                     ConfigDialog()->On...(); OnExit destroys it.
//   selectors         OnOffsetSelChange / OnDetectorSelChange after the
//                     operator's choice; the frame may set the panel's selections
//                     back (PREV refused, a detector switch resets the offset
//                     selector): the panel applies them without reporting a new
//                     choice.
//   Open File         the front end's file dialog starts at
//                     FileOpenInitialPath(); the chosen path goes to OnFileOpen.
//   closing           CanClose() is false while the dark timer runs; OnClose()
//                     disconnects; then the frame is destroyed (it calls no
//                     IUiPort function from its destructor).
// Everything runs on one thread: commands, timers and the library's callbacks.
#include "acquisition/BoardProtocol.h"
#include "acquisition/CalibrationDialog.h"
#include "acquisition/ConfigDialog.h"
#include "acquisition/Connection.h"
#include "acquisition/ExposureSequencer.h"
#include "acquisition/ImageReception.h"
#include "acquisition/PanelState.h"
#include "acquisition/StationSettings.h"
#include "acquisition/TimerService.h"
#include "acquisition/UiPort.h"
#include "display/AppValues.h"
#include "imaging/AcquiredImage.h"
#include "imaging/FolderLock.h"
#include "imaging/ImageHistory.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace orvi {

// The frame buffers always hold a full 3072 x 3072 frame.
inline constexpr int32_t kFrameSide = 3072;
inline constexpr size_t kFramePixels = size_t{kFrameSide} * kFrameSide;
inline constexpr size_t kFrameBytes = kFramePixels * sizeof(uint16_t);  // 18,874,368

// Window timers of the main frame.
inline constexpr uint32_t TIMER_DARK = 102;
inline constexpr uint32_t TIMER_RUNNING = 800;  // running-time watchdog; never started
inline constexpr uint32_t TIMER_BLINK = 801;
inline constexpr uint32_t TIMER_REPEAT = 802;
inline constexpr uint32_t TIMER_COUNTDOWN = 803;
inline constexpr uint32_t TIMER_PRE_EXPOSURE = 804;
inline constexpr uint32_t TIMER_MANUAL_READ = 805;
inline constexpr uint32_t TIMER_MANUAL_EXP = 806;
inline constexpr uint32_t TIMER_READY_TIMEOUT = 809;
inline constexpr uint32_t TIMER_MANUAL_READ_2 = 810;
inline constexpr uint32_t TIMER_EXP_DELAY = 811;
// The dark after an image: started with each request, it ends the wait for a
// dark that never comes (the held image is then saved without it).
inline constexpr uint32_t TIMER_DARK_WAIT = 812;
inline constexpr uint32_t TIMER_PROGRESS = 813;  // status pane 0's countdown, once a second

inline constexpr int32_t kDarkTimerMs = 1500;
inline constexpr int32_t kBlinkMs = 500;
inline constexpr int32_t kCountdownTickMs = 100;
inline constexpr int32_t kCountdownTicks = 10;
inline constexpr int32_t kManualReadFirstMs = 25;  // from the Acquisition command
inline constexpr int32_t kManualReadMs = 50;       // from every other start
inline constexpr int32_t kManualExpMs = 25;
inline constexpr int32_t kReadyConfirmMs = 500;
inline constexpr int32_t kReadyTimeoutMs = 3000;
inline constexpr int32_t kExposureLeadMs = 12000;   // arming to the ready lamp, less EXP_DELAY
inline constexpr int32_t kRepeatLeadMs = 3000;      // a repeat cycle's countdown starts P - D - 3000
inline constexpr uint32_t kParameterWaitMs = 400;   // after a parameter update or read
inline constexpr int32_t kDarkWaitMarginMs = 5000;  // a dark's delay and readout, plus this
// Another station writing to the same folder: waited for this long, in steps.
inline constexpr uint32_t kFolderLockWaitMs = 3000;
inline constexpr uint32_t kFolderLockStepMs = 100;
inline constexpr uintmax_t kMaxProfileBytes = uintmax_t{1} << 20;  // ORVI2.ini
inline constexpr int32_t kProgressTickMs = 1000;

// Status pane 0: what the station is waiting for and what it is doing.
inline constexpr const char* kProgressAlreadyWaiting = "Already waiting for X-ray";
inline constexpr const char* kProgressPressSwitch = "Press the hand switch";
inline constexpr const char* kProgressSwitchArmed = "Armed: press through for X-ray";
inline constexpr const char* kProgressXrayNow = "X-ray now";
inline constexpr const char* kProgressReading = "Reading image";
inline constexpr const char* kProgressCorrecting = "Correcting";
inline constexpr const char* kProgressSeriesEnded = "Series ended without X-ray";
inline constexpr const char* kProgressNotSaved = "Image not saved";
inline constexpr const char* kProgressNoImage = "No image came: press Acquisition again";
// How long after "exposure disabled" a frame may take before pane 0 says none came.
inline constexpr int32_t kReadingLimitMs = 3000;

// What the next frame is.
inline constexpr int32_t ACQ_IMAGE = 0;
inline constexpr int32_t ACQ_BRIGHT = 1;
inline constexpr int32_t ACQ_DARK = 2;
inline constexpr int32_t ACQ_DARK_AFTER_IMAGE = 3;

// Trigger modes.
inline constexpr int32_t kTriggerManual = 0;
inline constexpr int32_t kTriggerAuto = 1;
inline constexpr int32_t kTriggerUsb = 6;
inline constexpr int32_t kTriggerRepeat = 7;

// Message boxes of the frame.
inline constexpr const char* kSendReadError = "Send read parameters command error";
inline constexpr const char* kCorrectFileFailed = "The correct file loading failed!";
inline constexpr const char* kOffsetFileFailed = "The offset correct file loading failed!";
inline constexpr const char* kChecksumError = "Parameter checksum error";
inline constexpr const char* kLinkLostFormat = "Detector %s: link lost";
inline constexpr const char* kImageSavedWithoutDark = "The image is saved without a dark frame.";
inline constexpr const char* kImageCorrectedWithDarkInMemory = "The image is corrected with the dark in memory.";
inline constexpr const char* kImageNameHasFolder =
    "IMAGE_NAME must be a file name without '/': the image is not saved.";
inline constexpr const char* kFolderInUse = "Folder in use by another station:";
inline constexpr const char* kIniTooLarge = "ORVI2.ini is larger than 1 MB and is not read.";

class CMainFrame : private IDetectorEvents, private ICalibrationHost, private IDetectorConfigHost {
public:
    enum class CreateResult {
        Ok,
        MissingIni,  // "ORVI2.ini don`t exist." was shown; the program ends with code 0
        BadConfig,   // the image geometry was refused with a message; the program ends with code 1
    };

    // The board library defaults to libPelkio.so's exports (link
    // orvi_pelkio_exports); tests pass a recorder or the real library over a
    // fake bus.
    CMainFrame(CAppValues& app, IUiPort& ui, ITimerService& timers, CPelkioApi board = PelkioExports());
    // Deletes the configuration dialog, switches the boards' outputs off (when
    // a board was found), stops the timers, and closes a detector still open.
    ~CMainFrame() override;
    CMainFrame(const CMainFrame&) = delete;
    CMainFrame& operator=(const CMainFrame&) = delete;

    // The latest constructed frame (null once it is destroyed).
    static CMainFrame* Current();

    // ---- Creation and closing ------------------------------------------------

    // The creation steps after the child windows exist: log start, configuration,
    // folders, stale message files, the frame buffers and the board start-up.
    CreateResult OnCreate(const std::string& strProgramDir);

    // Makes the image store's configuration usable: size check, buffers and the
    // links to this frame. Runs after the store's Initialize.
    bool AttachImageStore();

    // False while the dark timer runs: the window's Close is greyed then.
    bool CanClose() const;
    // The close step: Disconnect. The front end then destroys the frame.
    void OnClose();

    // ---- Connection (buttons 1010, 1002, 1005, 1068) --------------------------

    void OnConnect();
    void InitDetector(uint32_t hDetector, const std::string& strLabel, int32_t nResult);
    void OnDisconnect();
    // Writes the adapter keys (and SELECT_ADAPTER) to the program's ORVI2.ini.
    void OnSaveAdapter();
    void OnShowNetworkWindow();
    // A library result of detector hDetector: ORVIACQ_ERR_LINK reports the
    // lost link (once: the detector is closed) and returns false.
    bool CheckLink(int32_t nResult, uint32_t hDetector);
    // The link to the detector is gone: said in words, the held exposure
    // saved, the detectors closed and the panel disconnected, so that Connect
    // opens them again.
    void ReportLinkLost(uint32_t hDetector);

    // ---- Other commands --------------------------------------------------------

    void OnOpenConfig();       // 1008
    void OnMakeCalibration();  // 1015: refills the calibration dialog and runs it
    void OnGain();             // 1070
    void OnDefect();           // 1071
    void OnAcquisition();      // 1027
    void OnDark();             // 1007
    void OnNoClear();          // 1009
    // 1003, after the front end's file dialog: shows at most one full frame
    // of the file (the rest zero). "The file open fail!!" when it cannot be read.
    void OnFileOpen(const std::string& strPath);
    // The folder the Open File dialog starts in: IMAGE_PATH read now.
    std::string FileOpenInitialPath() const;

    // Panel selectors: a new choice of the offset selector (0 "NO", 1 "PREV",
    // 2 "POST") or of the detector selector (0 "A", 1 "B").
    void OnOffsetSelChange(int nIndex);
    void OnDetectorSelChange(int nIndex);

    // ---- Timers and the detector's reports --------------------------------------

    void OnTimer(uint32_t nId);
    void OnComPacket(uint32_t hDetector, const uint8_t* pBytes, int32_t nCount) override;
    void OnAecInfo(uint32_t hDetector, int32_t nState) override;
    void OnImage(uint32_t hDetector, uint16_t* pPixels, CImageStore* pStore) override;

    // ---- Finished exposures -------------------------------------------------------

    // Every corrected exposure is handed to the sinks added here, in order,
    // after its image file is written (or its write failed: bSaved is false).
    // The frame does not own them; a sink must be removed before it is destroyed.
    void AddImageSink(IImageSink* pSink) { m_reception.AddImageSink(pSink); }
    void RemoveImageSink(IImageSink* pSink) { m_reception.RemoveImageSink(pSink); }
    // The latest finished exposure of this run (null before the first).
    const AcquiredImagePtr& LastImage() const { return m_reception.LastImage(); }
    // The image history, the first sink (null before OnCreate).
    CImageHistory* History() const { return m_reception.History(); }

    // ---- Progress ------------------------------------------------------------------

    // Status pane 0, and the calibration dialog's progress line while a
    // calibration frame is on its way.
    void ShowProgress(const std::string& strText) override { m_sequencer.ShowProgress(strText); }
    // True from an Acquisition (or GET BRIGHT) until its image arrives, the
    // series ends or the detector is disconnected.
    bool WaitingForXray() const { return m_sequencer.WaitingForXray(); }

    // ---- Message files ---------------------------------------------------------

    void CreateMessageFile(const std::string& strBaseName);
    void DeleteMessageFile(const std::string& strFileName);

    // ---- Configuration dialog life cycle ----------------------------------------

    // Exit of the configuration dialog: the port is told, then the object is
    // deleted and ConfigDialog() is null again.
    void DestroyConfigDialog() override;

    // Starts a timer; a period below zero is started with 0 (due at once) and
    // the log says so.
    void StartTimer(uint32_t nId, int32_t nPeriodMs);
    void StopTimer(uint32_t nId);

    // The folder locks of a write sequence, taken by the first holder and
    // released by the last (sequences nest: a dark and then its image).
    class CFolderLocks {
    public:
        explicit CFolderLocks(CMainFrame& frame);
        ~CFolderLocks();
        CFolderLocks(const CFolderLocks&) = delete;
        CFolderLocks& operator=(const CFolderLocks&) = delete;

    private:
        CMainFrame& m_frame;
    };
    CFolderLocks LockFolders() { return CFolderLocks(*this); }

    // Output change: m_nBoardCount = InitBoard(), then both boards written.
    void WriteOutputs();

    // The exposure delay D and the integration time as integers.
    int32_t ExpDelay() const;
    int32_t Integrate() const;

    // ---- The parts and the state they show ---------------------------------------

    CAppValues& App() override { return m_app; }
    IUiPort& Ui() override { return m_ui; }
    ITimerService& Timers() { return m_timers; }
    CBoardProtocol& Board() { return m_board; }
    int32_t BoardCount() const { return m_board.m_nBoardCount; }
    // The configuration read at creation.
    const CStationSettings& Settings() const override { return m_settings; }
    const CConnection& Connection() const { return m_connection; }
    CExposureSequencer& Sequencer() { return m_sequencer; }
    const CExposureSequencer& Sequencer() const { return m_sequencer; }
    CImageReception& Reception() { return m_reception; }
    const CImageReception& Reception() const { return m_reception; }

    // The control panel's flags and selectors (written only by the frame's
    // commands; OverridePanel sets them whole, for a test's set-up).
    const CPanelState& Panel() const { return m_panel; }
    void OverridePanel(const CPanelState& panel) { m_panel = panel; }
    // The calibration dialog (modal, shown on demand; its list lives on).
    CCalibration& CalibrationDialog() { return m_dlgCalibration; }
    // The modeless configuration dialog; null until first opened.
    CTarsoConfigDlg* ConfigDialog() const { return m_pConfigDlg.get(); }

    // The detectors: the current one, A and B.
    uint32_t Detector() const { return m_connection.Detector(); }
    uint32_t DetectorA() const { return m_connection.DetectorA(); }
    uint32_t DetectorB() const { return m_connection.DetectorB(); }
    int32_t TriggerMode() const override { return m_sequencer.TriggerMode(); }
    void SetTriggerMode(int32_t nMode) override { m_sequencer.SetTriggerMode(nMode); }

private:
    // ICalibrationHost
    void PrepareBright() override { m_sequencer.PrepareBright(); }
    bool ArmBright() override { return m_sequencer.ArmBright(); }
    void PrepareDarkAlone() override { m_sequencer.PrepareDarkAlone(); }
    bool RequestDarkAlone(uint16_t& nDelayMs) override { return m_sequencer.RequestDarkAlone(nDelayMs); }
    void WithFoldersLocked(const std::function<void()>& fn) override;
    // IDetectorConfigHost
    const std::string& IniPath() const override { return m_settings.m_strIniPath; }
    uint32_t CurrentDetector() const override { return m_connection.Detector(); }
    void SleepMs(uint32_t nMs) override { m_timers.sleep_ms(nMs); }

    void FinishConnect(int32_t nResultA, int32_t nResultB);
    void LockFolder(CFolderLock& lock, const std::string& strFolder);

    CAppValues& m_app;
    IUiPort& m_ui;
    ITimerService& m_timers;
    CBoardProtocol m_board;
    CStationSettings m_settings;
    CPanelState m_panel;
    CCalibration m_dlgCalibration;
    std::unique_ptr<CTarsoConfigDlg> m_pConfigDlg;
    CConnection m_connection;
    CExposureSequencer m_sequencer;
    CImageReception m_reception;

    CFolderLock m_calLock;
    CFolderLock m_imageLock;
    int32_t m_nLockDepth = 0;
    // When this frame was made: older temporaries of this pid are stale.
    std::chrono::system_clock::time_point m_tStarted = std::chrono::system_clock::now();
};

// Appends '/' to a non-empty folder that does not end in one.
std::string NormaliseFolder(const std::string& strFolder);

}  // namespace orvi
