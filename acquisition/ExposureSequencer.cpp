// CExposureSequencer: the acquisition commands, the window timers of the
// trigger modes, pane 0's progress and the exposure-control states.
#include "acquisition/ExposureSequencer.h"

#include "acquisition/CalibrationDialog.h"
#include "acquisition/MainFrame.h"

#include "app/ConfigKeys.h"
#include "app/EventLog.h"
#include "imaging/MessageFiles.h"
#include "orviacquire/ORVIAcquireLib.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace orvi {

CExposureSequencer::CExposureSequencer(CMainFrame& frame, ICalibrationFrames& calibration)
    : m_frame(frame), m_calibration(calibration) {}

void CExposureSequencer::Configure(int32_t nTriggerMode, int32_t nRepeatNumber, int32_t nRepeatPeriod) {
    m_nTriggerMode = nTriggerMode;
    m_nRepeatLeft = nRepeatNumber;
    m_nRepeatPeriod = nRepeatPeriod;
}

uint32_t CExposureSequencer::Detector() const { return m_frame.Connection().Detector(); }

bool CExposureSequencer::CheckLink(int32_t nResult) { return m_frame.CheckLink(nResult, Detector()); }

void CExposureSequencer::ResetSequenceFlags() {
    m_bImageBusy = false;
    m_bReadyLatched = false;
    m_bExpTimerStarted = false;
    m_bExposed = false;
    m_bReadyLampLatched = false;
}

// ---- Commands -------------------------------------------------------------------------

void CExposureSequencer::OnAcquisition() {
    // Pressed again while armed: the operator is told, and the detector is
    // armed again as before (its countdown starts over).
    const bool bAgain = m_bWaitingForXray;
    if (bAgain) ShowProgress(kProgressAlreadyWaiting);
    m_bWaitingForXray = true;
    m_nAcqMode = ACQ_IMAGE;
    ResetSequenceFlags();
    const int32_t nDelay = m_frame.ExpDelay();
    const char* szMessage = nullptr;
    if (m_nTriggerMode == kTriggerUsb) {
        // The hand switch arms the detector.
        m_frame.StartTimer(TIMER_MANUAL_READ, kManualReadFirstMs);
        szMessage = "Manual mode, Click Acqusition ";
        StopProgress();
        if (!bAgain) ShowProgress(kProgressPressSwitch);
    } else if (m_nTriggerMode == kTriggerRepeat) {
        m_frame.StartTimer(TIMER_PRE_EXPOSURE, m_nRepeatPeriod - nDelay - kRepeatLeadMs);
        m_frame.StartTimer(TIMER_REPEAT, m_nRepeatPeriod);
        CheckLink(Acquisition_StartAecReady(Detector()));
        szMessage = "Repeat mode, Acqusition start";
        m_nSeriesTotal = m_nRepeatLeft;
        StartSeriesProgress(!bAgain);
    } else {
        m_frame.StartTimer(TIMER_EXP_DELAY, kExposureLeadMs - nDelay);
        m_frame.StartTimer(TIMER_PRE_EXPOSURE, kExposureLeadMs - nDelay - 1000);
        CheckLink(Acquisition_StartAecReady(Detector()));
        szMessage = "Click Acqusition";
        StartXrayCountdown(kExposureLeadMs - nDelay, !bAgain);
    }
    WriteLog(szMessage);
}

bool CExposureSequencer::StartDark() {
    return CheckLink(
        Acquisition_StartClearTimeAcquisition(Detector(), Acquisition_GetDRConfigSetDelayTime(Detector())));
}

void CExposureSequencer::StartDarkTimer() {
    m_frame.StartTimer(TIMER_DARK, kDarkTimerMs);
    m_uDarkTimer = TIMER_DARK;
}

void CExposureSequencer::EndDarkTimer() { m_frame.StopTimer(m_uDarkTimer); }

void CExposureSequencer::OnNoClear() { CheckLink(Acquisition_StartAcquisition(Detector())); }

void CExposureSequencer::PrepareBright() {
    m_nAcqMode = ACQ_BRIGHT;
    ResetSequenceFlags();
    // A GET DARK whose frame never came must not turn this pair into a lone dark.
    m_bDarkOnly = false;
}

