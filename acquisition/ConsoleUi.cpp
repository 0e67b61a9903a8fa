#include "acquisition/ConsoleUi.h"

#include <cstdio>

namespace orvi {

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

void CConsoleUi::ExposurePathTimed(double dMs) {
    char sz[64];
    std::snprintf(sz, sizeof sz, "%.1f ms from the last dark's arrival to the saved image", dMs);
    Line("exposure path: ", sz);
}

void CConsoleUi::ExitProgram(int nCode) {
    nExitCode = nCode;
    Line("exit: ", std::to_string(nCode));
}

void CConsoleUi::SequenceAborted() { ++nAborted; }

void CConsoleUi::Say(const std::string& strText) { Line("", strText); }

}  // namespace orvi
