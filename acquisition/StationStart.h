#pragma once
// The start-up both front ends (orvi-manager, orvi-station) run, in the order
// the application object runs it: the single-instance lock first, then the
// frame's creation (its configuration and log), the program folder and the
// image store. Each front end maps the outcome to its own exit code.
#include <string>

namespace orvi {

class CMainFrame;
struct CAppValues;

inline constexpr const char* kAlreadyRunning = "Application is already running.";

enum class StartOutcome {
    Ok,
    MissingIni,         // the frame showed "ORVI2.ini don`t exist."
    BadConfig,          // the frame showed why the configuration cannot be used
    ImageStoreUnusable  // the image store's configuration cannot be used (shown)
};

// The frame's creation from the program folder, then the image store.
StartOutcome StartFrame(CMainFrame& frame, CAppValues& app, const std::string& strProgramDir);

}  // namespace orvi