bool CExposureSequencer::ArmBright() {
    if (m_nTriggerMode == kTriggerUsb) {
        m_frame.StartTimer(TIMER_MANUAL_READ, kManualReadMs);
        StartWaitingProgress(-1);
        return true;
    }
    const int32_t nDelay = m_frame.ExpDelay();
    m_frame.StartTimer(TIMER_EXP_DELAY, kExposureLeadMs - nDelay);
    m_frame.StartTimer(TIMER_PRE_EXPOSURE, kExposureLeadMs - 1000 - nDelay);
    if (!CheckLink(Acquisition_StartAecReady(Detector()))) return false;
    StartWaitingProgress(kExposureLeadMs - nDelay);
    return true;
}

void CExposureSequencer::PrepareDarkAlone() {
    m_nAcqMode = ACQ_DARK;
    m_bDarkOnly = true;
    m_bReadyLampLatched = true;
}

bool CExposureSequencer::RequestDarkAlone(uint16_t& nDelayMs) {
    nDelayMs = Acquisition_GetInnerDelayTime(Detector());
    if (CheckLink(Acquisition_StartClearTimeAcquisition(Detector(), nDelayMs))) return true;
    m_bDarkOnly = false;
    return false;
}

void CExposureSequencer::FrameArrived() {
    m_bImageBusy = true;
    SetOutputs(g_byOut1, kOutAllOff);
    for (uint32_t nId : {TIMER_COUNTDOWN, TIMER_PRE_EXPOSURE, TIMER_REPEAT, TIMER_MANUAL_READ, TIMER_MANUAL_EXP,
                         TIMER_READY_TIMEOUT, TIMER_EXP_DELAY})
        m_frame.StopTimer(nId);
    StopProgress();
    m_bWaitingForXray = false;
    ReleaseSwitchOutputs();
    m_frame.WriteOutputs();
}

void CExposureSequencer::StopForDisconnect() {
    // An exposure still pending ends here: its timers would otherwise go on
    // logging and switching lamps on a station that is no longer connected.
    // A repeat series cut short starts full the next time.
    if (m_frame.Timers().is_running(TIMER_REPEAT))
        m_nRepeatLeft = cfg::Read(m_frame.Settings().m_strIniPath, cfg::REPEAT_NUMBER);
    for (uint32_t nId : {TIMER_COUNTDOWN, TIMER_PRE_EXPOSURE, TIMER_EXP_DELAY, TIMER_REPEAT, TIMER_MANUAL_READ,
                         TIMER_MANUAL_READ_2, TIMER_MANUAL_EXP, TIMER_READY_TIMEOUT})
        m_frame.StopTimer(nId);
}

void CExposureSequencer::ClearPane0AfterDisconnect() {
    if (!m_bWaitingForXray && m_progress == Progress::None) return;
    StopProgress();
    m_bWaitingForXray = false;
    m_strProgressShown.clear();
    m_frame.Ui().SetStatusText(0, "");
}

void CExposureSequencer::AbortAfterLinkLost() {
    m_nAcqMode = ACQ_IMAGE;
    m_bImageBusy = false;
}

// ---- Timers -----------------------------------------------------------------------------

void CExposureSequencer::OnTimer(uint32_t nId) {
    switch (nId) {
    case TIMER_BLINK:
        SetConnectionLamp(m_bBlinkPhase);
        m_bBlinkPhase = !m_bBlinkPhase;
        SetEnableLamp(false);
        SetReadyLamp(false);
        m_frame.WriteOutputs();
        break;
    case TIMER_REPEAT: OnTimerRepeat(); break;
    case TIMER_PRE_EXPOSURE:
        m_frame.StopTimer(TIMER_PRE_EXPOSURE);
        m_frame.StartTimer(TIMER_COUNTDOWN, kCountdownTickMs);
        WriteLog("Left 1 second for exposure");
        m_nCountdown = kCountdownTicks;
        break;
    case TIMER_COUNTDOWN: OnTimerCountdown(); break;
    case TIMER_EXP_DELAY:
        m_frame.StopTimer(TIMER_EXP_DELAY);
        WriteLog("TIMER_EXP_DELAY ON");
        SetReadyLamp(true);
        SetEnableLamp(false);
        m_frame.WriteOutputs();
        break;
    case TIMER_MANUAL_READ: OnTimerManualRead(); break;
    case TIMER_MANUAL_READ_2: OnTimerManualRead2(); break;
    case TIMER_MANUAL_EXP: OnTimerManualExp(); break;
    case TIMER_READY_TIMEOUT:
        m_frame.StopTimer(TIMER_READY_TIMEOUT);
        m_frame.Board().ReadyTimeout();
        break;
    case TIMER_RUNNING: OnTimerRunning(); break;
    case TIMER_PROGRESS: OnTimerProgress(); break;
    default: break;
    }
}

