#include "station/StationRun.h"

#include "acquisition/EventLoopTimerService.h"
#include "acquisition/MainFrame.h"
#include "acquisition/SimulatorControls.h"
#include "acquisition/StationStart.h"
#include "acquisition/VirtualClock.h"
#include "app/EventLog.h"
#include "app/Startup.h"
#include "display/AppValues.h"
#include "export/dicom/DicomSink.h"
#include "orviacquire/ORVIAcquireLib.h"
#include "station/StationNet.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>

namespace orvi {

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
        m_pTimers = &timers;
        m_pFrame = std::make_unique<CMainFrame>(m_app, m_ui, timers);
        m_pFrame->AddImageSink(this);
    }

    int Run() {
        if (!m_instance.Acquire(kInstanceMutexName,
                                m_plan.strLockDir.empty() ? CSingleInstance::DefaultDir() : m_plan.strLockDir)) {
            m_ui.MessageBox(kAlreadyRunning, kAppTitle);
            return kStationCannotStart;
        }
        // Only the network: no detector is connected.
        if (m_plan.NetworkSteps() && !m_plan.DetectorSteps()) return NetworkOnly();
        if (StartFrame(*m_pFrame, m_app, m_plan.strProgramDir) != StartOutcome::Ok) return kStationCannotStart;
        // Every exposure also as a DICOM file, after its RAW file.
        m_pDicom = std::make_unique<dicom::CDicomSink>(m_ui, m_pFrame->Settings().m_strIniPath,
                                                       m_pFrame->Settings().m_strImagePath, m_dicomResults);
        m_pDicom->SetPatient(m_plan.patient);
        m_pFrame->AddImageSink(m_pDicom.get());
        m_ui.Say("program folder " + m_plan.strProgramDir + (m_plan.bVirtualTime ? ", virtual time" : ""));

        CStationNet net(m_plan, m_ui);
        if (m_plan.bWorklist || !m_plan.strWorklistPick.empty())
            if (!net.Worklist()) return kStationFailed;
        // The worklist item picked is who the exposures belong to.
        if (net.Patient().IsSet()) m_pDicom->SetPatient(net.Patient());
        if (m_plan.bSend) {
            if (!net.StartSending()) return kStationFailed;
            m_pDicom->SetFileListener([&net](const std::string& strPath) { net.OnDicomFileWritten(strPath); });
        }
        bool bOk = Steps();
        m_ui.Say("disconnect");
        m_pHandSwitch.reset();
        m_pFrame->OnClose();
        m_pFrame->RemoveImageSink(this);
        if (m_pDicom) {
            m_pFrame->RemoveImageSink(m_pDicom.get());
            // Every exposure's file is written and handed to the outbox
            // before the sending is finished.
            m_pDicom->Finish();
            m_pDicom->SetFileListener(nullptr);
        }
        m_pFrame.reset();
        if (bOk && m_plan.bSend) bOk = net.FinishSending(m_plan.nSendTimeoutS);
        return bOk && m_ui.nMessages == 0 ? kStationOk : kStationFailed;
    }

