// orvi-station: the station without a screen. It drives the same controller
// as orvi-manager from the command line: connect, calibrate, make the bad
// pixel map, take exposures; it prints what the window would show.
#include "acquisition/HandSwitchDriver.h"
#include "app/Startup.h"
#include "station/StationRun.h"

#include <CLI/CLI.hpp>

#include <iostream>
#include <string>

int main(int argc, char* argv[]) {
    orvi::CStationPlan plan;
    plan.strProgramDir = orvi::ComputeProgramDir();

    CLI::App app{"orvi-station: connect to the detector, calibrate and take exposures without a screen.\n"
                 "Steps run in this order: connect, --dark, --calibrate, --bpm, --exposures, disconnect.\n"
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
    std::string strHandSwitch;
    app.add_option("--hand-switch", strHandSwitch,
                   "Trigger mode 6 on a simulated board: at each exposure press the hand switch through\n"
                   "and 'tap' (let go once the station saw the second stage), 'hold:MS' (let go after\n"
                   "MS ms; under 500 the station does not arm) or 'none' (never press)")
        ->check([](const std::string& s) {
            orvi::CHandSwitchPlan p;
            std::string strError;
            return orvi::ParseHandSwitchPlan(s, p, strError) ? std::string() : strError;
        });
    app.add_option("--fire-after", plan.nFireAfterMs,
                   "Simulated generator: X-ray MS ms after each arming (0 = as soon as the detector is\n"
                   "ready) in place of AUTO_FIRE_MS of ORVI2.ini")
        ->check(CLI::Range(0, 3600000));
    app.add_option("--step-timeout", plan.nStepTimeoutS, "Seconds a step may take (default 120)")
        ->check(CLI::Range(1, 86400));
    CLI11_PARSE(app, argc, argv);

    if (!strHandSwitch.empty()) {
        std::string strError;
        orvi::ParseHandSwitchPlan(strHandSwitch, plan.handSwitch, strError);
        plan.bHandSwitch = true;
    }
    if (!plan.strProgramDir.empty() && plan.strProgramDir.back() != '/') plan.strProgramDir += '/';
    return orvi::RunStation(plan, std::cout);
}
