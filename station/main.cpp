// orvi-station: the station without a screen. It drives the same controller
// as orvi-manager from the command line: connect, calibrate, make the bad
// pixel map, take exposures; it prints what the window would show.
#include "app/Startup.h"
#include "station/StationRun.h"

#include <CLI/CLI.hpp>

#include <iostream>

int main(int argc, char* argv[]) {
    orvi::CStationPlan plan;
    plan.strProgramDir = orvi::ComputeProgramDir();

    CLI::App app{"orvi-station: connect to the detector, calibrate and take exposures without a screen.\n"
                 "Steps run in this order: --worklist/--worklist-pick, connect, --dark, --calibrate, --bpm,\n"
                 "--exposures, disconnect, --send. With only network steps no detector is connected.\n"
                 "Every message box, status line and saved file is printed as it happens; the first\n"
                 "message box ends the run with exit code 1."};
    app.add_option("--program-dir", plan.strProgramDir,
                   "Folder of ORVI2.ini (default: the folder of this program)")
        ->check(CLI::ExistingDirectory);
    app.add_flag("--virtual-time", plan.bVirtualTime,
                 "Run on virtual time: the simulated detector's waits take no time");
    app.add_option("-n,--exposures", plan.nExposures, "Number of exposures to take")->check(CLI::Range(0, 10000));
    app.add_option("-t,--trigger", plan.nTriggerMode,
                   "Trigger mode: 0 manual, 1 auto, 6 USB hand switch, 7 repeat (default: EXT_TRIGGER)")
        ->check(CLI::IsMember({0, 1, 6, 7}));
    app.add_flag("--dark", plan.bDark, "GET DARK: take a dark frame alone into the calibration folder");
    app.add_flag("--calibrate", plan.bCalibrate,
                 "GET BRIGHT: take a bright/dark pair into the calibration folder");
    app.add_flag("--open-beam", plan.bOpenBeam,
                 "Simulated detector: take the object out of the beam for --calibrate");
    app.add_flag("--bpm", plan.bMakeBpm, "MAKE BPM: build BPM.RAW from the calibration folder");
    app.add_option("--step-timeout", plan.nStepTimeoutS, "Seconds a step may take (default 120)")
        ->check(CLI::Range(1, 86400));
    app.add_flag("--worklist", plan.bWorklist,
                 "List the modality worklist (DX, today) of [DICOM] WORKLIST_HOST before the exposures");
    app.add_option("--worklist-pick", plan.strWorklistPick,
                   "Take the patient and study of the next exposures from the worklist item with this accession number");
    app.add_option("--worklist-date", plan.strWorklistDate, "Day of the worklist query: YYYYMMDD or \"any\" (default: today)");
    app.add_flag("--send", plan.bSend,
                 "Send the DICOM files through the outbox to [DICOM] PACS_HOST and wait until each is acknowledged;\n"
                 "files left waiting by an earlier run go too");
    app.add_option("--send-file", plan.sendFiles, "A DICOM file to send with --send (repeatable)")
        ->check(CLI::ExistingFile);
    app.add_option("--send-timeout", plan.nSendTimeoutS, "Seconds --send waits for the acknowledgements (default 600)")
        ->check(CLI::Range(1, 86400));
    CLI11_PARSE(app, argc, argv);
    if (!plan.sendFiles.empty()) plan.bSend = true;

    if (!plan.strProgramDir.empty() && plan.strProgramDir.back() != '/') plan.strProgramDir += '/';
    return orvi::RunStation(plan, std::cout);
}