private:
    int NetworkOnly() {
        m_ui.Say("program folder " + m_plan.strProgramDir + ", network only");
        CStationNet net(m_plan, m_ui);
        if (m_plan.bWorklist || !m_plan.strWorklistPick.empty())
            if (!net.Worklist()) return kStationFailed;
        if (m_plan.bSend) {
            if (!net.StartSending()) return kStationFailed;
            if (!net.FinishSending(m_plan.nSendTimeoutS)) return kStationFailed;
        }
        return kStationOk;
    }

    bool Failed() const { return m_ui.nAborted > 0 || m_ui.nExitCode >= 0; }

    // A finished exposure, from the controller.
    void OnImageAcquired(const AcquiredImagePtr& pImage) override {
        ++m_nImages;
        if (pImage) m_ui.Say("exposure index: " + dicom::ExposureIndexText(pImage->exposureIndex));
    }

    // Runs until pane 4 says "Done" once more (an exposure: until its image is
    // handed over), or a message box stops the run.
    bool WaitDone(const std::string& strStep, bool bImage = false) {
        const int nDone = m_ui.nDone;
        const uint64_t nImages = m_nImages;
        const WaitEnd eEnd = m_runUntil([&] { return (bImage ? m_nImages > nImages : m_ui.nDone > nDone) || Failed(); },
                                        uint64_t{m_plan.nStepTimeoutS} * 1000);
        m_dicomResults.RunPending();  // the DICOM files written meanwhile
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
        if (f.Detector() == 0) {
            m_ui.Say("no detector is configured (COM_NAME_1 and ADAPTER_NAME_1 of ORVI2.ini)");
            return false;
        }
        // The parameter block read after connecting arrives.
        m_runUntil([] { return false; }, 500);
        if (Failed()) return false;
        m_ui.Say(std::string("connected: detector ") + (f.Detector() == f.DetectorA() ? "A" : "B"));
        if (m_plan.nTriggerMode >= 0) f.SetTriggerMode(m_plan.nTriggerMode);
        if (!SetUpRoom()) return false;

        CCalibration& dlg = f.CalibrationDialog();
        if (m_plan.bDark || m_plan.bCalibrate || m_plan.bMakeBpm) f.OnMakeCalibration();
        if (m_plan.bDark) {
            m_ui.Say("GET DARK");
            dlg.OnGetDark();
            if (!WaitDone("GET DARK")) return false;
        }
        if (m_plan.bCalibrate) {
            if (m_plan.bOpenBeam) m_sim.SetObjectIn(f.Detector(), false);
            m_ui.Say("GET BRIGHT");
            dlg.OnGetBright();
            if (m_pHandSwitch) m_pHandSwitch->Press();  // in mode 6 the bright frame waits for the switch too
            const bool bOk = WaitDone("GET BRIGHT");
            if (m_pHandSwitch) m_pHandSwitch->Release();
            if (m_plan.bOpenBeam) m_sim.SetObjectIn(f.Detector(), true);
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
            m_ui.Say("exposure " + std::to_string(i) + " of " + std::to_string(m_plan.nExposures) + ", trigger mode " +
                     std::to_string(f.TriggerMode()));
            f.OnAcquisition();
            if (m_pHandSwitch) m_pHandSwitch->Press();
            const bool bOk = WaitDone("exposure " + std::to_string(i), true);
            if (m_pHandSwitch) m_pHandSwitch->Release();
            if (!bOk) return false;
        }
        return true;
    }

    // The simulated room: the generator's time and the operator at the hand switch.
    bool SetUpRoom() {
        CMainFrame& f = *m_pFrame;
        // The simulator's own calls are looked up, not linked: a real panel's
        // library has none, and the options that need them say so.
        if (m_plan.bOpenBeam && m_plan.bCalibrate && !m_sim.Available()) {
            m_ui.Say(
                "--open-beam: the loaded acquisition library has no AcquisitionSim_SetObjectIn "
                "(it is not the simulator)");
            return false;
        }
        if (m_plan.nFireAfterMs >= 0) {
            if (!m_sim.CanAutoFire()) {
                m_ui.Say(
                    "--fire-after: the loaded acquisition library has no AcquisitionSim_SetAutoFire "
                    "(it is not the simulator)");
                return false;
            }
            // A shot due before the panel is ready is taken when it is: 1 ms means "as soon as ready".
            const int32_t nResult = m_sim.SetAutoFire(f.Detector(), std::max(1, m_plan.nFireAfterMs));
            if (nResult != ORVIACQ_OK) {
                m_ui.Say("--fire-after: the acquisition library refused it (" + std::to_string(nResult) + ")");
                return false;
            }
            m_ui.Say("generator: X-ray " + std::to_string(m_plan.nFireAfterMs) + " ms after each arming");
        }
        const bool bUsb = f.TriggerMode() == kTriggerUsb;
        const bool bPresses = m_plan.bHandSwitch && m_plan.handSwitch.kind != CHandSwitchPlan::Kind::None;
        if (bPresses && !bUsb) m_ui.Say("--hand-switch: the hand switch arms only in trigger mode 6; not pressed");
        if (bPresses && bUsb) {
            // Connect wrote the outputs: the last enumeration says whose boards are open.
            CBoardSimControls sim = CBoardSimControls::Lookup();
            if (f.BoardCount() == 0 || !sim.InUse()) {
                m_ui.Say(
                    "--hand-switch needs the simulated board: set BOARDS=1 in [SIMULATOR] of ORVI2.ini, "
                    "and unplug a real board");
                return false;
            }
            m_pHandSwitch = std::make_unique<CHandSwitchDriver>(f.Board(), *m_pTimers, sim, m_plan.handSwitch);
            m_pHandSwitch->SetOnChange(
                [this](bool bPressed) { m_ui.Say(bPressed ? "hand switch pressed through" : "hand switch let go"); });
        } else if (bUsb && !m_plan.bHandSwitch && (m_plan.nExposures > 0 || m_plan.bCalibrate)) {
            m_ui.Say("trigger mode 6: press the hand switch for each exposure");
        }
        return true;
    }

    CStationPlan m_plan;
    CSingleInstance m_instance;
    CConsoleUi m_ui;
    CSimulatorControls m_sim = CSimulatorControls::Lookup();
    CAppValues m_app;
    std::unique_ptr<CVirtualClock> m_pClock;
    std::unique_ptr<CEventLoopTimerService> m_pLoop;
    RunUntil m_runUntil;
    std::unique_ptr<CMainFrame> m_pFrame;
    CQueuedExecutor m_dicomResults;  // the DICOM writer's outcomes, run between the steps
    std::unique_ptr<dicom::CDicomSink> m_pDicom;
    ITimerService* m_pTimers = nullptr;
    std::unique_ptr<CHandSwitchDriver> m_pHandSwitch;  // destroyed before the frame
    uint64_t m_nImages = 0;
    std::string m_strLastLine;
};

}  // namespace

int RunStation(const CStationPlan& plan, std::ostream& out) {
    CStationRun run(plan, out);
    return run.Run();
}

}  // namespace orvi
