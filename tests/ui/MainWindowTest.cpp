// The main window as the operator sees it: the view between the panel and
// the status bar, the wheel over the frame forwarded to the view, a picture
// with its frame, and the status panes fed by the view.
#include "UiTestSupport.h"
#include "acquisition/VirtualClock.h"
#include "display/AppValues.h"
#include "support/PelkioRecorder.h"
#include "ui/ChildView.h"
#include "ui/MainWindow.h"
#include "ui/MeridStatusBar.h"
#include "ui/RoomPanel.h"
#include "ui/ToolDlgBar.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QWheelEvent>

#include <gtest/gtest.h>

namespace orvi {
namespace {

class MainWindowTest : public ::testing::Test {
protected:
    void Show(int nWidth, int nHeight, int32_t nImageW = 3072, int32_t nImageH = 3072) {
        test::LoadStore(m_app.m_imageStore, nImageW, nImageH,
                        [=](int32_t c, int32_t r) { return test::PhantomPixel(c, r, nImageW, nImageH); });
        m_window.resize(nWidth, nHeight);
        m_window.show();
        QApplication::processEvents();
        m_window.View()->repaint();
    }
    CAppValues m_app;
    CVirtualClock m_clock;
    test::PelkioRecorder m_rec;
    CMainWindow m_window{m_app, m_clock, m_rec.Api()};
};

TEST_F(MainWindowTest, ViewFillsTheAreaBetweenPanelAndStatusBar) {
    Show(1280, 800);
    // In the window's coordinates: the view sits in a container with the history strip.
    const QRect rcView(m_window.View()->mapTo(&m_window, QPoint(0, 0)), m_window.View()->size());
    const QRect rcPanel = m_window.DlgBar()->geometry();
    const QRect rcStatus = m_window.StatusBar()->geometry();
    // The X-ray room's dock, when shown, stands left of the view.
    const QWidget* pRoom = m_window.RoomPanel();
    const int nLeft = pRoom != nullptr && pRoom->isVisible() ? pRoom->geometry().right() + 1 : 0;
    EXPECT_LE(nLeft, rcView.left());
    EXPECT_GE(nLeft + 12, rcView.left()) << "the view reaches the room's dock";
    EXPECT_EQ(rcView.top(), m_window.menuWidget() != nullptr ? m_window.menuWidget()->geometry().bottom() + 1 : 0);
    EXPECT_LE(rcView.right() + 1, rcPanel.left());
    EXPECT_GE(rcView.right() + 12, rcPanel.left()) << "the view reaches the panel";
    EXPECT_EQ(rcPanel.right() + 1, m_window.width());
    EXPECT_LE(rcView.bottom() + 1, rcStatus.top());
    EXPECT_EQ(rcStatus.bottom() + 1, m_window.height());
    EXPECT_EQ(m_window.windowTitle().toStdString(), "ORVI Manager2 ver 8.0.2.3");
}

TEST_F(MainWindowTest, ScreenshotShowsThePictureFramedAndFitted) {
    Show(1920, 1080);
    const QImage shot = m_window.grab().toImage();
    const QString strPath = QDir::current().absoluteFilePath(QStringLiteral("main_window_1920x1080.png"));
    ASSERT_TRUE(shot.save(strPath));
    std::printf("screenshot: %s\n", qPrintable(strPath));

    CChildView* pView = m_window.View();
    const CDispRect rc = pView->DispRect();
    EXPECT_EQ(rc.nW, std::min(pView->width(), pView->height()));
    // The frame's colour just left of the picture, grey inside, black outside.
    const QPoint ptOrigin = pView->mapTo(&m_window, QPoint(rc.nX, rc.nY));
    EXPECT_EQ(shot.pixelColor(ptOrigin + QPoint(-1, rc.nH / 2)), QColor(0, 150, 255));
    const QColor grey = shot.pixelColor(ptOrigin + QPoint(rc.nW / 2, rc.nH / 2));
    EXPECT_EQ(grey.red(), grey.green());
    EXPECT_EQ(grey.red(), grey.blue());
    EXPECT_GT(grey.red(), 0);
    ASSERT_GT(rc.nX, 4);
    EXPECT_EQ(shot.pixelColor(ptOrigin + QPoint(-4, rc.nH / 2)), QColor(Qt::black));
}

TEST_F(MainWindowTest, StatusBarHasFiveFixedPanesWithTheirFirstTexts) {
    Show(1920, 1080);
    CMeridStatusBar* pBar = m_window.StatusBar();
    // Pane 1 holds the ROI's figures.
    const int kWidths[] = {500, 380, 220, 100, 600};
    const char* kTexts[] = {" ", "   ", " ", "   ", ""};
    int nLeft = -1;
    for (int i = 0; i < CMeridStatusBar::kPaneCount; ++i) {
        EXPECT_EQ(pBar->Pane(i)->width(), kWidths[i]) << i;
        EXPECT_EQ(pBar->PaneText(i).toStdString(), kTexts[i]) << i;
        EXPECT_GT(pBar->Pane(i)->x(), nLeft) << "panes left to right";
        nLeft = pBar->Pane(i)->x();
    }
    EXPECT_EQ(pBar->Pane(5), nullptr);
}

TEST_F(MainWindowTest, LongPaneTextsAreClippedAndNeverWidenAnythingNorDoesANarrowWindow) {
    Show(1280, 800);
    m_window.SetStatusText(4, std::string(400, 'x'));
    m_window.SetStatusText(2, "Pos(X:1536 Y:1536 ) Value: 16000 and then a great deal more");
    m_window.SetStatusText(7, "nowhere");
    m_window.SetStatusText(-1, "nowhere");
    QApplication::processEvents();
    CMeridStatusBar* pBar = m_window.StatusBar();
    EXPECT_EQ(pBar->PaneText(4).size(), 400);
    EXPECT_EQ(pBar->Pane(4)->width(), 600);
    EXPECT_EQ(pBar->Pane(2)->width(), 220);
    EXPECT_EQ(m_window.width(), 1280) << "the panes (1468 pixels) do not widen the window";
    EXPECT_LT(m_window.minimumSizeHint().width(), 1280);
}

TEST_F(MainWindowTest, ReadoutReachesPanesTwoAndThreeAndDragFillsTheBoxes) {
    Show(1280, 800);
    CChildView* pView = m_window.View();
    const CDispRect rc = pView->DispRect();
    const QPoint ptCentre(rc.nX + rc.nW / 2, rc.nY + rc.nH / 2);
    test::Move(pView, ptCentre);
    const std::string strPos = m_window.StatusBar()->PaneText(2).toStdString();
    EXPECT_EQ(strPos.rfind("Pos(X:", 0), 0u) << strPos;
    EXPECT_EQ(m_window.StatusBar()->PaneText(3).toStdString().rfind("Original:", 0), 0u);

    test::Press(pView, ptCentre, Qt::RightButton);
    test::Move(pView, ptCentre + QPoint(-100, 50), Qt::RightButton);
    EXPECT_EQ(m_window.DlgBar()->WidthEdit()->text().toStdString(), std::to_string(16383 - 600));
    EXPECT_EQ(m_window.DlgBar()->LevelEdit()->text().toStdString(), std::to_string(8191 + 300));
    EXPECT_EQ(pView->Lut().m_fWidth, 16383.0f - 600);
}

TEST_F(MainWindowTest, WheelOverThePanelOrTheStatusBarZoomsTheImageAboutThePointer) {
    Show(1280, 800);
    CChildView* pView = m_window.View();
    // A turn over the panel or the status bar is left alone by every widget
    // there, so it reaches the frame (the combo boxes take it only with focus).
    QList<QWidget*> passers = m_window.DlgBar()->findChildren<QWidget*>();
    passers += m_window.StatusBar()->findChildren<QWidget*>();
    passers << m_window.DlgBar() << m_window.StatusBar();
    for (QWidget* w : passers) EXPECT_FALSE(test::Wheel(w, {2, 2}, 120)) << w->metaObject()->className();
    EXPECT_EQ(pView->DispRect(), FitToWindow(pView->width(), pView->height(), 3072, 3072));

    // The frame forwards it to the view, which zooms about the pointer.
    const CDispRect rcStart = pView->DispRect();
    QWidget* pButton = m_window.DlgBar()->Control(CToolDlgBar::IDC_OPEN_FILE);
    const QPoint ptGlobal = pButton->mapToGlobal(QPoint(5, 5));
    const QPoint ptInView = pView->mapFromGlobal(ptGlobal);
    EXPECT_TRUE(test::Wheel(&m_window, m_window.mapFromGlobal(ptGlobal), 120));
    CDispRect rcExpected = rcStart;
    ZoomAtPointer(rcExpected, 3072, 120, ptInView.x(), ptInView.y());
    EXPECT_EQ(pView->DispRect(), rcExpected);
    EXPECT_NE(pView->DispRect(), rcStart);
}

TEST_F(MainWindowTest, PanelShowsTheControllersFlagsAndFocus) {
    Show(1280, 800);
    CToolDlgBar* pPanel = m_window.DlgBar();
    EXPECT_EQ(&pPanel->State(), &m_window.Frame().Panel());
    EXPECT_FALSE(pPanel->Control(CToolDlgBar::IDC_ACQUISITION)->isEnabled());
    CPanelState connected;
    connected.SetConnected();
    m_window.Frame().OverridePanel(connected);
    m_window.PanelChanged();
    EXPECT_FALSE(pPanel->Control(CToolDlgBar::IDC_CONNECT)->isEnabled());
    EXPECT_TRUE(pPanel->Control(CToolDlgBar::IDC_ACQUISITION)->isEnabled());
    IUiPort& ui = m_window;
    ui.FocusMakeCalibration();
    EXPECT_EQ(m_window.focusWidget(), pPanel->Control(CToolDlgBar::IDC_MAKE_CALIBRATION));
}

TEST_F(MainWindowTest, CloseIsRefusedWhileTheDarkTimerRuns) {
    Show(1280, 800);
    m_clock.start(TIMER_DARK, 2000);
    EXPECT_FALSE(m_window.close());
    EXPECT_TRUE(m_window.isVisible());
    m_clock.stop(TIMER_DARK);
    EXPECT_TRUE(m_window.close());
    EXPECT_FALSE(m_window.isVisible());
}

}  // namespace
}  // namespace orvi
