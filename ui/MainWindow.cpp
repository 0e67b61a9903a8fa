#include "ui/MainWindow.h"

#include "acquisition/AdapterLists.h"
#include "app/Startup.h"
#include "ui/AppIcon.h"
#include "ui/CalibrationDlg.h"
#include "ui/ChildView.h"
#include "ui/ConfigDlg.h"
#include "ui/GbeDlg.h"
#include "ui/MeridStatusBar.h"
#include "ui/NetworkStation.h"
#include "ui/PatientDlg.h"
#include "ui/RoomPanel.h"
#include "ui/SimulatorBox.h"
#include "ui/ToolDlgBar.h"
#include "ui/ViewerTools.h"

#include <algorithm>

#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QShortcut>
#include <QStatusBar>
#include <QTreeView>
#include <QWheelEvent>

namespace orvi {

namespace {

// Open File's one filter: the label the operator sees and the RAW files it
// lists (both spellings of the extension, as the file names of the program
// and of other stations use either).
constexpr const char* kOpenFileFilter = "Load files(*.*) (*.RAW *.raw)";

}  // namespace

CMainWindow::CMainWindow(CAppValues& app, ITimerService& timers, CPelkioApi board, QWidget* pParent)
    : QMainWindow(pParent), m_pFrame(std::make_unique<CMainFrame>(app, *this, timers, std::move(board))) {
    setWindowTitle(QString::fromUtf8(kFrameTitle));
    setWindowIcon(MakeAppIcon());
    resize(1280, 800);

    // The view first, then the status bar, then the panel, which hands its
    // width and level boxes to the view's table as it is created.
    m_pView = new CChildView(app.m_imageStore, this, this);
    m_pViewer = new CViewerTools(*this, *m_pFrame, m_pView);
    setCentralWidget(m_pViewer->Central());
    m_pStatusBar = new CMeridStatusBar(this);
    setStatusBar(m_pStatusBar);
    m_pDlgBar = new CToolDlgBar(m_pView, this);
    addDockWidget(Qt::RightDockWidgetArea, m_pDlgBar);
    m_pViewer->Attach(m_pDlgBar, m_pStatusBar);
    m_pViewer->UpdateGuide(m_pFrame->Panel());
    auto* pOpen = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_O), this);
    connect(pOpen, &QShortcut::activated, this, &CMainWindow::OnOpenFile);

    // The simulated detector's controls, only when the library has them.
    m_sim = CSimulatorControls::Lookup();
    if (m_sim.Available()) {
        m_pSimBox = new CSimulatorBox;
        m_pDlgBar->AddFooterGroup(m_pSimBox);
        connect(m_pSimBox, &CSimulatorBox::Changed, this, &CMainWindow::ApplySimulatorSettings);
    }

    // The X-ray room on the left, beside the square picture where the view has
    // room to spare (the panel's column is full); shown at start when a
    // simulator is loaded.
    m_pRoom = new CRoomPanel(*m_pFrame, m_sim, this);
    m_pRoom->widget()->setFixedWidth(m_pDlgBar->widget()->minimumWidth());
    addDockWidget(Qt::LeftDockWidgetArea, m_pRoom);
    m_pRoom->setVisible(m_pRoom->SimulatorLoaded());

    connect(m_pView, &CChildView::StatusText, m_pStatusBar, &CMeridStatusBar::SetPaneText);
    connect(m_pView, &CChildView::WindowLevelShown, m_pDlgBar, &CToolDlgBar::ShowWindowLevel);
    ConnectPanelToController();
}

CMainWindow::~CMainWindow() {
    if (m_pDicom) {
        m_pFrame->RemoveImageSink(m_pDicom.get());
        m_pDicom->Finish();  // no exposure's file is left unwritten
    }
    // The dialogs and the panel let go of the controller's state before it goes.
    delete m_pViewer;
    delete m_pConfigWnd;
    delete m_pRoom;  // it watches the controller's board
    m_pDlgBar->SetState(nullptr);
}

