#pragma once
// CExposureSequencer: the trigger modes. It arms the detector (Acquisition,
// GET BRIGHT, a repeat series), runs the window timers of the four modes,
// follows the detector's exposure-control states and the hand switch, drives
// the lamps through the board, and keeps the exposure's state and what status
// pane 0 says about it. The image reception ends a sequence when a frame
// arrives (FrameArrived) and when it is processed (ImageFinished).
//
// It belongs to a CMainFrame and uses the frame's services (timers, port,
// board, connection, message files).
#include <cstdint>
#include <string>

namespace orvi {

class CMainFrame;
class ICalibrationFrames;

class CExposureSequencer {
public:
    CExposureSequencer(CMainFrame& frame, ICalibrationFrames& calibration);
    CExposureSequencer(const CExposureSequencer&) = delete;
    CExposureSequencer& operator=(const CExposureSequencer&) = delete;

    // The configuration's trigger mode and repeat series, at creation.
    void Configure(int32_t nTriggerMode, int32_t nRepeatNumber, int32_t nRepeatPeriod);

    // ---- Commands -------------------------------------------------------------------

    void OnAcquisition();
    // Dark: asks the detector for a dark frame; false when the link is lost.
    bool StartDark();
    // The dark window of the Dark command (the panel is greyed while it runs).
    void StartDarkTimer();
    bool IsDarkTimer(uint32_t nId) const { return m_uDarkTimer != 0 && nId == m_uDarkTimer; }
    void EndDarkTimer();
    void OnNoClear();
    // GET BRIGHT: the next frame is a bright calibration frame; ArmBright
    // then arms the detector (false: the link is lost).
    void PrepareBright();
    bool ArmBright();
    // GET DARK: the next frame is a dark alone; RequestDarkAlone asks for it
    // (false: the link is lost, and the frame is not expected).
    void PrepareDarkAlone();
    bool RequestDarkAlone(uint16_t& nDelayMs);

    // A new exposure sequence: m_bImageBusy and the hand-switch and lamp
    // flags cleared (Acquisition, GET BRIGHT).
    void ResetSequenceFlags();

    // ---- Timers and the detector's states ----------------------------------------

    // The timers of the trigger modes and of pane 0.
    void OnTimer(uint32_t nId);
    void OnAecInfo(uint32_t hDetector, int32_t nState);

    // A frame arrived: the sequence's timers stop, the lamps and the hand
    // switch's outputs go off, the frame is busy.
    void FrameArrived();
    // The frame is processed: the next exposure may come.
    void ImageFinished() { m_bImageBusy = false; }
    // Disconnect: the pending exposure's timers stop; a repeat series cut
    // short starts full the next time; pane 0 is cleared.
    void StopForDisconnect();
    void ClearPane0AfterDisconnect();
    // The link was lost: the next frame is an exposure again.
    void AbortAfterLinkLost();

    // ---- Status pane 0 -------------------------------------------------------------

    // Pane 0, and the calibration dialog's progress line while a calibration
    // frame is on its way.
    void ShowProgress(const std::string& strText);
    // Pane 0 says something else than progress (the history's problems).
    void ShowOtherText(const std::string& strText);
    bool WaitingForXray() const { return m_bWaitingForXray; }
    // An exposure was armed (GET BRIGHT's too): pane 0 counts down to the
    // ready lamp nDueMs from now, or asks for the hand switch (nDueMs < 0).
    void StartWaitingProgress(int32_t nDueMs);
    void StopProgress();
    // "Saved IMAGE.RAW 14:03:22"
    void ShowSaved(const std::string& strWhat);

    // ---- State ---------------------------------------------------------------------

    int32_t TriggerMode() const { return m_nTriggerMode; }
    void SetTriggerMode(int32_t nMode) { m_nTriggerMode = nMode; }
    int32_t RepeatLeft() const { return m_nRepeatLeft; }
    int32_t RepeatPeriod() const { return m_nRepeatPeriod; }
    int32_t AcqMode() const { return m_nAcqMode; }
    void SetAcqMode(int32_t nMode) { m_nAcqMode = nMode; }
    bool ImageBusy() const { return m_bImageBusy; }
    void SetImageBusy(bool bBusy) { m_bImageBusy = bBusy; }
    bool DarkOnly() const { return m_bDarkOnly; }
    void SetDarkOnly(bool bDarkOnly) { m_bDarkOnly = bDarkOnly; }
    int32_t Countdown() const { return m_nCountdown; }
    bool Exposed() const { return m_bExposed; }

private:
    uint32_t Detector() const;
    // A library result of the current detector: false when its link is lost.
    bool CheckLink(int32_t nResult);
    void OnTimerManualRead();
    void OnTimerManualRead2();
    void OnTimerManualExp();
    void OnTimerRepeat();
    void OnTimerCountdown();
    void OnTimerRunning();
    // Pane 0's countdowns: to the ready lamp (modes 0 and 1, GET BRIGHT) and
    // to the next arming of a repeat series.
    void StartXrayCountdown(int32_t nDueMs, bool bShowNow);
    void StartSeriesProgress(bool bShowNow);
    void OnTimerProgress();
    void ShowXrayCountdown();
    void ShowSeriesProgress();

    CMainFrame& m_frame;
    ICalibrationFrames& m_calibration;

    int32_t m_nTriggerMode = 0;
    int32_t m_nRepeatLeft = 0;
    int32_t m_nRepeatPeriod = 0;

    // The exposure under way.
    int32_t m_nAcqMode = 0;  // ACQ_IMAGE: an exposure
    bool m_bImageBusy = false;
    bool m_bDarkOnly = false;
    int32_t m_nCountdown = 0;
    bool m_bBlinkPhase = false;
    bool m_bReadyLatched = false;
    bool m_bExpTimerStarted = false;
    bool m_bExposed = false;
    bool m_bReadyLampLatched = false;
    uint32_t m_uDarkTimer = 0;

    // Pane 0's countdown: what it counts to (timer-service time).
    enum class Progress { None, Xray, Series, Reading };
    Progress m_progress = Progress::None;
    bool m_bWaitingForXray = false;
    std::string m_strProgressShown;  // pane 0's text as ShowProgress last set it
    uint32_t m_nProgressDue = 0;
    int32_t m_nSeriesTotal = 0;
};

}  // namespace orvi
