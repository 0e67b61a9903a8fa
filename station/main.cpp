// orvi-station: the station without a screen. It drives the same controller
// as orvi-manager from the command line: connect, calibrate, make the bad
// pixel map, take exposures; it prints what the window would show. Its
// "export" command turns a stored RAW file into a DICOM file.
#include "acquisition/HandSwitchDriver.h"
#include "app/Startup.h"
#include "export/dicom/DxWriter.h"
#include "export/dicom/RawExport.h"
#include "station/StationRun.h"

#include <CLI/CLI.hpp>

#include <iostream>
#include <regex>
#include <string>

namespace {

// The patient options shared by a run and an export.
void AddPatientOptions(CLI::App& app, orvi::dicom::CPatientStudy& p) {
    const auto bodyParts = CLI::Validator(
        [](std::string& s) {
            return orvi::dicom::FindBodyPart(s) ? std::string() : "not one of " + orvi::dicom::BodyPartTerms();
        },
        "BODY PART");
    const auto views = CLI::Validator(
        [](std::string& s) {
            return orvi::dicom::FindViewPosition(s) ? std::string() : "not one of " + orvi::dicom::ViewPositionTerms();
        },
        "VIEW");
    const auto date = CLI::Validator(
        [](std::string& s) { return std::regex_match(s, std::regex("[0-9]{8}")) ? std::string() : "not YYYYMMDD"; },
        "YYYYMMDD");
    app.add_option("--patient-name", p.strPatientName, "Patient's name, Family^Given (default ANONYMOUS)");
    app.add_option("--patient-id", p.strPatientId, "Patient ID (default: one the station makes)");
    app.add_option("--birth-date", p.strBirthDate, "Patient's birth date")->check(date);
    app.add_option("--sex", p.strSex, "Patient's sex: M, F or O")->check(CLI::IsMember({"M", "F", "O"}));
    app.add_option("--accession", p.strAccessionNumber, "Accession number");
    app.add_option("--body-part", p.strBodyPart, "Body part examined: " + orvi::dicom::BodyPartTerms())
        ->check(bodyParts);
    app.add_option("--view-position", p.strViewPosition, "View position: " + orvi::dicom::ViewPositionTerms())
        ->check(views);
}

int Export(const std::string& strProgramDir, orvi::dicom::CExportRequest& r, const std::string& strTransfer,
           const std::string& strUidRoot) {
    // The settings of ORVI2.ini where there is one; the options override them.
    r.settings = orvi::dicom::ReadDicomSettings(strProgramDir + "ORVI2.ini", "");
    if (!r.settings.strProblems.empty()) std::cerr << "ORVI2.ini: " << r.settings.strProblems << " - defaults used\n";
    if (strTransfer == "jpegls") r.settings.transfer = orvi::dicom::ETransfer::JpegLsLossless;
    if (strTransfer == "explicit") r.settings.transfer = orvi::dicom::ETransfer::ExplicitLittleEndian;
    if (!strUidRoot.empty()) r.settings.strUidRoot = strUidRoot;
    orvi::dicom::CExposureIndex ei;
    std::string strError;
    if (!orvi::dicom::ExportRawFile(r, ei, strError)) {
        std::cerr << "export failed: " << strError << "\n";
        return orvi::kStationFailed;
    }
    std::cout << "saved: " << r.strOutFile << "\n"
              << "exposure index: " << orvi::dicom::ExposureIndexText(ei) << "\n";
    return orvi::kStationOk;
}

}  // namespace

