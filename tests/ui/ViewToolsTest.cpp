// The operator's reading tools on the whole station, offscreen, with the real
// controller and the simulated detector in virtual time: the automatic
// window of a new exposure, the histogram's handles, every key, ROI and
// ruler, the history strip, the title, the guide and pane 0.
#include "StationWindowFixture.h"
#include "display/AutoWindow.h"
#include "imaging/ImageHistory.h"
#include "imaging/RawFile.h"
#include "ui/ChildView.h"
#include "ui/HistogramPanel.h"
#include "ui/HistoryStrip.h"
#include "ui/MeridStatusBar.h"
#include "ui/ViewerTools.h"

#include <QFileDialog>
#include <QLineEdit>
#include <QShortcut>
#include <QTest>

#include <numeric>

namespace orvi::test {
namespace {

using Id = CToolDlgBar::ControlId;

class ViewTools : public StationWindow {
protected:
    void SetUp() override {
        StationWindow::SetUp();
        SetConfig("CALIBRATION", "0");  // no calibration files here
    }
    void SetView(const std::string& strKey, const std::string& strValue) {
        ASSERT_TRUE(WriteProfileText(m_strIni, "VIEW", strKey, strValue));
    }
    // One exposure through the panel's button, up to the saved image.
    void Expose() {
        Click(Id::IDC_ACQUISITION);
        m_clock.advance(20000);
        QApplication::processEvents();
    }
    CChildView* View() { return Window().View(); }
    CWindowLevel Shown() { return {int(View()->Lut().m_fWidth), int(View()->Lut().m_fLevel)}; }
    QString Pane(int n) { return Window().StatusBar()->PaneText(n); }
    // A known picture as Open File would show it: value = column (a ramp).
    void ShowRamp() {
        std::vector<uint16_t> px(size_t(kUiSide) * kUiSide);
        for (size_t i = 0; i < px.size(); ++i) px[i] = uint16_t(1000 + i % kUiSide);
        m_app.m_imageStore.StoreFrame(0, px.data());
        View()->repaint();
        QApplication::processEvents();
    }
    // The client point of an image pixel's centre.
    QPoint At(double fX, double fY) {
        const CDispRect& rc = View()->DispRect();
        return QPoint(int(rc.nX + (fX + 0.5) * rc.nW / kUiSide), int(rc.nY + (fY + 0.5) * rc.nH / kUiSide));
    }
};

TEST_F(ViewTools, ANewExposureGetsItsAutomaticWindowAndTheBoxesFollow) {
    ASSERT_NO_FATAL_FAILURE(CreateAndConnect());
    EXPECT_FALSE(View()->HasImage());
    Expose();
    ASSERT_TRUE(View()->HasImage());
    const CImageStore& s = m_app.m_imageStore;
    const CWindowLevel wl = ComputeAutoWindow(s.Display(), s.m_nDispWidth, s.m_nDispHeight);
    EXPECT_EQ(Shown(), wl);
    EXPECT_LT(wl.nWidth, 16000) << "well inside the 14-bit range";
    EXPECT_EQ(Panel()->WidthEdit()->text().toInt(), wl.nWidth);
    EXPECT_EQ(Panel()->LevelEdit()->text().toInt(), wl.nLevel);
    EXPECT_GT(View()->Histogram().nTotal, 0u);
    // What is on screen, in the title and pane 0.
    EXPECT_TRUE(Window().windowTitle().startsWith(QString::fromUtf8(kFrameTitle) + QStringLiteral(" - IMAGE.RAW ")))
        << Window().windowTitle().toStdString();
    EXPECT_TRUE(Pane(0).startsWith(QStringLiteral("Saved IMAGE.RAW "))) << Pane(0).toStdString();
    EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "the busy pointer is gone";
    // The right double-click still resets.
    QTest::mouseDClick(View(), Qt::RightButton, {}, View()->rect().center());
    EXPECT_EQ(Shown(), (CWindowLevel{16383, 8191}));
    // "Auto" applies it again.
    Window().Viewer()->HistogramPanel()->AutoButton()->click();
    EXPECT_EQ(Shown(), wl);
}

TEST_F(ViewTools, WithAutoWindowOffTheWindowStays) {
    SetView("AUTO_WINDOW", "0");
    ASSERT_NO_FATAL_FAILURE(CreateAndConnect());
    Expose();
    ASSERT_TRUE(View()->HasImage());
    EXPECT_EQ(Shown(), (CWindowLevel{16383, 8191}));
}

TEST_F(ViewTools, DraggingAHandleOrTheBandMovesWidthAndLevel) {
    ASSERT_NO_FATAL_FAILURE(Create());
    ShowRamp();
    View()->SetWindowLevel(4000, 6000);  // 4000 .. 8000
    CHistogramPlot* pPlot = Window().Viewer()->HistogramPanel()->Plot();
    const int y = pPlot->height() / 2;
    const double fPerPx = 16384.0 / (pPlot->XOfValue(16384) - pPlot->XOfValue(0));
    // The upper handle 20 px right: the upper edge rises, the lower stays.
    int x = int(std::lround(pPlot->XOfValue(8000)));
    ASSERT_EQ(pPlot->GripAt(x), CHistogramPlot::Grip::High);
    QTest::mousePress(pPlot, Qt::LeftButton, {}, QPoint(x, y));
    QTest::mouseMove(pPlot, QPoint(x + 20, y));
    QTest::mouseRelease(pPlot, Qt::LeftButton, {}, QPoint(x + 20, y));
    const int nRise = int(std::lround(20 * fPerPx));
    EXPECT_NEAR(Shown().nWidth, 4000 + nRise, 2);
    EXPECT_NEAR(Shown().nLevel, 6000 + nRise / 2, 2);
    EXPECT_EQ(Panel()->WidthEdit()->text().toInt(), Shown().nWidth) << "the boxes follow the drag";
    // The band 10 px left: the level moves, the width stays.
    const CWindowLevel before = Shown();
    x = int(std::lround(pPlot->XOfValue(before.nLevel)));
    ASSERT_EQ(pPlot->GripAt(x), CHistogramPlot::Grip::Band);
    QTest::mousePress(pPlot, Qt::LeftButton, {}, QPoint(x, y));
    QTest::mouseMove(pPlot, QPoint(x - 10, y));
    QTest::mouseRelease(pPlot, Qt::LeftButton, {}, QPoint(x - 10, y));
    EXPECT_NEAR(Shown().nWidth, before.nWidth, 1);
    EXPECT_NEAR(Shown().nLevel, before.nLevel - 10 * fPerPx, 2);
}

// Every key of the view, from a known window.
struct KeyCase {
    const char* szName;
    int nKey;
    Qt::KeyboardModifiers mods;
    CWindowLevel expected;
};
void PrintTo(const KeyCase& c, std::ostream* os) { *os << c.szName; }

class ViewKeys : public ViewTools, public ::testing::WithParamInterface<KeyCase> {};

TEST_P(ViewKeys, StepWindowAndLevel) {
    ASSERT_NO_FATAL_FAILURE(Create());
    ShowRamp();
    View()->SetWindowLevel(4000, 6000);
    const KeyCase& c = GetParam();
    QTest::keyClick(View(), Qt::Key(c.nKey), c.mods);
    EXPECT_EQ(Shown(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Keys, ViewKeys,
                         ::testing::Values(KeyCase{"Up", Qt::Key_Up, {}, {4000, 6163}},
                                           KeyCase{"Down", Qt::Key_Down, {}, {4000, 5837}},
                                           KeyCase{"ShiftUp", Qt::Key_Up, Qt::ShiftModifier, {4000, 7638}},
                                           KeyCase{"Right", Qt::Key_Right, {}, {4163, 6000}},
                                           KeyCase{"ShiftLeft", Qt::Key_Left, Qt::ShiftModifier, {2362, 6000}},
                                           KeyCase{"Reset", Qt::Key_R, {}, {16383, 8191}}),
                         [](const auto& info) { return std::string(info.param.szName); });

TEST_F(ViewTools, KeysZoomFitOneToOneAndInvertFromAnywhereInTheWindow) {
    ASSERT_NO_FATAL_FAILURE(Create());
    ShowRamp();
    View()->setFocus();
    const CDispRect fitted = View()->DispRect();
    QTest::keyClick(View(), Qt::Key_Plus);
    EXPECT_GT(View()->DispRect().nW, fitted.nW);
    QTest::keyClick(View(), Qt::Key_Minus);
    QTest::keyClick(View(), Qt::Key_Minus);
    EXPECT_LT(View()->DispRect().nW, fitted.nW);
    QTest::keyClick(View(), Qt::Key_1);
    EXPECT_EQ(View()->DispRect().nW, kUiSide) << "one image pixel per screen pixel";
    QTest::keyClick(View(), Qt::Key_F);
    EXPECT_EQ(View()->DispRect(), fitted);
    // A key the focused control leaves alone reaches the view through the window.
    QTest::keyClick(&Window(), Qt::Key_I);
    EXPECT_TRUE(View()->Lut().IsInverted());
    EXPECT_TRUE(Window().Viewer()->HistogramPanel()->InvertButton()->isChecked());
    QTest::keyClick(&Window(), Qt::Key_I);
    EXPECT_FALSE(View()->Lut().IsInverted());
    // Ctrl+O opens the file dialog; the Keys list names every key.
    bool bOpen = false;
    for (QShortcut* p : Window().findChildren<QShortcut*>())
        bOpen = bOpen || p->key() == QKeySequence(Qt::CTRL | Qt::Key_O);
    EXPECT_TRUE(bOpen);
    for (const char* sz : {"Up / Down", "Right / Left", "+ / -", "F\t", "1\t", "I\t", "R\t", "Ctrl+O", "Esc"})
        EXPECT_TRUE(CChildView::KeysText().contains(QString::fromLatin1(sz))) << sz;
}

TEST_F(ViewTools, ShiftDragMeasuresARectangleAndEscClearsIt) {
    ASSERT_NO_FATAL_FAILURE(Create());
    ShowRamp();
    // Columns 10 .. 19, rows 5 .. 14 of the ramp: values 1010 .. 1019.
    QTest::mousePress(View(), Qt::LeftButton, Qt::ShiftModifier, At(10, 5));
    QTest::mouseMove(View(), At(15, 9));
    QTest::mouseMove(View(), At(19, 14));
    QTest::mouseRelease(View(), Qt::LeftButton, Qt::ShiftModifier, At(19, 14));
    const CRoiStats expected{100, 1014.5, std::sqrt(8.25), 1010, 1019};
    EXPECT_EQ(Pane(1).toStdString(), RoiStatsText(expected));
    EXPECT_EQ(View()->toolTip(), Pane(1));
    EXPECT_EQ(View()->DispRect(), View()->DispRect()) << "no pan";
    QTest::keyClick(View(), Qt::Key_Escape);
    EXPECT_EQ(Pane(1), QString());
    EXPECT_EQ(View()->MeasurementText(), QString());
}

TEST_F(ViewTools, CtrlDragMeasuresADistanceInMillimetres) {
    SetConfig("PIXEL_PITCH_UM", "200");
    ASSERT_NO_FATAL_FAILURE(Create());
    ShowRamp();
    const CDispRect before = View()->DispRect();
    QTest::mousePress(View(), Qt::LeftButton, Qt::ControlModifier, At(10, 10));
    QTest::mouseMove(View(), At(100, 130));
    QTest::mouseRelease(View(), Qt::LeftButton, Qt::ControlModifier, At(100, 130));
    EXPECT_EQ(View()->DispRect(), before) << "the ruler does not pan";
    // 90 x 120 pixels apart (to the screen's rounding): 150 px, 30 mm at 200 um.
    const QString strText = Pane(1);
    ASSERT_TRUE(strText.endsWith(QStringLiteral(" mm"))) << strText.toStdString();
    const double fPx = strText.section(QLatin1Char(' '), 0, 0).toDouble();
    const double fMm = strText.section(QLatin1Char(' '), 3, 3).toDouble();
    EXPECT_NEAR(fPx, 150.0, 3.0);
    EXPECT_NEAR(fMm, fPx * 0.2, 0.01);
    // The same from image positions, exactly.
    View()->MeasureRuler(0, 0, 300, 400);
    EXPECT_EQ(Pane(1).toStdString(), "500.0 px  100.00 mm");
}

TEST_F(ViewTools, TheHistoryStripShowsThisRunsImagesAndAClickBringsOneBack) {
    ASSERT_NO_FATAL_FAILURE(CreateAndConnect());
    CHistoryStrip* pStrip = Window().Viewer()->Strip();
    EXPECT_FALSE(pStrip->isVisible());
    Expose();
    const std::vector<uint16_t> first(m_app.m_imageStore.m_pDisplay);
    CPanelState panel = Window().Frame().Panel();
    panel.bAcquisition = true;
    Window().Frame().OverridePanel(panel);
    SetSim("DOSE", "5000");
    Expose();
    ASSERT_EQ(pStrip->count(), 2);
    EXPECT_TRUE(pStrip->isVisible());
    EXPECT_EQ(pStrip->currentRow(), 1);
    EXPECT_FALSE(pStrip->item(0)->icon().isNull());

    // A click on the first shows it again: title and pane 4 say which.
    QTest::mouseClick(pStrip->viewport(), Qt::LeftButton, {}, pStrip->visualItemRect(pStrip->item(0)).center());
    QApplication::processEvents();
    const CHistoryEntry& e = pStrip->Entries()[0];
    EXPECT_TRUE(std::equal(first.begin(), first.end(), m_app.m_imageStore.m_pDisplay.begin()));
    EXPECT_TRUE(Window().windowTitle().contains(QString::fromStdString(e.strName) + QStringLiteral(".RAW")));
    EXPECT_TRUE(Window().windowTitle().endsWith(QStringLiteral("(history)")));
    EXPECT_EQ(Pane(4), QStringLiteral("History: ") + QString::fromStdString(e.strName) + QStringLiteral(".RAW"));

    // An entry whose file went is refused in words.
    std::filesystem::remove(e.strRawPath);
    MessageBoxCloser closer;
    EXPECT_FALSE(Window().Viewer()->ShowHistoryEntry(0));
    ASSERT_EQ(closer.texts.size(), 1u);
    EXPECT_NE(closer.texts[0].find("no longer in the history"), std::string::npos);
}

TEST_F(ViewTools, OpenFileGetsTheAutomaticWindowAndItsNameInTheTitle) {
    ASSERT_NO_FATAL_FAILURE(Create());
    std::filesystem::create_directories(m_strImageDir);
    // A short file: the field is its 1000 pixels, the zeros after it are border.
    std::vector<uint16_t> px(1000);
    std::iota(px.begin(), px.end(), uint16_t{3000});
    const std::string strFile = m_strImageDir + "PHANTOM.RAW";
    ASSERT_TRUE(WriteRawFile(strFile, px.data(), px.size()));
    WhenModal<QFileDialog> pick([&](QFileDialog* pDlg) {
        pDlg->selectFile(QString::fromStdString(strFile));
        static_cast<QDialog*>(pDlg)->accept();
    });
    Window().OnOpenFile();
    ASSERT_TRUE(pick.bSeen);
    QApplication::processEvents();
    const CImageStore& s = m_app.m_imageStore;
    EXPECT_EQ(Shown(), ComputeAutoWindow(s.Display(), s.m_nDispWidth, s.m_nDispHeight));
    EXPECT_LT(Shown().nWidth, 1000) << "the zero border is not part of the window";
    EXPECT_EQ(Panel()->LevelEdit()->text().toInt(), Shown().nLevel);
    EXPECT_EQ(Window().windowTitle(), QString::fromUtf8(kFrameTitle) + QStringLiteral(" - PHANTOM.RAW"));
}

TEST_F(ViewTools, TheEmptyViewGuidesUntilTheFirstImage) {
    ASSERT_NO_FATAL_FAILURE(Create());
    EXPECT_EQ(View()->GuideLines().value(0), QStringLiteral("Connect the detector"));
    Click(Id::IDC_CONNECT);
    EXPECT_EQ(View()->GuideLines().value(0), QStringLiteral("Press Acquisition or the hand switch"));
    EXPECT_TRUE(View()->GuideLines().join(QLatin1Char(' ')).contains(QStringLiteral("Open File")));
    EXPECT_FALSE(View()->HasImage());
    ShowRamp();
    EXPECT_TRUE(View()->HasImage()) << "the guide is drawn only before the first image";
}

TEST_F(ViewTools, AcquisitionAgainWhileArmedSaysSoInPaneZero) {
    ASSERT_NO_FATAL_FAILURE(CreateAndConnect());
    Click(Id::IDC_ACQUISITION);
    EXPECT_EQ(Pane(0), QStringLiteral("X-ray in 12 s"));
    m_clock.advance(2000);
    EXPECT_EQ(Pane(0), QStringLiteral("X-ray in 10 s"));
    Click(Id::IDC_ACQUISITION);
    EXPECT_EQ(Pane(0), QStringLiteral("Already waiting for X-ray"));
}

}  // namespace
}  // namespace orvi::test
