#include "ui/MainWindow.h"

#include "app/Startup.h"

#include <QMessageBox>
#include <QStatusBar>

namespace orvi {

namespace {
// Status bar panes: width in pixels and initial text.
constexpr struct {
    int nWidth;
    const char* szText;
} kPanes[5] = {{500, " "}, {40, "   "}, {220, " "}, {100, "   "}, {600, ""}};
}  // namespace

CMainWindow::CMainWindow(CAppValues& app, ITimerService& timers, QWidget* pParent)
    : QMainWindow(pParent), m_pFrame(std::make_unique<CMainFrame>(app, *this, timers)) {
    setWindowTitle(QString::fromUtf8(kFrameTitle));
    resize(1280, 800);
    auto* pView = new QWidget(this);
    pView->setAutoFillBackground(true);
    pView->setPalette(QPalette(Qt::black));
    setCentralWidget(pView);
    for (int i = 0; i < 5; ++i) {
        m_panes[i] = new QLabel(QString::fromUtf8(kPanes[i].szText), this);
        m_panes[i]->setFixedWidth(kPanes[i].nWidth);
        m_panes[i]->setFrameShape(QFrame::Panel);
        m_panes[i]->setFrameShadow(QFrame::Sunken);
        statusBar()->addWidget(m_panes[i]);
    }
}

CMainWindow::~CMainWindow() = default;

void CMainWindow::MessageBox(const std::string& strText, const std::string& strCaption) {
    QMessageBox::information(isVisible() ? this : nullptr, QString::fromUtf8(strCaption),
                             QString::fromUtf8(strText));
}

void CMainWindow::SetStatusText(int32_t nPane, const std::string& strText) {
    if (nPane < 0 || nPane >= static_cast<int32_t>(m_panes.size())) return;
    m_panes[nPane]->setText(QString::fromUtf8(strText));
}

}  // namespace orvi
