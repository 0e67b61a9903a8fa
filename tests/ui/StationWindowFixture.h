#pragma once
// The whole station on screen, offscreen: the main window with the real
// controller and the simulated detector in virtual time (CVirtualClock), the
// board recorded, real files in a temporary program folder.
#include "UiTestSupport.h"
#include "acquisition/LibraryDispatch.h"
#include "acquisition/VirtualClock.h"
#include "app/EventLog.h"
#include "app/Profile.h"
#include "support/PelkioRecorder.h"
#include "support/TestSupport.h"
#include "ui/MainWindow.h"
#include "ui/ToolDlgBar.h"

#include <QApplication>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>

namespace orvi::test {

inline constexpr int32_t kUiSide = 256;  // small frames keep the suite fast

class StationWindow : public ::testing::Test {
protected:
    void SetUp() override {
        m_strIni = m_dir.file("ORVI2.ini");
        m_strImageDir = m_dir.dir() + "images/";
        m_strCalDir = m_dir.dir() + "cal/";
        const std::string strSide = std::to_string(kUiSide);
        WriteFile(m_strIni,
                  "[CONFIG]\n"
                  "IMAGE_PATH=" +
                      m_strImageDir +
                      "\n"
                      "CAL_PATH=" +
                      m_strCalDir +
                      "\n"
                      "IMAGE_NAME=IMAGE.RAW\n"
                      "IMAGE_WIDTH=" +
                      strSide +
                      "\n"
                      "IMAGE_HEIGHT=" +
                      strSide +
                      "\n"
                      "EXT_TRIGGER=1\n"
                      "EXP_DELAY=0\n"
                      "COM_NAME_1=SIMCOM1\n"
                      "ADAPTER_NAME_1=Simulated GigE Adapter 1\n"
                      "[SIMULATOR]\n"
                      "FRAME_WIDTH=" +
                      strSide +
                      "\n"
                      "FRAME_HEIGHT=" +
                      strSide + "\n");
        SetLogPath(m_dir.file(kLogFileName));
    }
    void TearDown() override {
        m_pWindow.reset();
        UninstallLibraryDispatch();
        SetLogPath(kLogFileName);
        g_bWriteLog = 0;
    }

    void SetConfig(const std::string& strKey, const std::string& strValue) {
        ASSERT_TRUE(WriteProfileText(m_strIni, "CONFIG", strKey, strValue));
    }
    void SetSim(const std::string& strKey, const std::string& strValue) {
        ASSERT_TRUE(WriteProfileText(m_strIni, "SIMULATOR", strKey, strValue));
    }
    std::string Ini(const std::string& strKey) const {
        return ReadProfileText(m_strIni, "CONFIG", strKey, "<none>", 512);
    }

    // The start-up of the program, up to the shown window.
    void Create() {
        m_pWindow = std::make_unique<CMainWindow>(m_app, m_clock, m_bBoardLibrary ? PelkioExports() : m_rec.Api());
        ASSERT_EQ(Frame().OnCreate(m_dir.dir()), CMainFrame::CreateResult::Ok);
        m_app.m_strProgramDir = m_dir.dir();
        ASSERT_TRUE(m_app.m_imageStore.Initialize(m_app));
        ASSERT_TRUE(Frame().AttachImageStore());
        m_pWindow->LoadSimulatorSettings();
        m_pWindow->LoadViewSettings();
        m_pWindow->resize(1280, 800);
        m_pWindow->show();
        QApplication::processEvents();
    }
    // Create, then Connect with the panel's button; the parameter block read
    // at Connect arrives.
    void CreateAndConnect() {
        ASSERT_NO_FATAL_FAILURE(Create());
        Click(CToolDlgBar::IDC_CONNECT);
        ASSERT_NE(Frame().Detector(), 0u);
        m_clock.advance(1000);
    }

    // A click on a panel button or box, as the operator gives it.
    void Click(int nId) {
        QWidget* w = Panel()->Control(nId);
        ASSERT_NE(w, nullptr) << nId;
        if (auto* b = qobject_cast<QAbstractButton*>(w)) b->click();
    }
    bool Enabled(int nId) const { return Panel()->Control(nId)->isEnabled(); }

    CMainWindow& Window() { return *m_pWindow; }
    CMainFrame& Frame() { return m_pWindow->Frame(); }
    CToolDlgBar* Panel() const { return m_pWindow->DlgBar(); }

    TempDir m_dir;
    std::string m_strIni;
    std::string m_strImageDir;
    std::string m_strCalDir;
    CVirtualClock m_clock;
    PelkioRecorder m_rec;
    bool m_bBoardLibrary = false;  // Create on libPelkio.so as the program loads it, not on m_rec
    CAppValues m_app;
    std::unique_ptr<CMainWindow> m_pWindow;
};

// Runs fn on the modal dialog of type T once it is open (the caller then
// opens it), and closes it afterwards if fn left it open.
template <typename T>
class WhenModal {
public:
    explicit WhenModal(std::function<void(T*)> fn) : m_fn(std::move(fn)) {
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            auto* pDlg = qobject_cast<T*>(QApplication::activeModalWidget());
            if (pDlg == nullptr) return;
            m_timer.stop();
            bSeen = true;
            m_fn(pDlg);
            if (pDlg->isVisible()) pDlg->reject();
        });
        m_timer.start();
    }
    bool bSeen = false;

private:
    std::function<void(T*)> m_fn;
    QTimer m_timer;
};

}  // namespace orvi::test