void CMainWindow::ConnectPanelToController() {
    // The panel shows the controller's flags and selections.
    m_pDlgBar->SetState(&m_pFrame->Panel());
    CToolDlgBar* p = m_pDlgBar;
    CMainFrame* f = m_pFrame.get();
    connect(p, &CToolDlgBar::ConnectClicked, this, &CMainWindow::OnConnectCommand);
    connect(p, &CToolDlgBar::DisconnectClicked, this, [f] { f->OnDisconnect(); });
    connect(p, &CToolDlgBar::ShowNetworkWindowClicked, this, [f] { f->OnShowNetworkWindow(); });
    connect(p, &CToolDlgBar::AcquisitionClicked, this, [f] { f->OnAcquisition(); });
    connect(p, &CToolDlgBar::OpenConfigClicked, this, [f] { f->OnOpenConfig(); });
    connect(p, &CToolDlgBar::MakeCalibrationClicked, this, [f] { f->OnMakeCalibration(); });
    connect(p, &CToolDlgBar::OpenFileClicked, this, &CMainWindow::OnOpenFile);
    connect(p, &CToolDlgBar::DarkClicked, this, [f] { f->OnDark(); });
    connect(p, &CToolDlgBar::GainClicked, this, [f] { f->OnGain(); });
    connect(p, &CToolDlgBar::DefectClicked, this, [f] { f->OnDefect(); });
    connect(p, &CToolDlgBar::NoClearClicked, this, [f] { f->OnNoClear(); });
    connect(p, &CToolDlgBar::SaveAdapterClicked, this, [f] { f->OnSaveAdapter(); });
    connect(p, &CToolDlgBar::OffsetSelectionChanged, this, [f](int i) { f->OnOffsetSelChange(i); });
    connect(p, &CToolDlgBar::DetectorSelectionChanged, this, [f](int i) { f->OnDetectorSelChange(i); });
}

void CMainWindow::AttachDicom() {
    if (m_pDicom) return;
    m_pDicom = std::make_unique<dicom::CDicomSink>(*this, m_pFrame->Settings().m_strIniPath,
                                                   m_pFrame->Settings().m_strImagePath, m_dicomExecutor);
    // The window on screen as the view's table holds it now: the image was
    // handed to the view (and got its automatic window) before the sinks run,
    // while the panel's boxes follow only after.
    m_pDicom->SetWindowSource([this]() -> std::optional<dicom::CWindow> {
        const CWLLUT& lut = m_pView->Lut();
        if (!lut.IsValid()) return std::nullopt;
        return dicom::CWindow{double(int(lut.m_fLevel)), double(std::max(1, int(lut.m_fWidth)))};
    });
    m_pExposureIndex = new QLabel;
    // Wide enough for the longest verdict, so the panes beside it never squeeze it away.
    m_pExposureIndex->setMinimumWidth(
        m_pExposureIndex->fontMetrics().horizontalAdvance("EI 99999 DI +10.0: underexposed, consider a repeat") + 16);
    statusBar()->addPermanentWidget(m_pExposureIndex);
    m_pDicom->SetExposureIndexListener([this](const dicom::CExposureIndex& ei) {
        const unsigned nRgb = ei.bDeviationValid ? dicom::DoseLevelColour(dicom::ClassifyDeviation(ei.dDI)) : 0x606060;
        ShowExposureIndex(m_pExposureIndex, QString::fromStdString(dicom::ExposureIndexText(ei)), nRgb);
    });
    m_pFrame->AddImageSink(m_pDicom.get());
    m_pPatientBox = new CPatientBox;
    m_pDlgBar->AddFooterGroup(m_pPatientBox);
    connect(m_pPatientBox, &CPatientBox::EditClicked, this, &CMainWindow::OnPatient);
}

void CMainWindow::OnPatient() {
    if (!m_pDicom) return;
    CPatientDlg dlg(m_pDicom->Patient(), this);
    if (dlg.exec() != QDialog::Accepted) return;
    m_pDicom->SetPatient(dlg.Patient());
    m_pPatientBox->ShowPatient(m_pDicom->Patient());
}

void CMainWindow::OnConnectCommand() {
    m_pFrame->OnConnect();
    // The simulator starts every connection from the configuration file: the
    // operator's settings of the simulator group hold for the new detectors.
    ApplySimulatorSettings();
}

