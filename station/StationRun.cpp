#include "station/StationRun.h"

#include "acquisition/EventLoopTimerService.h"
#include "acquisition/MainFrame.h"
#include "acquisition/VirtualClock.h"
#include "app/AppValues.h"
#include "app/EventLog.h"
#include "app/Startup.h"
#include "orviacquire/ORVIAcquireLib.h"

#include <cstdio>
#include <functional>
#include <memory>

namespace orvi {

// ---- Console ----------------------------------------------------------------------

void CConsoleUi::Line(const std::string& strWhat, const std::string& strText) {
    char szTime[32];
    const uint32_t nMs = m_fnNowMs ? m_fnNowMs() : 0;
    std::snprintf(szTime, sizeof szTime, "[%6u.%03u s] ", nMs / 1000, nMs % 1000);
    m_out << szTime << strWhat << strText << std::endl;
}

void CConsoleUi::MessageBox(const std::string& strText, const std::string& strCaption) {
    ++nMessages;
    Line("message (" + strCaption + "): ", strText);
}

void CConsoleUi::SetStatusText(int32_t nPane, const std::string& strText) {
    if (nPane == 4 && strText == "Done") ++nDone;
    if (m_fnStatus && !strText.empty()) m_fnStatus(strText);
    Line("status " + std::to_string(nPane) + ": ", strText);
}

void CConsoleUi::FileSaved(const std::string& strPath) { Line("saved: ", strPath); }

void CConsoleUi::ExitProgram(int nCode) {
    nExitCode = nCode;
    Line("exit: ", std::to_string(nCode));
}

void CConsoleUi::Say(const std::string& strText) { Line("", strText); }

// ---- The run ---------------------------------------------------------------------------

namespace {

// How a wait ended.
enum class WaitEnd {
    Done,      // fnDone() became true
    Idle,      // no timer or task of the station or the library is left: nothing can happen
    TimedOut,  // the time limit passed
};

// Runs the timer service until fnDone(), nothing is left to run, or the time
// limit; the two services differ only in how time passes.
using RunUntil = std::function<WaitEnd(const std::function<bool()>& fnDone, uint64_t nTimeoutMs)>;

RunUntil MakeRunUntil(CVirtualClock* pClock, CEventLoopTimerService* pLoop) {
    if (pLoop != nullptr)
        return [pLoop](const std::function<bool()>& fnDone, uint64_t nTimeoutMs) {
            pLoop->run_until([&] { return fnDone() || pLoop->idle(); }, nTimeoutMs);
            return fnDone() ? WaitEnd::Done : pLoop->idle() ? WaitEnd::Idle : WaitEnd::TimedOut;
        };
    return [pClock](const std::function<bool()>& fnDone, uint64_t nTimeoutMs) {
        const uint64_t nEnd = pClock->now() + nTimeoutMs;
        uint64_t nDue = 0;
        while (!fnDone()) {
            if (!pClock->next_due(nDue)) return WaitEnd::Idle;
            if (nDue > nEnd) return WaitEnd::TimedOut;
            pClock->advance_to(std::max(nDue, pClock->now()));
        }
        return WaitEnd::Done;
    };
}

class CStationRun : private IImageSink {
public:
    ~CStationRun() { SetLogObserver(nullptr); }

    CStationRun(const CStationPlan& plan, std::ostream& out) : m_plan(plan), m_ui(out) {
        if (plan.bVirtualTime)
            m_pClock = std::make_unique<CVirtualClock>();
        else
            m_pLoop = std::make_unique<CEventLoopTimerService>();
        ITimerService& timers = m_pLoop ? static_cast<ITimerService&>(*m_pLoop) : *m_pClock;
        m_ui.SetClock([&timers] { return timers.now_ms(); });
        // The last log or status line, for a step that stops on its own.
        SetLogObserver([this](const std::string& strText) { m_strLastLine = strText; });
        m_ui.SetStatusObserver([this](const std::string& strText) { m_strLastLine = strText; });
        m_runUntil = MakeRunUntil(m_pClock.get(), m_pLoop.get());
        m_pFrame = std::make_unique<CMainFrame>(m_app, m_ui, timers);
        m_pFrame->AddImageSink(this);
    }

    int Run() {
        if (!m_instance.Acquire(kInstanceMutexName,
                                m_plan.strLockDir.empty() ? CSingleInstance::DefaultDir() : m_plan.strLockDir)) {
            m_ui.MessageBox("Application is already running.", kAppTitle);
            return kStationCannotStart;
        }
        if (m_pFrame->OnCreate(m_plan.strProgramDir) != CMainFrame::CreateResult::Ok) return kStationCannotStart;
        m_app.m_strProgramDir = m_plan.strProgramDir;
        m_app.m_imageStore.Initialize(m_app);
        if (!m_pFrame->AttachImageStore()) return kStationCannotStart;
        m_ui.Say("program folder " + m_plan.strProgramDir + (m_plan.bVirtualTime ? ", virtual time" : ""));

        const bool bOk = Steps();
        m_ui.Say("disconnect");
        m_pFrame->OnClose();
        m_pFrame->RemoveImageSink(this);
        m_pFrame.reset();
        return bOk ? kStationOk : kStationFailed;
    }

private:
    bool Failed() const { return m_ui.nMessages > 0 || m_ui.nExitCode >= 0; }

