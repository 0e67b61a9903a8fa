#pragma once
// The headless station: the controller (CMainFrame) driven from a plan of
// steps instead of buttons, with a console in place of the window. It prints
// every message box, status line and saved file as it happens. A message that
// ends a sequence ends the run, as an operator would stop there; after any
// other message the run goes on (a held exposure is still saved) and fails at
// its end.
#include "acquisition/ConsoleUi.h"
#include "acquisition/HandSwitchDriver.h"
#include "export/dicom/PatientStudy.h"

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace orvi {

struct CStationPlan {
    std::string strProgramDir;  // folder holding ORVI2.ini, ending in '/'
    std::string strLockDir;     // folder of the single-instance lock ("" = the default)
    bool bVirtualTime = false;  // run the simulated detector on virtual time: no waiting
    int32_t nTriggerMode = -1;  // -1: EXT_TRIGGER of ORVI2.ini
    bool bDark = false;         // GET DARK
    bool bCalibrate = false;    // GET BRIGHT: a bright/dark pair
    bool bOpenBeam = false;     // simulated detector: object out of the beam for GET BRIGHT
    bool bMakeBpm = false;      // MAKE BPM after the calibration steps
    int32_t nExposures = 0;     // exposures after the calibration steps
    bool bHandSwitch = false;   // press a simulated board's hand switch as handSwitch says
    CHandSwitchPlan handSwitch;
    int32_t nFireAfterMs = -1;     // simulated generator: X-ray this long after arming (-1: AUTO_FIRE_MS)
    uint32_t nStepTimeoutS = 120;  // the longest a step may take
    dicom::CPatientStudy patient;  // who the exposures belong to (none: anonymous)

    // The hospital network.
    bool bWorklist = false;              // list today's worklist before the exposures
    std::string strWorklistPick;         // accession number of the item the exposures belong to
    std::string strWorklistDate;         // YYYYMMDD, "any", or "" for today
    bool bSend = false;                  // send through the outbox and wait for the acknowledgements
    std::vector<std::string> sendFiles;  // DICOM files sent besides the exposures'
    uint32_t nSendTimeoutS = 600;        // the longest --send waits

    bool DetectorSteps() const { return bDark || bCalibrate || bMakeBpm || nExposures > 0; }
    bool NetworkSteps() const { return bWorklist || !strWorklistPick.empty() || bSend; }
};

// Exit codes.
inline constexpr int kStationOk = 0;
inline constexpr int kStationFailed = 1;       // a message box, a step that never ended
inline constexpr int kStationCannotStart = 2;  // already running, no or impossible ORVI2.ini

// Runs the plan; returns the exit code.
int RunStation(const CStationPlan& plan, std::ostream& out);

}  // namespace orvi