void CExposureSequencer::OnTimerRepeat() {
    --m_nRepeatLeft;
    if (m_nRepeatLeft > 0) {
        m_bReadyLampLatched = false;
        m_frame.StartTimer(TIMER_PRE_EXPOSURE, m_nRepeatPeriod - m_frame.ExpDelay() - kRepeatLeadMs);
        if (!CheckLink(Acquisition_StartAecReady(Detector()))) return;
        WriteLog("Prepare[Trigger 7 mode]  ");
        StartSeriesProgress(true);
        return;
    }
    m_frame.StopTimer(TIMER_REPEAT);
    SetEnableLamp(false);
    SetReadyLamp(false);
    m_frame.WriteOutputs();
    m_nRepeatLeft = cfg::Read(m_frame.Settings().m_strIniPath, cfg::REPEAT_NUMBER);
    WriteLog("Trigger 7 mode End");
    StopProgress();
    m_bWaitingForXray = false;
    ShowProgress(kProgressSeriesEnded);
}

// ---- Status pane 0 ------------------------------------------------------------------

void CExposureSequencer::ShowProgress(const std::string& strText) {
    // A repeat of the text shown says nothing new (the readout is reported
    // both when the X-ray ends and when the frame arrives).
    if (strText == m_strProgressShown) return;
    m_strProgressShown = strText;
    m_frame.Ui().SetStatusText(0, strText);
    // The calibration dialog shows the progress of its own frames.
    if (m_nAcqMode == ACQ_BRIGHT || m_nAcqMode == ACQ_DARK) {
        m_calibration.SetProgress(strText);
        m_calibration.Changed();
    }
}

void CExposureSequencer::ShowOtherText(const std::string& strText) {
    m_strProgressShown.clear();
    m_frame.Ui().SetStatusText(0, strText);
}

void CExposureSequencer::StartWaitingProgress(int32_t nDueMs) {
    m_bWaitingForXray = true;
    if (nDueMs >= 0) {
        StartXrayCountdown(nDueMs, true);
        return;
    }
    StopProgress();
    ShowProgress(kProgressPressSwitch);
}

void CExposureSequencer::StopProgress() {
    m_frame.StopTimer(TIMER_PROGRESS);
    m_progress = Progress::None;
}

void CExposureSequencer::StartXrayCountdown(int32_t nDueMs, bool bShowNow) {
    m_progress = Progress::Xray;
    m_nProgressDue = m_frame.Timers().now_ms() + static_cast<uint32_t>(nDueMs > 0 ? nDueMs : 0);
    m_frame.StartTimer(TIMER_PROGRESS, kProgressTickMs);
    if (bShowNow) ShowXrayCountdown();
}

void CExposureSequencer::StartSeriesProgress(bool bShowNow) {
    m_progress = Progress::Series;
    m_nProgressDue = m_frame.Timers().now_ms() + static_cast<uint32_t>(m_nRepeatPeriod > 0 ? m_nRepeatPeriod : 0);
    m_frame.StartTimer(TIMER_PROGRESS, kProgressTickMs);
    if (bShowNow) ShowSeriesProgress();
}

void CExposureSequencer::OnTimerProgress() {
    if (m_progress == Progress::Xray) {
        ShowXrayCountdown();
    } else if (m_progress == Progress::Series) {
        ShowSeriesProgress();
    } else if (m_progress == Progress::Reading) {
        StopProgress();
        // A series arms again by itself; otherwise the operator starts over.
        if (m_nTriggerMode != kTriggerRepeat) m_bWaitingForXray = false;
        ShowProgress(kProgressNoImage);
    } else {
        m_frame.StopTimer(TIMER_PROGRESS);
    }
}

namespace {

// Whole seconds left, rounded up: "in 1 s" until the moment itself.
int32_t SecondsLeft(uint32_t nNow, uint32_t nDue) {
    const int64_t nLeft = int64_t(nDue) - int64_t(nNow);
    return nLeft > 0 ? static_cast<int32_t>((nLeft + 999) / 1000) : 0;
}

}  // namespace

// "X-ray in 11 s" each second, then "X-ray now" at the ready lamp.
void CExposureSequencer::ShowXrayCountdown() {
    const int32_t nSeconds = SecondsLeft(m_frame.Timers().now_ms(), m_nProgressDue);
    if (nSeconds <= 0) {
        StopProgress();
        ShowProgress(kProgressXrayNow);
        return;
    }
    ShowProgress("X-ray in " + std::to_string(nSeconds) + " s");
}

