// CMainFrame: the acquisition commands, the window timers of the trigger
// modes, and the exposure-control and serial callbacks of the library.
#include "acquisition/MainFrame.h"

#include "app/ConfigKeys.h"
#include "app/EventLog.h"
#include "imaging/MessageFiles.h"
#include "orviacquire/ORVIAcquireLib.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace orvi {

void CMainFrame::ResetSequenceFlags() {
    m_bImageBusy = false;
    m_bReadyLatched = false;
    m_bExpTimerStarted = false;
    m_bExposed = false;
    m_bReadyLampLatched = false;
}

// ---- Commands -------------------------------------------------------------------------

void CMainFrame::OnAcquisition() {
    // Pressed again while armed: the operator is told, and the detector is
    // armed again as before (its countdown starts over).
    const bool bAgain = m_bWaitingForXray;
    if (bAgain) ShowProgress(kProgressAlreadyWaiting);
    m_bWaitingForXray = true;
    m_nAcqMode = ACQ_IMAGE;
    ResetSequenceFlags();
    const int32_t nDelay = ExpDelay();
    const char* szMessage = nullptr;
    if (m_nTriggerMode == kTriggerUsb) {
        // The hand switch arms the detector.
        StartTimer(TIMER_MANUAL_READ, kManualReadFirstMs);
        szMessage = "Manual mode, Click Acqusition ";
        StopProgress();
        if (!bAgain) ShowProgress(kProgressPressSwitch);
    } else if (m_nTriggerMode == kTriggerRepeat) {
        StartTimer(TIMER_PRE_EXPOSURE, m_nRepeatPeriod - nDelay - kRepeatLeadMs);
        StartTimer(TIMER_REPEAT, m_nRepeatPeriod);
        CheckLink(Acquisition_StartAecReady(m_hDetector), m_hDetector);
        szMessage = "Repeat mode, Acqusition start";
        m_nSeriesTotal = m_nRepeatLeft;
        StartSeriesProgress(!bAgain);
    } else {
        StartTimer(TIMER_EXP_DELAY, kExposureLeadMs - nDelay);
        StartTimer(TIMER_PRE_EXPOSURE, kExposureLeadMs - nDelay - 1000);
        CheckLink(Acquisition_StartAecReady(m_hDetector), m_hDetector);
        szMessage = "Click Acqusition";
        StartXrayCountdown(kExposureLeadMs - nDelay, !bAgain);
    }
    WriteLog(szMessage);
}

void CMainFrame::OnDark() {
    if (!CheckLink(Acquisition_StartClearTimeAcquisition(m_hDetector, Acquisition_GetDRConfigSetDelayTime(m_hDetector)),
                   m_hDetector))
        return;
    m_panel.SetDarkRunning(true);
    m_ui.PanelChanged();
    StartTimer(TIMER_DARK, kDarkTimerMs);
    m_uDarkTimer = TIMER_DARK;
    m_ui.SetCloseEnabled(false);
}

void CMainFrame::OnNoClear() { CheckLink(Acquisition_StartAcquisition(m_hDetector), m_hDetector); }

// ---- Timers -----------------------------------------------------------------------------

void CMainFrame::OnTimer(uint32_t nId) {
    if (m_uDarkTimer != 0 && nId == m_uDarkTimer) {
        StopTimer(m_uDarkTimer);
        m_panel.SetDarkRunning(false);
        m_ui.PanelChanged();
        m_ui.SetCloseEnabled(true);
        return;
    }
    switch (nId) {
    case TIMER_BLINK:
        SetConnectionLamp(m_bBlinkPhase);
        m_bBlinkPhase = !m_bBlinkPhase;
        SetEnableLamp(false);
        SetReadyLamp(false);
        WriteOutputs();
        break;
    case TIMER_REPEAT: OnTimerRepeat(); break;
    case TIMER_PRE_EXPOSURE:
        StopTimer(TIMER_PRE_EXPOSURE);
        StartTimer(TIMER_COUNTDOWN, kCountdownTickMs);
        WriteLog("Left 1 second for exposure");
        m_nCountdown = kCountdownTicks;
        break;
    case TIMER_COUNTDOWN: OnTimerCountdown(); break;
    case TIMER_EXP_DELAY:
        StopTimer(TIMER_EXP_DELAY);
        WriteLog("TIMER_EXP_DELAY ON");
        SetReadyLamp(true);
        SetEnableLamp(false);
        WriteOutputs();
        break;
    case TIMER_MANUAL_READ: OnTimerManualRead(); break;
    case TIMER_MANUAL_READ_2: OnTimerManualRead2(); break;
    case TIMER_MANUAL_EXP: OnTimerManualExp(); break;
    case TIMER_READY_TIMEOUT:
        StopTimer(TIMER_READY_TIMEOUT);
        m_board.ReadyTimeout();
        break;
    case TIMER_RUNNING: OnTimerRunning(); break;
    case TIMER_DARK_WAIT: OnTimerDarkWait(); break;
    case TIMER_PROGRESS: OnTimerProgress(); break;
    default: break;
    }
}

