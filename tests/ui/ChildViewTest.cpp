// The image view on the offscreen platform: conversion through its table and
// when it happens, fits, wheel zoom, pan, window/level drag and reset, the
// detector flip, the readout texts, and the picture it paints.
#include "UiTestSupport.h"
#include "ui/ChildView.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <map>

namespace orvi {
namespace {

using test::DoubleClick;
using test::Move;
using test::Press;
using test::Release;

// A view of 1000 x 800 on a 300 x 300 image: fitted at 800 x 800, left 100.
class ChildViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::LoadStore(m_store, 300, 300, [](int32_t c, int32_t r) { return uint16_t(c * 50 + r); });
        QObject::connect(&m_view, &CChildView::StatusText,
                         [this](int nPane, const QString& s) { m_panes[nPane] = s.toStdString(); });
        QObject::connect(&m_view, &CChildView::WindowLevelShown, [this](int w, int l) { m_shown = {w, l}; });
        m_view.resize(1000, 800);
        m_view.show();
        QApplication::processEvents();
        m_view.repaint();
    }
    uint8_t Grey(uint16_t nValue) const { return m_view.Lut().Lookup(nValue & 0x3FFF); }

    CImageStore m_store;
    CChildView m_view{m_store};
    std::map<int, std::string> m_panes;
    CWindowLevel m_shown{-1, -1};
};

TEST_F(ChildViewTest, RegistersInTheStoreForItsLifetime) {
    EXPECT_EQ(m_store.m_pView, &m_view);
    {
        CImageStore store;
        {
            CChildView view(store);
            EXPECT_EQ(store.m_pView, &view);
        }
        EXPECT_EQ(store.m_pView, nullptr);
    }
}

TEST_F(ChildViewTest, FirstPaintFitsAndConvertsThroughTheTable) {
    EXPECT_EQ(m_view.DispRect(), (CDispRect{100, 0, 800, 800}));
    EXPECT_EQ(m_store.m_bNewImage, 0);
    EXPECT_FALSE(m_view.Lut().m_bChanged);
    const QImage& img = m_view.GreyImage();
    ASSERT_EQ(img.size(), QSize(300, 300));
    EXPECT_EQ(img.format(), QImage::Format_Grayscale8);
    for (int r : {0, 1, 150, 299})
        for (int c : {0, 7, 200, 299}) EXPECT_EQ(img.constScanLine(r)[c], Grey(uint16_t(c * 50 + r))) << c << "," << r;
}

TEST_F(ChildViewTest, ValuesAbove16383ShowAsTheirLow14Bits) {
    m_store.m_pDisplay[0] = 16384;  // looks like 0
    m_store.m_pDisplay[1] = 16384 + 9000;
    m_view.Lut().SetWindowLevel(10000, 5000);
    m_view.repaint();
    EXPECT_EQ(m_view.GreyImage().constScanLine(0)[0], Grey(0));
    EXPECT_EQ(m_view.GreyImage().constScanLine(0)[1], Grey(9000));
}

TEST_F(ChildViewTest, ReconvertsOnlyWhenTheImageOrTheTableChanged) {
    const uint16_t nOld = m_store.m_pDisplay[0];
    m_store.m_pDisplay[0] = 12000;  // changed without the flag: not converted
    m_view.repaint();
    EXPECT_EQ(m_view.GreyImage().constScanLine(0)[0], Grey(nOld));
    m_store.m_bNewImage = 1;
    m_view.repaint();
    EXPECT_EQ(m_view.GreyImage().constScanLine(0)[0], Grey(12000));
    EXPECT_EQ(m_store.m_bNewImage, 0);

    m_store.m_pDisplay[0] = 3000;
    ASSERT_TRUE(m_view.Lut().SetWindowLevel(4000, 2000));
    m_view.repaint();
    EXPECT_EQ(m_view.GreyImage().constScanLine(0)[0], Grey(3000));
    EXPECT_FALSE(m_view.Lut().m_bChanged);
}

