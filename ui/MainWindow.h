#pragma once
// The main window of the station: it hosts the controller (CMainFrame) and
// implements the controller's UI port with widgets. The image view fills the
// client area between the control panel, docked on the right, and the status
// bar. The panel's commands go to the controller; the dialogs the controller
// asks for are shown here.
#include "acquisition/MainFrame.h"
#include "acquisition/SimulatorControls.h"
#include "acquisition/UiPort.h"
#include "ui/ConfigDlg.h"

#include <QMainWindow>
#include <QPointer>

#include <memory>

namespace orvi {

class CCalibrationDlg;
class CChildView;
class CMeridStatusBar;
class CSimulatorBox;
class CToolDlgBar;

class CMainWindow final : public QMainWindow, public IUiPort {
    Q_OBJECT
public:
    // The board library defaults to libPelkio.so's exports; tests pass a recorder.
    CMainWindow(CAppValues& app, ITimerService& timers, CPelkioApi board = PelkioExports(),
                QWidget* pParent = nullptr);
    ~CMainWindow() override;

    CMainFrame& Frame() { return *m_pFrame; }
    CChildView* View() const { return m_pView; }
    CToolDlgBar* DlgBar() const { return m_pDlgBar; }
    CMeridStatusBar* StatusBar() const { return m_pStatusBar; }
    // The open dialogs, or nullptr.
    CConfigDlg* ConfigDlg() const { return m_pConfigWnd; }
    CCalibrationDlg* CalibrationDlg() const { return m_pCalibrationWnd; }
    // The simulated detector's group; nullptr when the library is not the simulator.
    CSimulatorBox* SimulatorBox() const { return m_pSimBox; }

    // Shows the window maximised. Without a window manager to maximise it
    // (a bare X server), it is first given the screen's available area.
    void ShowMaximisedOnScreen();

    // The simulated detector's settings as the configuration file gives them
    // at Connect (after the frame's creation, which finds the file).
    void LoadSimulatorSettings();

    // Open File (1003): the file dialog, then the controller loads the file.
    void OnOpenFile();

    // IUiPort
    void MessageBox(const std::string& strText, const std::string& strCaption) override;
    void MessageBox(const std::string& strText, const std::string& strCaption, MessageIcon eIcon) override;
    void SetStatusText(int32_t nPane, const std::string& strText) override;
    void PanelChanged() override;
    void FocusMakeCalibration() override;
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
    QPointer<CConfigDlg> m_pConfigWnd;
    CCalibrationDlg* m_pCalibrationWnd = nullptr;
    CSimulatorControls m_sim;
    CSimulatorBox* m_pSimBox = nullptr;
};

}  // namespace orvi
