// orvi-manager: the operator's station program. It reads no command line.
#include "app/AppValues.h"
#include "app/Startup.h"
#include "ui/MainWindow.h"
#include "ui/QtTimerService.h"

#include <QApplication>
#include <QMessageBox>

int main(int argc, char* argv[]) {
    using namespace orvi;
    QApplication qapp(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(kAppTitle));

    CSingleInstance instance;
    if (!instance.Acquire(kInstanceMutexName)) {
        QMessageBox::information(nullptr, QString::fromUtf8(kAppTitle),
                                 QStringLiteral("Application is already running."));
        return 0;
    }

    CAppValues app;
    CQtTimerService timers;
    CMainWindow window(app, timers);
    switch (window.Frame().OnCreate(ComputeProgramDir())) {
    case CMainFrame::CreateResult::MissingIni: return 0;
    case CMainFrame::CreateResult::BadConfig: return 1;
    case CMainFrame::CreateResult::Ok: break;
    }

    app.m_strProgramDir = ComputeProgramDir();
    app.m_imageStore.Initialize(app);
    if (!window.Frame().AttachImageStore()) return 1;

    window.showMaximized();
    return qapp.exec();
}