TEST(ChildViewStride, WidthsThatAreNotMultiplesOfFourShowEveryRowInPlace) {
    // 301 x 7: each row its own level, so a row written at the wrong stride shows.
    CImageStore store;
    test::LoadStore(store, 301, 7, [](int32_t c, int32_t r) { return uint16_t(r * 2000 + (c == 300 ? 1000 : 0)); });
    CChildView view(store);
    view.resize(301, 7);
    view.show();
    QApplication::processEvents();
    view.repaint();
    ASSERT_EQ(view.DispRect(), (CDispRect{0, 0, 301, 7}));
    const QImage shot = view.grab().toImage();
    for (int r = 1; r < 7; ++r)
        for (int c : {0, 150, 299, 300}) {
            const int nGrey = view.Lut().Lookup(uint16_t(r * 2000 + (c == 300 ? 1000 : 0)));
            EXPECT_EQ(shot.pixelColor(c, r), QColor(nGrey, nGrey, nGrey)) << c << "," << r;
        }
}

TEST_F(ChildViewTest, PaintsThePictureScaledInsideItsFrameOnBlack) {
    const QImage shot = m_view.grab().toImage();
    // Pixel (150, 150) of the image lies at client (100 + 400, 400).
    const int nGrey = Grey(uint16_t(150 * 50 + 150));
    EXPECT_EQ(shot.pixelColor(501, 401), QColor(nGrey, nGrey, nGrey));
    EXPECT_EQ(shot.pixelColor(99, 400), QColor(0, 150, 255)) << "frame left of the picture";
    EXPECT_EQ(shot.pixelColor(900, 400), QColor(0, 150, 255)) << "frame right of the picture";
    EXPECT_EQ(shot.pixelColor(50, 400), QColor(Qt::black));
    EXPECT_EQ(shot.pixelColor(950, 400), QColor(Qt::black));
}

TEST_F(ChildViewTest, ZoomedAndPannedPictureShowsThePixelUnderEachPoint) {
    // Blocks of 10 x 10 pixels, so the drawn block under a point is clear.
    test::LoadStore(m_store, 300, 300, [](int32_t c, int32_t r) { return uint16_t((c / 10) * 500 + (r / 10) * 7); });
    for (int i = 0; i < 7; ++i) test::Wheel(&m_view, {333, 555}, 120);  // part of the picture off screen
    Press(&m_view, {400, 400}, Qt::LeftButton);
    Move(&m_view, {371, 388}, Qt::LeftButton);
    Release(&m_view, {371, 388}, Qt::LeftButton);
    m_view.repaint();
    const CDispRect rc = m_view.DispRect();
    ASSERT_LT(rc.nX, 0);
    const QImage shot = m_view.grab().toImage();
    int nChecked = 0;
    for (int y = 3; y < 800; y += 37)
        for (int x = 5; x < 1000; x += 41) {
            const CPixelPos p = PointerToPixel(rc, 300, 300, x, y);
            if (p.nColumn < 0 || p.nColumn >= 300 || p.nRow < 0 || p.nRow >= 300) continue;
            if (p.nColumn % 10 < 2 || p.nColumn % 10 > 7 || p.nRow % 10 < 2 || p.nRow % 10 > 7) continue;
            const int g = Grey(uint16_t((p.nColumn / 10) * 500 + (p.nRow / 10) * 7));
            EXPECT_EQ(shot.pixelColor(x, y), QColor(g, g, g)) << x << "," << y;
            ++nChecked;
        }
    EXPECT_GT(nChecked, 100);
}

TEST_F(ChildViewTest, LeftDoubleClickFitsASquare) {
    m_view.resize(800, 1000);
    DoubleClick(&m_view, {400, 500}, Qt::LeftButton);
    EXPECT_EQ(m_view.DispRect(), (CDispRect{0, 100, 800, 800}));
}

TEST_F(ChildViewTest, WheelZoomsAboutThePointerAndShowsTheReadout) {
    test::Wheel(&m_view, {500, 400}, 120);
    EXPECT_EQ(m_view.DispRect(), (CDispRect{60, -40, 880, 880}));
    EXPECT_EQ(m_panes[2].substr(0, 19), "Pos(X: 150 Y: 150 )");
    test::Wheel(&m_view, {500, 400}, -120);
    EXPECT_EQ(m_view.DispRect(), (CDispRect{104, 4, 792, 792}));
}