// "Series 2 of 5, next in 4 s"; the last arming says when the series ends.
void CExposureSequencer::ShowSeriesProgress() {
    const int32_t nSeconds = SecondsLeft(m_frame.Timers().now_ms(), m_nProgressDue);
    if (nSeconds <= 0) return;  // the series' own timer moves on now
    const int32_t nTotal = m_nSeriesTotal > 0 ? m_nSeriesTotal : 1;
    const int32_t nIndex = std::max(1, std::min(nTotal, nTotal - m_nRepeatLeft + 1));
    ShowProgress("Series " + std::to_string(nIndex) + " of " + std::to_string(nTotal) +
                 (nIndex < nTotal ? ", next in " : ", ends in ") + std::to_string(nSeconds) + " s");
}

// "Saved IMAGE.RAW 14:03:22": the file's name and the time it was written.
void CExposureSequencer::ShowSaved(const std::string& strWhat) {
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    char sz[16];
    std::snprintf(sz, sizeof sz, "%02d:%02d:%02d", tm.tm_hour, tm.tm_min, tm.tm_sec);
    ShowProgress("Saved " + strWhat + " " + sz);
}

void CExposureSequencer::OnTimerCountdown() {
    --m_nCountdown;
    SetEnableLamp(m_bBlinkPhase);
    m_bBlinkPhase = !m_bBlinkPhase;
    if (m_nCountdown > 0) {
        m_frame.WriteOutputs();
        return;
    }
    m_frame.StopTimer(TIMER_COUNTDOWN);
    WriteLog("Delay - ready on ");
    // The repeat series shows the ready lamp at the end of each countdown.
    SetReadyLamp(m_nTriggerMode == kTriggerRepeat);
    SetEnableLamp(false);
    m_frame.WriteOutputs();
}

// Polling the hand switch's ready stage (mode 6).
void CExposureSequencer::OnTimerManualRead() {
    if (m_frame.Board().m_nBoardCount == 0) {
        m_frame.StopTimer(TIMER_MANUAL_READ);
        WriteLog("USB is disconnected");
        return;
    }
    const CHandSwitchState sw = m_frame.Board().ReadInputs();
    SetReadyOutput(sw.bReady);
    SetReadyLamp(sw.bReady);
    m_frame.WriteOutputs();
    if (sw.bReady && !m_bReadyLatched) {
        m_bReadyLatched = true;
        m_frame.StartTimer(TIMER_MANUAL_READ_2, kReadyConfirmMs);
        WriteLog("TIMER_MANUAL_READ::Pressed ready ");
    }
}

// Half a second after the first press: still held arms the detector.
void CExposureSequencer::OnTimerManualRead2() {
    m_frame.StopTimer(TIMER_MANUAL_READ);
    m_frame.StopTimer(TIMER_MANUAL_READ_2);
    const CHandSwitchState sw = m_frame.Board().ReadInputs();
    SetReadyOutput(sw.bReady);
    SetReadyLamp(sw.bReady);
    m_frame.WriteOutputs();
    if (sw.bReady) {
        if (!CheckLink(Acquisition_StartAecReady(Detector()))) return;
        m_bExpTimerStarted = false;
        WriteLog("TIMER_MANUAL_READ_2::Prepare ");
        m_frame.StartTimer(TIMER_READY_TIMEOUT, kReadyTimeoutMs);
        ShowProgress(kProgressSwitchArmed);
    } else {
        WriteLog("TIMER_MANUAL_READ_2::release ready ");
        ShowProgress(kProgressPressSwitch);
        m_bReadyLatched = false;
        m_frame.StartTimer(TIMER_MANUAL_READ, kManualReadMs);
    }
}

// Polling ready and expose while the detector takes X-ray (mode 6).
void CExposureSequencer::OnTimerManualExp() {
    m_bReadyLatched = false;
    if (m_frame.Board().m_nBoardCount == 0) {
        m_frame.StopTimer(TIMER_MANUAL_EXP);
        WriteLog("USB is disconnected");
        return;
    }
    const CHandSwitchState sw = m_frame.Board().ReadInputs();
    if (sw.bReady) {
        SetReadyOutput(true);
        SetReadyLamp(true);
        SetExposeOutput(sw.bExpose);
        SetEnableLamp(sw.bExpose);
        if (sw.bExpose) m_bExposed = true;
        m_frame.WriteOutputs();
        return;
    }
    m_frame.StopTimer(TIMER_MANUAL_READ);
    m_frame.StopTimer(TIMER_MANUAL_READ_2);
    m_frame.StopTimer(TIMER_MANUAL_EXP);
    ReleaseSwitchOutputs();
    m_frame.WriteOutputs();
    // Let go before exposing: the operator may press again.
    if (!m_bExposed) {
        m_frame.StartTimer(TIMER_MANUAL_READ, kManualReadMs);
        ShowProgress(kProgressPressSwitch);
    }
}

