#pragma once
// The UI port of a console program (the headless station): every message box,
// status line and saved file is printed as it happens.
#include "acquisition/UiPort.h"

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

namespace orvi {

// The console in place of the window: each line starts with the elapsed time.
class CConsoleUi final : public IUiPort {
public:
    explicit CConsoleUi(std::ostream& out) : m_out(out) {}

    void MessageBox(const std::string& strText, const std::string& strCaption) override;
    void SetStatusText(int32_t nPane, const std::string& strText) override;
    void FileSaved(const std::string& strPath) override;
    void ExposurePathTimed(double dMs) override;
    void ExitProgram(int nCode) override;
    void SequenceAborted() override;

    // Prints a line of the station's own.
    void Say(const std::string& strText);
    void SetClock(const std::function<uint32_t()>& fnNowMs) { m_fnNowMs = fnNowMs; }
    // Shown the text of every status line that is not empty.
    void SetStatusObserver(const std::function<void(const std::string&)>& fn) { m_fnStatus = fn; }

    int nMessages = 0;
    int nAborted = 0;  // sequences that ended without their result
    int nDone = 0;     // "Done" in pane 4: an image or a calibration step finished
    int nExitCode = -1;

private:
    void Line(const std::string& strWhat, const std::string& strText);

    std::ostream& m_out;
    std::function<uint32_t()> m_fnNowMs;
    std::function<void(const std::string&)> m_fnStatus;
};

}  // namespace orvi
