#include "ui/Station.h"

#include <QMessageBox>

namespace orvi {

std::optional<int> CStation::Start(const std::string& strProgramDir, const std::string& strLockDir) {
    if (!m_instance.Acquire(kInstanceMutexName, strLockDir)) {
        QMessageBox::warning(nullptr, QString::fromUtf8(kAppTitle),
                             QStringLiteral("Application is already running."));
        return 0;
    }

    m_pWindow = std::make_unique<CMainWindow>(m_app, m_timers, m_board);
    switch (m_pWindow->Frame().OnCreate(strProgramDir)) {
    case CMainFrame::CreateResult::MissingIni: return 0;
    case CMainFrame::CreateResult::BadConfig: return 1;
    case CMainFrame::CreateResult::Ok: break;
    }

    m_app.m_strProgramDir = strProgramDir;
    m_app.m_imageStore.Initialize(m_app);
    if (!m_pWindow->Frame().AttachImageStore()) return 1;
    m_pWindow->AttachDicom();
    m_pWindow->LoadSimulatorSettings();
    m_pWindow->LoadViewSettings();
    m_pWindow->StartNetwork();

    m_pWindow->ShowMaximisedOnScreen();
    return std::nullopt;
}

}  // namespace orvi