void CMainWindow::StartNetwork() {
    if (m_pNetwork != nullptr) return;
    m_pNetwork = new CNetworkStation(this, m_pFrame->Settings().m_strIniPath, m_pFrame->Settings().m_strImagePath);
    menuBar()->addMenu(m_pNetwork->Menu());
    m_pStatusBar->addPermanentWidget(m_pNetwork->StatusLabel());
    // Every DICOM file written goes to the PACS; a worklist choice is who the next exposures belong to.
    if (m_pDicom) {
        CNetworkStation* pNet = m_pNetwork;
        m_pDicom->SetFileListener([pNet](const std::string& strPath) { pNet->OnDicomFileWritten(strPath); });
        connect(pNet, &CNetworkStation::PatientStudyChanged, this, [this, pNet] {
            m_pDicom->SetPatient(pNet->PatientStudy());
            if (m_pPatientBox != nullptr) m_pPatientBox->ShowPatient(m_pDicom->Patient());
        });
    }
}

void CMainWindow::LoadSimulatorSettings() {
    m_pRoom->setVisible(m_pRoom->SimulatorLoaded());  // the simulated boards exist from the frame's creation
    if (m_pSimBox == nullptr || m_pFrame->Settings().m_strIniPath.empty()) return;
    m_pSimBox->SetValues(CSimulatorControls::ConfiguredObjectIn(m_pFrame->Settings().m_strIniPath),
                         CSimulatorControls::ConfiguredDose(m_pFrame->Settings().m_strIniPath));
}

void CMainWindow::LoadViewSettings() {
    if (!m_pFrame->Settings().m_strIniPath.empty()) m_pViewer->LoadSettings(m_pFrame->Settings().m_strIniPath);
}

