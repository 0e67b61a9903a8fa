// orvi-manager: the operator's station program. It reads no command line.
#include "app/NumberText.h"
#include "app/Startup.h"
#include "ui/AppIcon.h"
#include "ui/Station.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication qapp(argc, argv);
    // The application object took the desktop's locale; numbers stay C.
    orvi::UseCNumericLocale();
    QApplication::setApplicationName(QString::fromUtf8(orvi::kAppTitle));
    QApplication::setWindowIcon(orvi::MakeAppIcon());
    orvi::CStation station;
    if (auto nExit = station.Start(orvi::ComputeProgramDir())) return *nExit;
    return qapp.exec();
}
