// The main window as the operator sees it: the view between the panel and
// the status bar, the wheel over the frame forwarded to the view, a picture
// with its frame, and the status panes fed by the view.
#include "acquisition/VirtualClock.h"
#include "app/AppValues.h"
#include "ui/ChildView.h"
#include "ui/MainWindow.h"
#include "ui/MeridStatusBar.h"
#include "ui/ToolDlgBar.h"
#include "UiTestSupport.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QWheelEvent>

#include <gtest/gtest.h>

namespace orvi {
namespace {

class MainWindowTest : public ::testing::Test {
protected:
    void Show(int nWidth, int nHeight, int32_t nImageW = 3072, int32_t nImageH = 3072) {
        test::LoadStore(m_app.m_imageStore, nImageW, nImageH, [=](int32_t c, int32_t r) {
            return test::PhantomPixel(c, r, nImageW, nImageH);
        });
        m_window.resize(nWidth, nHeight);
        m_window.show();
        QApplication::processEvents();
        m_window.View()->repaint();
    }
    CAppValues m_app;
    CVirtualClock m_clock;
    CMainWindow m_window{m_app, m_clock};
};

TEST_F(MainWindowTest, ViewFillsTheAreaBetweenPanelAndStatusBar) {
    Show(1280, 800);
    const QRect rcView = m_window.View()->geometry();
    const QRect rcPanel = m_window.DlgBar()->geometry();
    const QRect rcStatus = m_window.StatusBar()->geometry();
    EXPECT_EQ(rcView.left(), 0);
    EXPECT_EQ(rcView.top(), 0);
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
    if (rc.nX > 4) EXPECT_EQ(shot.pixelColor(ptOrigin + QPoint(-4, rc.nH / 2)), QColor(Qt::black));
}

}  // namespace
}  // namespace orvi
