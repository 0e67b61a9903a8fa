#pragma once
// The main window of the station: it hosts the controller (CMainFrame) and
// implements the controller's UI port with widgets. The image view fills the
// client area between the control panel, docked on the right, and the status
// bar.
#include "acquisition/MainFrame.h"
#include "acquisition/UiPort.h"

#include <QMainWindow>

#include <memory>

namespace orvi {

class CChildView;
class CMeridStatusBar;
class CToolDlgBar;

class CMainWindow final : public QMainWindow, public IUiPort {
    Q_OBJECT
public:
    CMainWindow(CAppValues& app, ITimerService& timers, QWidget* pParent = nullptr);
    ~CMainWindow() override;

    CMainFrame& Frame() { return *m_pFrame; }
    CChildView* View() const { return m_pView; }
    CToolDlgBar* DlgBar() const { return m_pDlgBar; }
    CMeridStatusBar* StatusBar() const { return m_pStatusBar; }

    // Shows the window maximised. Without a window manager to maximise it
    // (a bare X server), it is first given the screen's available area.
    void ShowMaximisedOnScreen();

    // IUiPort
    void MessageBox(const std::string& strText, const std::string& strCaption) override;
    void SetStatusText(int32_t nPane, const std::string& strText) override;
    void PanelChanged() override;
    void FocusMakeCalibration() override;

protected:
    // Closing is refused while the dark timer runs; otherwise the detectors
    // are disconnected first.
    void closeEvent(QCloseEvent* pEvent) override;
    // Wheel turns over the frame outside the view (the panel, the status bar)
    // zoom the image, as turns over the view do.
    void wheelEvent(QWheelEvent* pEvent) override;

private:
    // The one place where the panel meets the controller: its flags, and
    // (to come with the dialogs) its command signals, one per id, and the two
    // selector notifications.
    void ConnectPanelToController();

    std::unique_ptr<CMainFrame> m_pFrame;
    CChildView* m_pView = nullptr;
    CToolDlgBar* m_pDlgBar = nullptr;
    CMeridStatusBar* m_pStatusBar = nullptr;
};

}  // namespace orvi