void CMainFrame::OnTimerRepeat() {
    --m_nRepeatLeft;
    if (m_nRepeatLeft > 0) {
        m_bReadyLampLatched = false;
        StartTimer(TIMER_PRE_EXPOSURE, m_nRepeatPeriod - ExpDelay() - kRepeatLeadMs);
        if (!CheckLink(Acquisition_StartAecReady(m_hDetector), m_hDetector)) return;
        WriteLog("Prepare[Trigger 7 mode]  ");
        StartSeriesProgress(true);
        return;
    }
    StopTimer(TIMER_REPEAT);
    SetEnableLamp(false);
    SetReadyLamp(false);
    WriteOutputs();
    m_nRepeatLeft = cfg::Read(m_strIniPath, cfg::REPEAT_NUMBER);
    WriteLog("Trigger 7 mode End");
    StopProgress();
    m_bWaitingForXray = false;
    ShowProgress(kProgressSeriesEnded);
}

// ---- Status pane 0 ------------------------------------------------------------------

void CMainFrame::ShowProgress(const std::string& strText) {
    // A repeat of the text shown says nothing new (the readout is reported
    // both when the X-ray ends and when the frame arrives).
    if (strText == m_strProgressShown) return;
    m_strProgressShown = strText;
    m_ui.SetStatusText(0, strText);
    // The calibration dialog shows the progress of its own frames.
    if (m_nAcqMode == ACQ_BRIGHT || m_nAcqMode == ACQ_DARK) {
        m_dlgCalibration.m_strProgress = strText;
        m_dlgCalibration.Changed();
    }
}

void CMainFrame::StartWaitingProgress(int32_t nDueMs) {
    m_bWaitingForXray = true;
    if (nDueMs >= 0) {
        StartXrayCountdown(nDueMs, true);
        return;
    }
    StopProgress();
    ShowProgress(kProgressPressSwitch);
}

void CMainFrame::StopProgress() {
    StopTimer(TIMER_PROGRESS);
    m_progress = Progress::None;
}

void CMainFrame::StartXrayCountdown(int32_t nDueMs, bool bShowNow) {
    m_progress = Progress::Xray;
    m_nProgressDue = m_timers.now_ms() + static_cast<uint32_t>(nDueMs > 0 ? nDueMs : 0);
    StartTimer(TIMER_PROGRESS, kProgressTickMs);
    if (bShowNow) ShowXrayCountdown();
}

void CMainFrame::StartSeriesProgress(bool bShowNow) {
    m_progress = Progress::Series;
    m_nProgressDue = m_timers.now_ms() + static_cast<uint32_t>(m_nRepeatPeriod > 0 ? m_nRepeatPeriod : 0);
    StartTimer(TIMER_PROGRESS, kProgressTickMs);
    if (bShowNow) ShowSeriesProgress();
}