// The running-time watchdog. No step starts it; when it fires without an
// image on its way, the program ends.
void CExposureSequencer::OnTimerRunning() {
    m_frame.StopTimer(TIMER_RUNNING);
    if (m_bImageBusy) {
        WriteLog("Get data within 'RUNNING TIMER'");
        return;
    }
    m_frame.DeleteMessageFile(kFileConnectionSuccess);
    m_frame.DeleteMessageFile(kFileDetectorReady);
    m_frame.DeleteMessageFile(kFileTextIconExposure);
    m_frame.DeleteMessageFile(kFileImageComing);
    WriteLog("Never get data within'RUNNING TIMER', Exit program");
    SetOutputs(kOutAllOff, g_byOut2);
    m_frame.WriteOutputs();
    m_frame.Ui().ExitProgram(0);
}

// ---- Exposure-control callback ---------------------------------------------------------

void CExposureSequencer::OnAecInfo(uint32_t hDetector, int32_t nState) {
    const char* szState = nState == ORVIACQ_AEC_ENABLED    ? "Exposure enable [E]"
                          : nState == ORVIACQ_AEC_DISABLED ? "Exposure disable [R]"
                                                           : "";
    if (nState == ORVIACQ_AEC_ENABLED && !m_bImageBusy) {
        if (m_nTriggerMode == kTriggerUsb) {
            m_frame.StopTimer(TIMER_READY_TIMEOUT);
            const CHandSwitchState sw = m_frame.Board().ReadInputs();
            if (!sw.bReady) {
                WriteLog("Release ready ,Atfer AecInfoCallback");
                ReleaseSwitchOutputs();
                m_bReadyLatched = false;
                m_frame.WriteOutputs();
                if (!m_bExpTimerStarted) {
                    m_bExpTimerStarted = true;
                    m_frame.StartTimer(TIMER_MANUAL_READ, kManualReadMs);
                }
            } else if ((m_nAcqMode == ACQ_IMAGE || m_nAcqMode == ACQ_BRIGHT) && !m_bExpTimerStarted) {
                WriteLog("Start TIMER_MANUAL_EXP ,Atfer AecInfoCallback");
                m_frame.CreateMessageFile(kMsgDetectorReady);
                m_bExpTimerStarted = true;
                m_frame.StartTimer(TIMER_MANUAL_EXP, kManualExpMs);
            }
        } else if (!m_bReadyLampLatched) {
            m_bReadyLampLatched = true;
            SetEnableLamp(true);
            SetReadyLamp(false);
            m_frame.WriteOutputs();
            WriteLog("Detector 2 ready");
            m_frame.CreateMessageFile(kMsgDetectorReady);
        }
    } else if (nState == ORVIACQ_AEC_DISABLED && !m_bImageBusy && m_nTriggerMode != kTriggerUsb) {
        WriteLog("Ready LED ON (Not 6:USB mode),Atfer AecInfoCallback");
        SetReadyLamp(true);
        SetEnableLamp(false);
        m_frame.WriteOutputs();
    }
    // The X-ray has been taken: the frame is being read out. The detector
    // also reports this when it stops waiting without an X-ray: a frame that
    // does not follow soon is said to be missing.
    if (nState == ORVIACQ_AEC_DISABLED && !m_bImageBusy && m_bWaitingForXray) {
        m_progress = Progress::Reading;
        m_nProgressDue = m_frame.Timers().now_ms() + static_cast<uint32_t>(kReadingLimitMs);
        m_frame.StartTimer(TIMER_PROGRESS, kReadingLimitMs);
        ShowProgress(kProgressReading);
    }

    char sz[128];
    std::snprintf(sz, sizeof sz, "%s Delay time:%5d(ms)", szState,
                  static_cast<int>(Acquisition_GetInnerDelayTime(hDetector)));
    WriteLog(sz);
    m_frame.Ui().SetStatusText(4, sz);
}

}  // namespace orvi