TEST_F(ChildViewTest, PartsOfANotchAddUpToOneStep) {
    for (int i = 0; i < 3; ++i) test::Wheel(&m_view, {500, 400}, 40);
    EXPECT_EQ(m_view.DispRect(), (CDispRect{60, -40, 880, 880}));
    test::Wheel(&m_view, {500, 400}, 40);
    EXPECT_EQ(m_view.DispRect(), (CDispRect{60, -40, 880, 880})) << "a third of the next notch only";
}

TEST_F(ChildViewTest, ZoomStopsAtItsLimits) {
    for (int i = 0; i < 40; ++i) test::Wheel(&m_view, {500, 400}, 120);
    EXPECT_GT(m_view.DispRect().nW, 9 * 300);
    const CDispRect rcMax = m_view.DispRect();
    test::Wheel(&m_view, {500, 400}, 120);
    EXPECT_EQ(m_view.DispRect(), rcMax);
}

TEST_F(ChildViewTest, LeftDragPansFromAPressInsideThePicture) {
    Press(&m_view, {500, 400}, Qt::LeftButton);
    EXPECT_EQ(m_view.cursor().shape(), Qt::SizeAllCursor);
    Move(&m_view, {530, 420}, Qt::LeftButton);
    EXPECT_EQ(m_view.DispRect(), (CDispRect{130, 20, 800, 800}));
    Release(&m_view, {530, 420}, Qt::LeftButton);
    EXPECT_EQ(m_view.cursor().shape(), Qt::ArrowCursor);
    Move(&m_view, {560, 440});
    EXPECT_EQ(m_view.DispRect(), (CDispRect{130, 20, 800, 800})) << "no button, no pan";
}

TEST_F(ChildViewTest, DragFromOutsideThePictureStartsPanningOnlyOnceInside) {
    Press(&m_view, {50, 400}, Qt::LeftButton);  // left of the picture
    Move(&m_view, {70, 400}, Qt::LeftButton);   // still outside: ignored
    Move(&m_view, {150, 400}, Qt::LeftButton);  // inside: remembered, no pan yet
    EXPECT_EQ(m_view.DispRect(), (CDispRect{100, 0, 800, 800}));
    Move(&m_view, {160, 405}, Qt::LeftButton);
    EXPECT_EQ(m_view.DispRect(), (CDispRect{110, 5, 800, 800}));
}

TEST_F(ChildViewTest, PanDefersConversionUntilTheNextPaint) {
    Press(&m_view, {500, 400}, Qt::LeftButton);
    Move(&m_view, {510, 400}, Qt::LeftButton);
    m_store.m_pDisplay[0] = 9999;
    m_store.m_bNewImage = 1;  // a frame arrives during the pan
    m_view.repaint();
    EXPECT_EQ(m_store.m_bNewImage, 1) << "the pan's repaint only redraws";
    for (int i = 0; i < 5 && m_store.m_bNewImage; ++i) {
        QApplication::processEvents();
        m_view.repaint();
    }
    EXPECT_EQ(m_store.m_bNewImage, 0);
    EXPECT_EQ(m_view.GreyImage().constScanLine(0)[0], Grey(9999));
}

TEST_F(ChildViewTest, RightDragChangesWindowAndLevelAndResetsOnDoubleClick) {
    ASSERT_TRUE(m_view.Lut().SetWindowLevel(1000, 500));
    Press(&m_view, {500, 400}, Qt::RightButton);
    Move(&m_view, {510, 403}, Qt::RightButton);
    EXPECT_EQ(m_view.Lut().m_fWidth, 1060.0f);
    EXPECT_EQ(m_view.Lut().m_fLevel, 518.0f);
    EXPECT_EQ(m_shown, (CWindowLevel{1060, 518}));
    EXPECT_EQ(m_view.cursor().shape(), Qt::BitmapCursor);
    EXPECT_EQ(m_view.cursor().hotSpot(), QPoint(16, 9));
    Move(&m_view, {300, 0}, Qt::RightButton);  // far left and up: both below 1
    EXPECT_EQ(m_view.Lut().m_fWidth, 4.0f);
    EXPECT_EQ(m_view.Lut().m_fLevel, 4.0f);
    Release(&m_view, {300, 0}, Qt::RightButton);
    EXPECT_EQ(m_view.cursor().shape(), Qt::ArrowCursor);

    DoubleClick(&m_view, {500, 400}, Qt::RightButton);
    EXPECT_EQ(m_view.Lut().m_fWidth, 16383.0f);
    EXPECT_EQ(m_view.Lut().m_fLevel, 8191.0f);
    EXPECT_EQ(m_shown, (CWindowLevel{4, 4})) << "the boxes follow only at the next move";
    Move(&m_view, {501, 400});
    EXPECT_EQ(m_shown, (CWindowLevel{16383, 8191}));
}

