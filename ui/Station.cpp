#include "ui/Station.h"

#include "acquisition/StationStart.h"

#include <QMessageBox>

namespace orvi {

std::optional<int> CStation::Start(const std::string& strProgramDir, const std::string& strLockDir) {
    if (!m_instance.Acquire(kInstanceMutexName, strLockDir)) {
        QMessageBox::warning(nullptr, QString::fromUtf8(kAppTitle), QString::fromUtf8(kAlreadyRunning));
        return 0;
    }

    m_pWindow = std::make_unique<CMainWindow>(m_app, m_timers, m_board);
    switch (StartFrame(m_pWindow->Frame(), m_app, strProgramDir)) {
    case StartOutcome::MissingIni: return 0;
    case StartOutcome::BadConfig: return 1;
    case StartOutcome::ImageStoreUnusable: return 1;
    case StartOutcome::Ok: break;
    }
    m_pWindow->AttachDicom();
    m_pWindow->LoadSimulatorSettings();
    m_pWindow->LoadViewSettings();
    m_pWindow->StartNetwork();

    m_pWindow->ShowMaximisedOnScreen();
    return std::nullopt;
}

}  // namespace orvi
