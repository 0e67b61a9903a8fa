#include "ui/MainWindow.h"

#include "app/Startup.h"
#include "ui/ChildView.h"
#include "ui/MeridStatusBar.h"
#include "ui/ToolDlgBar.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>
#include <QWheelEvent>

namespace orvi {

CMainWindow::CMainWindow(CAppValues& app, ITimerService& timers, QWidget* pParent)
    : QMainWindow(pParent), m_pFrame(std::make_unique<CMainFrame>(app, *this, timers)) {
    setWindowTitle(QString::fromUtf8(kFrameTitle));
    resize(1280, 800);

    // The view first, then the status bar, then the panel, which hands its
    // width and level boxes to the view's table as it is created.
    m_pView = new CChildView(app.m_imageStore, this, this);
    setCentralWidget(m_pView);
    m_pStatusBar = new CMeridStatusBar(this);
    setStatusBar(m_pStatusBar);
    m_pDlgBar = new CToolDlgBar(m_pView, this);
    addDockWidget(Qt::RightDockWidgetArea, m_pDlgBar);

    connect(m_pView, &CChildView::StatusText, m_pStatusBar, &CMeridStatusBar::SetPaneText);
    connect(m_pView, &CChildView::WindowLevelShown, m_pDlgBar, &CToolDlgBar::ShowWindowLevel);
    ConnectPanelToController();
}

CMainWindow::~CMainWindow() {
    // The panel outlives the controller's flags by a moment: let it go first.
    m_pDlgBar->SetState(nullptr);
}

void CMainWindow::ConnectPanelToController() {
    // The panel shows the controller's flags and selections.
    m_pDlgBar->SetState(&m_pFrame->m_panel);
    // The panel's commands are connected here with the dialogs: each of its
    // signals ConnectClicked ... SaveAdapterClicked to the command of the same
    // id (OnConnect, OnDisconnect, OnShowNetworkWindow, OnAcquisition,
    // OnOpenConfig, OnMakeCalibration, Open File, OnDark, OnGain, OnDefect,
    // OnNoClear, OnSaveAdapter), OffsetSelectionChanged to OnOffsetSelChange
    // and DetectorSelectionChanged to OnDetectorSelChange.
}

void CMainWindow::ShowMaximisedOnScreen() {
    if (QScreen* pScreen = screen()) setGeometry(pScreen->availableGeometry());
    showMaximized();
    m_pView->setFocus();
}

void CMainWindow::wheelEvent(QWheelEvent* pEvent) {
    m_pView->OnMouseWheel(pEvent->angleDelta().y(), pEvent->globalPosition().toPoint());
    pEvent->accept();
}

void CMainWindow::MessageBox(const std::string& strText, const std::string& strCaption) {
    QMessageBox::information(isVisible() ? this : nullptr, QString::fromUtf8(strCaption),
                             QString::fromUtf8(strText));
}

void CMainWindow::SetStatusText(int32_t nPane, const std::string& strText) {
    m_pStatusBar->SetPaneText(nPane, QString::fromUtf8(strText));
}

void CMainWindow::PanelChanged() { m_pDlgBar->ApplyState(); }

void CMainWindow::FocusMakeCalibration() { m_pDlgBar->FocusMakeCalibration(); }

void CMainWindow::closeEvent(QCloseEvent* pEvent) {
    if (!m_pFrame->CanClose()) {
        pEvent->ignore();
        return;
    }
    m_pFrame->OnClose();
    pEvent->accept();
}

}  // namespace orvi
