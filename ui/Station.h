#pragma once
// The start-up of the station program up to its shown window, in the order
// the application object runs it: single instance, the frame's creation (its
// configuration and log), the program folder, the image store, the window.
#include "app/Startup.h"
#include "display/AppValues.h"
#include "ui/MainWindow.h"
#include "ui/QtTimerService.h"

#include <memory>
#include <optional>
#include <string>

namespace orvi {

class CStation {
public:
    // The board library defaults to libPelkio.so's exports; tests pass a recorder.
    explicit CStation(CPelkioApi board = PelkioExports()) : m_board(std::move(board)) {}

    // Returns the exit code when the program must end before its window shows
    // (a second copy, a missing or impossible configuration); otherwise the
    // window is shown maximised and the caller runs the event loop.
    std::optional<int> Start(const std::string& strProgramDir,
                             const std::string& strLockDir = CSingleInstance::DefaultDir());

    CMainWindow* Window() { return m_pWindow.get(); }
    CAppValues& App() { return m_app; }

private:
    CPelkioApi m_board;
    CSingleInstance m_instance;
    CAppValues m_app;
    CQtTimerService m_timers;
    std::unique_ptr<CMainWindow> m_pWindow;
};

}  // namespace orvi