    // A finished exposure, from the controller.
    void OnImageAcquired(const AcquiredImagePtr& /*pImage*/) override { ++m_nImages; }

    // Runs until pane 4 says "Done" once more (an exposure: until its image is
    // handed over), or a message box stops the run.
    bool WaitDone(const std::string& strStep, bool bImage = false) {
        const int nDone = m_ui.nDone;
        const uint64_t nImages = m_nImages;
        const WaitEnd eEnd = m_runUntil(
            [&] { return (bImage ? m_nImages > nImages : m_ui.nDone > nDone) || Failed(); },
            uint64_t{m_plan.nStepTimeoutS} * 1000);
        if (Failed()) return false;
        if (eEnd == WaitEnd::Idle) {
            // The step stopped on its own (no hand-switch board in mode 6, a
            // series that ended): say so, with what the station said last.
            m_ui.Say(strStep + " stopped: nothing left to wait for" +
                     (m_strLastLine.empty() ? std::string() : " (last: " + m_strLastLine + ")"));
            return false;
        }
        if (eEnd == WaitEnd::TimedOut) {
            m_ui.Say(strStep + " did not end within " + std::to_string(m_plan.nStepTimeoutS) + " s");
            return false;
        }
        return true;
    }

    bool Steps() {
        CMainFrame& f = *m_pFrame;
        m_ui.Say("connect");
        f.OnConnect();
        if (Failed()) return false;
        if (f.m_hDetector == 0) {
            m_ui.Say("no detector is configured (COM_NAME_1 and ADAPTER_NAME_1 of ORVI2.ini)");
            return false;
        }
        // The parameter block read after connecting arrives.
        m_runUntil([] { return false; }, 500);
        if (Failed()) return false;
        m_ui.Say(std::string("connected: detector ") + (f.m_hDetector == f.m_hDetectorA ? "A" : "B"));
        if (m_plan.nTriggerMode >= 0) f.m_nTriggerMode = m_plan.nTriggerMode;
        if (f.m_nTriggerMode == kTriggerUsb && (m_plan.nExposures > 0 || m_plan.bCalibrate))
            m_ui.Say("trigger mode 6: press the hand switch for each exposure");

        CCalibration& dlg = f.m_dlgCalibration;
        if (m_plan.bDark || m_plan.bCalibrate || m_plan.bMakeBpm) f.OnMakeCalibration();
        if (m_plan.bDark) {
            m_ui.Say("GET DARK");
            dlg.OnGetDark();
            if (!WaitDone("GET DARK")) return false;
        }
        if (m_plan.bCalibrate) {
            if (m_plan.bOpenBeam) AcquisitionSim_SetObjectIn(f.m_hDetector, 0);
            m_ui.Say("GET BRIGHT");
            dlg.OnGetBright();
            const bool bOk = WaitDone("GET BRIGHT");
            if (m_plan.bOpenBeam) AcquisitionSim_SetObjectIn(f.m_hDetector, 1);
            if (!bOk) return false;
        }
        if (m_plan.bMakeBpm) {
            m_ui.Say("MAKE BPM");
            dlg.OnMakeBpm();
            if (Failed()) return false;
            if (!dlg.m_bMakeBpmEnabled) {
                m_ui.Say("MAKE BPM needs a bright file and a dark file in the calibration folder");
                return false;
            }
        }
        for (int32_t i = 1; i <= m_plan.nExposures; ++i) {
            m_ui.Say("exposure " + std::to_string(i) + " of " + std::to_string(m_plan.nExposures) +
                     ", trigger mode " + std::to_string(f.m_nTriggerMode));
            f.OnAcquisition();
            if (!WaitDone("exposure " + std::to_string(i), true)) return false;
        }
        return true;
    }

    CStationPlan m_plan;
    CSingleInstance m_instance;
    CConsoleUi m_ui;
    CAppValues m_app;
    std::unique_ptr<CVirtualClock> m_pClock;
    std::unique_ptr<CEventLoopTimerService> m_pLoop;
    RunUntil m_runUntil;
    std::unique_ptr<CMainFrame> m_pFrame;
    uint64_t m_nImages = 0;
    std::string m_strLastLine;
};

}  // namespace

int RunStation(const CStationPlan& plan, std::ostream& out) {
    CStationRun run(plan, out);
    return run.Run();
}

}  // namespace orvi