void CMainFrame::OnTimerProgress() {
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
        StopTimer(TIMER_PROGRESS);
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
void CMainFrame::ShowXrayCountdown() {
    const int32_t nSeconds = SecondsLeft(m_timers.now_ms(), m_nProgressDue);
    if (nSeconds <= 0) {
        StopProgress();
        ShowProgress(kProgressXrayNow);
        return;
    }
    ShowProgress("X-ray in " + std::to_string(nSeconds) + " s");
}

// "Series 2 of 5, next in 4 s"; the last arming says when the series ends.
void CMainFrame::ShowSeriesProgress() {
    const int32_t nSeconds = SecondsLeft(m_timers.now_ms(), m_nProgressDue);
    if (nSeconds <= 0) return;  // the series' own timer moves on now
    const int32_t nTotal = m_nSeriesTotal > 0 ? m_nSeriesTotal : 1;
    const int32_t nIndex = std::max(1, std::min(nTotal, nTotal - m_nRepeatLeft + 1));
    ShowProgress("Series " + std::to_string(nIndex) + " of " + std::to_string(nTotal) +
                 (nIndex < nTotal ? ", next in " : ", ends in ") + std::to_string(nSeconds) + " s");
}

// "Saved IMAGE.RAW 14:03:22": the file's name and the time it was written.
void CMainFrame::ShowSaved(const std::string& strWhat) {
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    char sz[16];
    std::snprintf(sz, sizeof sz, "%02d:%02d:%02d", tm.tm_hour, tm.tm_min, tm.tm_sec);
    ShowProgress("Saved " + strWhat + " " + sz);
}

void CMainFrame::OnTimerCountdown() {
    --m_nCountdown;
    SetEnableLamp(m_bBlinkPhase);
    m_bBlinkPhase = !m_bBlinkPhase;
    if (m_nCountdown > 0) {
        WriteOutputs();
        return;
    }
    StopTimer(TIMER_COUNTDOWN);
    WriteLog("Delay - ready on ");
    // The repeat series shows the ready lamp at the end of each countdown.
    SetReadyLamp(m_nTriggerMode == kTriggerRepeat);
    SetEnableLamp(false);
    WriteOutputs();
}

// Polling the hand switch's ready stage (mode 6).
void CMainFrame::OnTimerManualRead() {
    if (m_board.m_nBoardCount == 0) {
        StopTimer(TIMER_MANUAL_READ);
        WriteLog("USB is disconnected");
        return;
    }
    const CHandSwitchState sw = m_board.ReadInputs();
    SetReadyOutput(sw.bReady);
    SetReadyLamp(sw.bReady);
    WriteOutputs();
    if (sw.bReady && !m_bReadyLatched) {
        m_bReadyLatched = true;
        StartTimer(TIMER_MANUAL_READ_2, kReadyConfirmMs);
        WriteLog("TIMER_MANUAL_READ::Pressed ready ");
    }
}

// Half a second after the first press: still held arms the detector.
void CMainFrame::OnTimerManualRead2() {
    StopTimer(TIMER_MANUAL_READ);
    StopTimer(TIMER_MANUAL_READ_2);
    const CHandSwitchState sw = m_board.ReadInputs();
    SetReadyOutput(sw.bReady);
    SetReadyLamp(sw.bReady);
    WriteOutputs();
    if (sw.bReady) {
        if (!CheckLink(Acquisition_StartAecReady(m_hDetector), m_hDetector)) return;
        m_bExpTimerStarted = false;
        WriteLog("TIMER_MANUAL_READ_2::Prepare ");
        StartTimer(TIMER_READY_TIMEOUT, kReadyTimeoutMs);
        ShowProgress(kProgressSwitchArmed);
    } else {
        WriteLog("TIMER_MANUAL_READ_2::release ready ");
        ShowProgress(kProgressPressSwitch);
        m_bReadyLatched = false;
        StartTimer(TIMER_MANUAL_READ, kManualReadMs);
    }
}

// Polling ready and expose while the detector takes X-ray (mode 6).
void CMainFrame::OnTimerManualExp() {
    m_bReadyLatched = false;
    if (m_board.m_nBoardCount == 0) {
        StopTimer(TIMER_MANUAL_EXP);
        WriteLog("USB is disconnected");
        return;
    }
    const CHandSwitchState sw = m_board.ReadInputs();
    if (sw.bReady) {
        SetReadyOutput(true);
        SetReadyLamp(true);
        SetExposeOutput(sw.bExpose);
        SetEnableLamp(sw.bExpose);
        if (sw.bExpose) m_bExposed = true;
        WriteOutputs();
        return;
    }
    StopTimer(TIMER_MANUAL_READ);
    StopTimer(TIMER_MANUAL_READ_2);
    StopTimer(TIMER_MANUAL_EXP);
    ReleaseSwitchOutputs();
    WriteOutputs();
    // Let go before exposing: the operator may press again.
    if (!m_bExposed) {
        StartTimer(TIMER_MANUAL_READ, kManualReadMs);
        ShowProgress(kProgressPressSwitch);
    }
}

// The running-time watchdog. No step starts it; when it fires without an
// image on its way, the program ends.
void CMainFrame::OnTimerRunning() {
    StopTimer(TIMER_RUNNING);
    if (m_bImageBusy) {
        WriteLog("Get data within 'RUNNING TIMER'");
        return;
    }
    DeleteMessageFile(kFileConnectionSuccess);
    DeleteMessageFile(kFileDetectorReady);
    DeleteMessageFile(kFileTextIconExposure);
    DeleteMessageFile(kFileImageComing);
    WriteLog("Never get data within'RUNNING TIMER', Exit program");
    SetOutputs(kOutAllOff, g_byOut2);
    WriteOutputs();
    m_ui.ExitProgram(0);
}

// ---- Exposure-control callback ---------------------------------------------------------

void CMainFrame::AecInfoCallback(uint32_t hDetector, int32_t nState, void* /*pUser*/) {
    if (CMainFrame* pFrame = Current()) pFrame->OnAecInfo(hDetector, nState);
}

void CMainFrame::OnAecInfo(uint32_t hDetector, int32_t nState) {
    const char* szState = nState == ORVIACQ_AEC_ENABLED    ? "Exposure enable [E]"
                          : nState == ORVIACQ_AEC_DISABLED ? "Exposure disable [R]"
                                                           : "";
    if (nState == ORVIACQ_AEC_ENABLED && !m_bImageBusy) {
        if (m_nTriggerMode == kTriggerUsb) {
            StopTimer(TIMER_READY_TIMEOUT);
            const CHandSwitchState sw = m_board.ReadInputs();
            if (!sw.bReady) {
                WriteLog("Release ready ,Atfer AecInfoCallback");
                ReleaseSwitchOutputs();
                m_bReadyLatched = false;
                WriteOutputs();
                if (!m_bExpTimerStarted) {
                    m_bExpTimerStarted = true;
                    StartTimer(TIMER_MANUAL_READ, kManualReadMs);
                }
            } else if ((m_nAcqMode == ACQ_IMAGE || m_nAcqMode == ACQ_BRIGHT) && !m_bExpTimerStarted) {
                WriteLog("Start TIMER_MANUAL_EXP ,Atfer AecInfoCallback");
                CreateMessageFile(kMsgDetectorReady);
                m_bExpTimerStarted = true;
                StartTimer(TIMER_MANUAL_EXP, kManualExpMs);
            }
        } else if (!m_bReadyLampLatched) {
            m_bReadyLampLatched = true;
            SetEnableLamp(true);
            SetReadyLamp(false);
            WriteOutputs();
            WriteLog("Detector 2 ready");
            CreateMessageFile(kMsgDetectorReady);
        }
    } else if (nState == ORVIACQ_AEC_DISABLED && !m_bImageBusy && m_nTriggerMode != kTriggerUsb) {
        WriteLog("Ready LED ON (Not 6:USB mode),Atfer AecInfoCallback");
        SetReadyLamp(true);
        SetEnableLamp(false);
        WriteOutputs();
    }
    // The X-ray has been taken: the frame is being read out. The detector
    // also reports this when it stops waiting without an X-ray: a frame that
    // does not follow soon is said to be missing.
    if (nState == ORVIACQ_AEC_DISABLED && !m_bImageBusy && m_bWaitingForXray) {
        m_progress = Progress::Reading;
        m_nProgressDue = m_timers.now_ms() + static_cast<uint32_t>(kReadingLimitMs);
        StartTimer(TIMER_PROGRESS, kReadingLimitMs);
        ShowProgress(kProgressReading);
    }

    char sz[128];
    std::snprintf(sz, sizeof sz, "%s Delay time:%5d(ms)", szState,
                  static_cast<int>(Acquisition_GetInnerDelayTime(hDetector)));
    WriteLog(sz);
    m_ui.SetStatusText(4, sz);
}

// ---- Serial callback -------------------------------------------------------------------

void CMainFrame::ComCallback(uint32_t hDetector, int32_t /*nUnused*/, const uint8_t* pBytes, int32_t nCount,
                             void* pUser) {
    CMainFrame* pFrame = pUser != nullptr ? static_cast<CMainFrame*>(pUser) : Current();
    if (pFrame != nullptr) pFrame->OnComPacket(hDetector, pBytes, nCount);
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

}  // namespace orvi
