#pragma once
// The main window of the station: it hosts the controller (CMainFrame) and
// implements the controller's UI port with widgets.
#include "acquisition/MainFrame.h"
#include "acquisition/UiPort.h"

#include <QLabel>
#include <QMainWindow>

#include <array>
#include <memory>

namespace orvi {

class CMainWindow final : public QMainWindow, public IUiPort {
    Q_OBJECT
public:
    CMainWindow(CAppValues& app, ITimerService& timers, QWidget* pParent = nullptr);
    ~CMainWindow() override;

    CMainFrame& Frame() { return *m_pFrame; }

    // IUiPort
    void MessageBox(const std::string& strText, const std::string& strCaption) override;
    void SetStatusText(int32_t nPane, const std::string& strText) override;

private:
    std::unique_ptr<CMainFrame> m_pFrame;
    std::array<QLabel*, 5> m_panes{};
};

}  // namespace orvi