void CMainWindow::ApplySimulatorSettings() {
    if (m_pSimBox == nullptr) return;
    for (uint32_t h : {m_pFrame->DetectorA(), m_pFrame->DetectorB()}) {
        if (h == 0) continue;
        m_sim.SetObjectIn(h, m_pSimBox->ObjectIn());
        m_sim.SetDose(h, m_pSimBox->Dose());
    }
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

// ---- Open File ------------------------------------------------------------------------

void CMainWindow::OnOpenFile() {
    QFileDialog dlg(this);
    dlg.setAcceptMode(QFileDialog::AcceptOpen);
    dlg.setFileMode(QFileDialog::ExistingFiles);
    dlg.setNameFilter(QString::fromLatin1(kOpenFileFilter));
    dlg.setOption(QFileDialog::HideNameFilterDetails);
    // IMAGE_PATH as the file says now: its folder, or the folder of a file.
    const QString strInitial = QString::fromStdString(m_pFrame->FileOpenInitialPath()).trimmed();
    const QFileInfo info(strInitial);
    if (!strInitial.isEmpty() && info.isDir()) {
        dlg.setDirectory(info.absoluteFilePath());
    } else if (!strInitial.isEmpty() && info.dir().exists()) {
        dlg.setDirectory(info.absolutePath());
        dlg.selectFile(info.fileName());
    }
    dlg.resize(dlg.sizeHint().expandedTo(QSize(860, 520)));
    // Qt's own dialog (where the desktop offers none): the size, type and date
    // columns as wide as their texts, the names taking the rest.
    if (auto* pTree = dlg.findChild<QTreeView*>()) {
        QHeaderView* pHeader = pTree->header();
        pHeader->setStretchLastSection(false);
        pHeader->setSectionResizeMode(QHeaderView::ResizeToContents);
        pHeader->setSectionResizeMode(0, QHeaderView::Stretch);
    }
    if (dlg.exec() != QDialog::Accepted) return;
    const QStringList files = dlg.selectedFiles();
    if (files.isEmpty()) return;
    // Several files may be chosen: the first is shown.
    const std::string strPath = QFile::encodeName(files.first()).toStdString();
    const uint64_t nShown = m_pViewer->ImagesShown();
    m_pFrame->OnFileOpen(strPath);
    if (m_pViewer->ImagesShown() != nShown) m_pViewer->ShowingFile(strPath);
}

// ---- IUiPort --------------------------------------------------------------------------

void CMainWindow::MessageBox(const std::string& strText, const std::string& strCaption) {
    MessageBox(strText, strCaption, MessageIcon::Information);
}

void CMainWindow::MessageBox(const std::string& strText, const std::string& strCaption, MessageIcon eIcon) {
    // A busy cursor of a long step does not hide the box's buttons.
    int nCursors = 0;
    while (QApplication::overrideCursor() != nullptr) {
        QApplication::restoreOverrideCursor();
        ++nCursors;
    }
    // Over the window the operator works in (a dialog's Write, the frame's
    // commands), which gets the focus back afterwards.
    QWidget* pOwner = QApplication::activeModalWidget();
    if (pOwner == nullptr) pOwner = QApplication::activeWindow();
    if (pOwner == nullptr && isVisible()) pOwner = this;
    if (eIcon == MessageIcon::Warning)
        QMessageBox::warning(pOwner, QString::fromUtf8(strCaption), QString::fromUtf8(strText));
    else
        QMessageBox::information(pOwner, QString::fromUtf8(strCaption), QString::fromUtf8(strText));
    while (nCursors-- > 0) QApplication::setOverrideCursor(Qt::WaitCursor);
}

void CMainWindow::SetStatusText(int32_t nPane, const std::string& strText) {
    m_pStatusBar->SetPaneText(nPane, QString::fromUtf8(strText));
}

void CMainWindow::PanelChanged() {
    m_pDlgBar->ApplyState();
    m_pViewer->UpdateGuide(m_pFrame->Panel());
}

void CMainWindow::SetBusy(bool bBusy) {
    // Over the whole window while an image is corrected and saved.
    if (bBusy)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else if (QApplication::overrideCursor() != nullptr)
        QApplication::restoreOverrideCursor();
}

void CMainWindow::FocusMakeCalibration() { m_pDlgBar->FocusMakeCalibration(); }

bool CMainWindow::RunAdapterDialog(CAdapterChoice& choice) {
    CGbeDlg dlg(ListNetworkAdapters(), ListSerialPorts(), !m_pFrame->App().m_imageStore.m_strDetectorName2.empty(),
                this);
    if (dlg.exec() != QDialog::Accepted) return false;
    choice = dlg.Choice();
    return true;
}

void CMainWindow::RunCalibrationDialog() {
    // The controller has opened the logic; frames that arrive while the
    // dialog runs update it through CalibrationChanged.
    CCalibrationDlg dlg(m_pFrame->CalibrationDialog(), this);
    m_pCalibrationWnd = &dlg;
    dlg.exec();
    m_pCalibrationWnd = nullptr;
}

void CMainWindow::CalibrationChanged() {
    if (m_pCalibrationWnd != nullptr) m_pCalibrationWnd->Load();
}

void CMainWindow::ShowConfigDialog() {
    if (m_pConfigWnd == nullptr) {
        m_pConfigWnd = new CConfigDlg(*m_pFrame, this);
        // Placed once, centred on the main window's client area, at its own size.
        const QSize size = m_pConfigWnd->size();
        m_pConfigWnd->move(mapToGlobal(QPoint((width() - size.width()) / 2, (height() - size.height()) / 2)));
    }
    m_pConfigWnd->Load();
    m_pConfigWnd->show();
    m_pConfigWnd->raise();
    m_pConfigWnd->activateWindow();
}

void CMainWindow::ConfigDialogChanged() {
    if (m_pConfigWnd != nullptr) m_pConfigWnd->Load();
}

void CMainWindow::ConfigDialogDestroyed() {
    // Exit may come from the dialog's own button: the widget goes once its
    // click has returned.
    if (m_pConfigWnd == nullptr) return;
    m_pConfigWnd->hide();
    m_pConfigWnd->deleteLater();
    m_pConfigWnd = nullptr;
}

void CMainWindow::ExitProgram(int nCode) { QCoreApplication::exit(nCode); }

void CMainWindow::closeEvent(QCloseEvent* pEvent) {
    if (!m_pFrame->CanClose()) {
        pEvent->ignore();
        return;
    }
    m_pFrame->OnClose();
    // The files of the last exposures are written and handed to the outbox
    // before the window goes.
    if (m_pDicom) m_pDicom->Finish();
    pEvent->accept();
}

}  // namespace orvi
