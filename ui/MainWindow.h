#pragma once
// The main window of the station: it hosts the controller (CMainFrame) and
// implements the controller's UI port with widgets. The image view fills the
// client area between the control panel, docked on the right, and the status
// bar. The panel's commands go to the controller; the dialogs the controller
// asks for are shown here.
#include "acquisition/MainFrame.h"
#include "acquisition/SimulatorControls.h"
#include "acquisition/UiPort.h"
#include "export/dicom/DicomSink.h"
#include "ui/ConfigDlg.h"
#include "ui/QtMainThreadExecutor.h"

#include <QMainWindow>
#include <QPointer>

#include <memory>
#include <optional>

class QLabel;

namespace orvi {

class CCalibrationDlg;
class CChildView;
class CMeridStatusBar;
class CPatientBox;
class CNetworkStation;
class CRoomPanel;
class CSimulatorBox;
class CToolDlgBar;
class CViewerTools;

class CMainWindow final : public QMainWindow, public IUiPort {
    Q_OBJECT
public:
    // The board library defaults to libPelkio.so's exports; tests pass a recorder.
    CMainWindow(CAppValues& app, ITimerService& timers, CPelkioApi board = PelkioExports(), QWidget* pParent = nullptr);
    ~CMainWindow() override;

    CMainFrame& Frame() { return *m_pFrame; }
    CChildView* View() const { return m_pView; }
    CToolDlgBar* DlgBar() const { return m_pDlgBar; }
    CMeridStatusBar* StatusBar() const { return m_pStatusBar; }
    // The histogram panel, history strip, title and keys of the view.
    CViewerTools* Viewer() const { return m_pViewer; }
    // The open dialogs, or nullptr.
    CConfigDlg* ConfigDlg() const { return m_pConfigWnd; }
    CCalibrationDlg* CalibrationDlg() const { return m_pCalibrationWnd; }
    // The simulated detector's group; nullptr when the library is not the simulator.
    CSimulatorBox* SimulatorBox() const { return m_pSimBox; }
    // The X-ray room dock (lamps, hand switch, generator).
    CRoomPanel* RoomPanel() const { return m_pRoom; }

    // Shows the window maximised. Without a window manager to maximise it
    // (a bare X server), it is first given the screen's available area.
    void ShowMaximisedOnScreen();

    // The simulated detector's settings as the configuration file gives them
    // at Connect (after the frame's creation, which finds the file).
    void LoadSimulatorSettings();
    // The view's settings ([VIEW], the pixel pitch), after the frame's creation.
    void LoadViewSettings();

    // Every exposure also as a DICOM file, with its exposure index in the
    // status bar (after the frame's creation, which finds ORVI2.ini).
    void AttachDicom();
    dicom::CDicomSink* Dicom() const { return m_pDicom.get(); }
    // The Patient dialog: who the next exposures belong to.
    void OnPatient();

    // The hospital network ([DICOM] of ORVI2.ini): its menu, its status text
    // and the outbox, once the frame has found its configuration.
    void StartNetwork();
    CNetworkStation* Network() const { return m_pNetwork; }

    // Open File (1003): the file dialog, then the controller loads the file.
    void OnOpenFile();

    // IUiPort
    void MessageBox(const std::string& strText, const std::string& strCaption) override;
    void MessageBox(const std::string& strText, const std::string& strCaption, MessageIcon eIcon) override;
    void SetStatusText(int32_t nPane, const std::string& strText) override;
    void PanelChanged() override;
    void FocusMakeCalibration() override;
    void SetBusy(bool bBusy) override;
    bool RunAdapterDialog(CAdapterChoice& choice) override;
    void RunCalibrationDialog() override;
    void CalibrationChanged() override;
    void ShowConfigDialog() override;
    void ConfigDialogChanged() override;
    void ConfigDialogDestroyed() override;
    void ExitProgram(int nCode) override;

protected:
    // Closing is refused while the dark timer runs; otherwise the detectors
    // are disconnected first.
    void closeEvent(QCloseEvent* pEvent) override;
    // Wheel turns over the frame outside the view (the panel, the status bar)
    // zoom the image, as turns over the view do.
    void wheelEvent(QWheelEvent* pEvent) override;

private:
    // The one place where the panel meets the controller: its flags, its
    // command signals (one per id) and the two selector notifications.
    void ConnectPanelToController();
    void OnConnectCommand();
    // Tells every open simulated detector the simulator group's settings.
    void ApplySimulatorSettings();

    std::unique_ptr<CMainFrame> m_pFrame;
    CChildView* m_pView = nullptr;
    CToolDlgBar* m_pDlgBar = nullptr;
    CMeridStatusBar* m_pStatusBar = nullptr;
    CViewerTools* m_pViewer = nullptr;
    QPointer<CConfigDlg> m_pConfigWnd;
    CCalibrationDlg* m_pCalibrationWnd = nullptr;
    CSimulatorControls m_sim;
    CSimulatorBox* m_pSimBox = nullptr;
    // The DICOM writer's outcomes come back to the window thread through it.
    CQtMainThreadExecutor m_dicomExecutor;
    std::unique_ptr<dicom::CDicomSink> m_pDicom;
    CPatientBox* m_pPatientBox = nullptr;
    QLabel* m_pExposureIndex = nullptr;
    CNetworkStation* m_pNetwork = nullptr;
    CRoomPanel* m_pRoom = nullptr;
};

}  // namespace orvi