TEST_F(ChildViewTest, ReadoutShowsPositionValueAndOriginal) {
    std::vector<uint16_t> dark(300 * 300, 0);
    dark[size_t(150) * 300 + 150] = 100;
    m_store.SetFrameLinks(nullptr, dark.data(), dark.size());
    Move(&m_view, {500, 400});
    EXPECT_EQ(m_panes[2], "Pos(X: 150 Y: 150 ) Value:  7650");
    EXPECT_EQ(m_panes[3], "Original:  7750");
    m_view.UpdatePixelReadoutAt({99, 400});  // left of the picture
    EXPECT_EQ(m_panes[2], "Pos(X:   0 Y: 150 ) Value:   150");
    m_view.UpdatePixelReadoutAt({95, 900});
    EXPECT_EQ(m_panes[2], "Pos(X:  -1 Y: 337 ) Value:     0");
    EXPECT_EQ(m_panes[3], "Original:     0");
}

// A new image (an exposure, Open File) refreshes the readout at once.
TEST_F(ChildViewTest, NewImageRefreshesTheReadoutWithoutAMove) {
    Move(&m_view, {500, 400});
    EXPECT_EQ(m_panes[2], "Pos(X: 150 Y: 150 ) Value:  7650");
    test::LoadStore(m_store, 300, 300, [](int32_t c, int32_t r) { return uint16_t(c + r); });
    m_view.InvalidateView();
    m_view.repaint();
    QCoreApplication::processEvents();  // the panes follow right after the paint
    EXPECT_EQ(m_panes[2], "Pos(X: 150 Y: 150 ) Value:   300");
    EXPECT_EQ(m_panes[3], "Original:   300");
}

TEST_F(ChildViewTest, MovesOutsideThePictureAreIgnored) {
    Move(&m_view, {50, 400});
    EXPECT_TRUE(m_panes.empty());
    EXPECT_EQ(m_shown, (CWindowLevel{-1, -1}));
}

TEST_F(ChildViewTest, MiddleDoubleClickFlipsDetectorsOnlyWithASecondConfigured) {
    std::fill(m_store.m_pFrame2.begin(), m_store.m_pFrame2.end(), uint16_t(4321));
    DoubleClick(&m_view, {500, 400}, Qt::MiddleButton);
    EXPECT_FALSE(m_store.m_bShowSecond);
    EXPECT_NE(m_store.m_pDisplay[0], 4321);

    m_store.m_strDetectorName2 = "B";
    DoubleClick(&m_view, {500, 400}, Qt::MiddleButton);
    EXPECT_TRUE(m_store.m_bShowSecond);
    EXPECT_EQ(m_store.m_pDisplay[0], 4321);
    m_view.repaint();
    EXPECT_EQ(m_view.GreyImage().constScanLine(0)[0], Grey(4321));
    DoubleClick(&m_view, {500, 400}, Qt::MiddleButton);
    EXPECT_FALSE(m_store.m_bShowSecond);
    EXPECT_EQ(m_store.m_pDisplay[0], 0);
}

TEST(ChildViewEmpty, NoDisplayBufferPaintsBlackWithoutCrashing) {
    CImageStore store;
    store.m_bNewImage = 1;
    CChildView view(store);
    view.resize(200, 100);
    view.show();
    QApplication::processEvents();
    view.repaint();
    EXPECT_EQ(store.m_bNewImage, 1) << "kept for the next paint";
    EXPECT_TRUE(view.GreyImage().isNull());
    EXPECT_EQ(view.grab().toImage().pixelColor(100, 50), QColor(Qt::black));
    view.UpdatePixelReadoutAt({10, 10});
    test::Wheel(&view, {10, 10}, 120);
}

}  // namespace
}  // namespace orvi