int main(int argc, char* argv[]) {
    orvi::CStationPlan plan;
    plan.strProgramDir = orvi::ComputeProgramDir();

    CLI::App app{
        "orvi-station: connect to the detector, calibrate and take exposures without a screen.\n"
        "Steps run in this order: --worklist/--worklist-pick, connect, --dark, --calibrate, --bpm,\n"
        "--exposures, disconnect, --send. With only network steps no detector is connected.\n"
        "Every message box, status line and saved file is printed as it happens. A message\n"
        "that ends a step (a connection, an exposure or a calibration frame that cannot go\n"
        "on) ends the run with exit code 1; after any other message the run goes on and\n"
        "ends with exit code 1."};
    app.add_option("--program-dir", plan.strProgramDir, "Folder of ORVI2.ini (default: the folder of this program)")
        ->check(CLI::ExistingDirectory);
    app.add_flag("--virtual-time", plan.bVirtualTime,
                 "Run on virtual time: the simulated detector's waits take no time");
    app.add_option("-n,--exposures", plan.nExposures, "Number of exposures to take")->check(CLI::Range(0, 10000));
    app.add_option("-t,--trigger", plan.nTriggerMode,
                   "Trigger mode: 0 manual, 1 auto, 6 USB hand switch, 7 repeat (default: EXT_TRIGGER)")
        ->check(CLI::IsMember({0, 1, 6, 7}));
    app.add_flag("--dark", plan.bDark, "GET DARK: take a dark frame alone into the calibration folder");
    app.add_flag("--calibrate", plan.bCalibrate, "GET BRIGHT: take a bright/dark pair into the calibration folder");
    app.add_flag("--open-beam", plan.bOpenBeam, "Simulated detector: take the object out of the beam for --calibrate");
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
    app.add_flag("--worklist", plan.bWorklist,
                 "List the modality worklist (DX, today) of [DICOM] WORKLIST_HOST before the exposures");
    app.add_option(
        "--worklist-pick", plan.strWorklistPick,
        "Take the patient and study of the next exposures from the worklist item with this accession number");
    app.add_option("--worklist-date", plan.strWorklistDate,
                   "Day of the worklist query: YYYYMMDD or \"any\" (default: today)");
    app.add_flag("--send", plan.bSend,
                 "Send the DICOM files through the outbox to [DICOM] PACS_HOST and wait until each is acknowledged;\n"
                 "files left waiting by an earlier run go too");
    app.add_option("--send-file", plan.sendFiles, "A DICOM file to send with --send (repeatable)")
        ->check(CLI::ExistingFile);
    app.add_option("--send-timeout", plan.nSendTimeoutS, "Seconds --send waits for the acknowledgements (default 600)")
        ->check(CLI::Range(1, 86400));
    AddPatientOptions(app, plan.patient);

    orvi::dicom::CExportRequest request;
    std::string strTransfer, strUidRoot;
    CLI::App* pExport = app.add_subcommand(
        "export",
        "Write a RAW file as a DICOM file: a headerless image with --width and --height, or an image of\n"
        "the history (its .json sidecar gives the size). Settings come from ORVI2.ini where present.");
    pExport->add_option("raw", request.strRawFile, "The RAW file")->required()->check(CLI::ExistingFile);
    pExport->add_option("--width", request.nWidth, "Pixels per row")->check(CLI::Range(1, 65535));
    pExport->add_option("--height", request.nHeight, "Rows")->check(CLI::Range(1, 65535));
    pExport->add_option("-o,--output", request.strOutFile, "The DICOM file to write")->required();
    pExport->add_option("--transfer", strTransfer, "explicit (default) or jpegls")
        ->check(CLI::IsMember({"explicit", "jpegls"}));
    pExport->add_option("--uid-root", strUidRoot, "Root of the new UIDs (default: UID_ROOT of ORVI2.ini)")
        ->check(CLI::Validator(
            [](std::string& s) { return orvi::dicom::IsValidUidRoot(s) ? std::string() : "not a UID root"; },
            "UID ROOT"));
    AddPatientOptions(*pExport, request.patient);
    CLI11_PARSE(app, argc, argv);
    if (!plan.sendFiles.empty()) plan.bSend = true;

    if (!strHandSwitch.empty()) {
        std::string strError;
        orvi::ParseHandSwitchPlan(strHandSwitch, plan.handSwitch, strError);
        plan.bHandSwitch = true;
    }
    if (!plan.strProgramDir.empty() && plan.strProgramDir.back() != '/') plan.strProgramDir += '/';
    if (pExport->parsed()) return Export(plan.strProgramDir, request, strTransfer, strUidRoot);
    return orvi::RunStation(plan, std::cout);
}
