// The view's geometry without a widget: fits, wheel zoom about the pointer,
// pan, the pointer-to-pixel mapping, the readout texts and the window/level
// limits of the right-drag and of the panel's boxes.
#include "display/ViewGeometry.h"

#include <gtest/gtest.h>

#include <limits>
#include <ostream>

namespace orvi {

void PrintTo(const CDispRect& rc, std::ostream* os) {
    *os << "{x " << rc.nX << ", y " << rc.nY << ", w " << rc.nW << ", h " << rc.nH << "}";
}
void PrintTo(const CPixelPos& p, std::ostream* os) { *os << "(" << p.nColumn << ", " << p.nRow << ")"; }
void PrintTo(const CWindowLevel& wl, std::ostream* os) { *os << "W " << wl.nWidth << " L " << wl.nLevel; }

namespace {

// ---- Fit to window --------------------------------------------------------

struct FitCase {
    const char* szName;
    int32_t nClientW, nClientH, nImageW, nImageH;
    CDispRect expected;
};
void PrintTo(const FitCase& c, std::ostream* os) {
    *os << c.szName << ": image " << c.nImageW << "x" << c.nImageH << " in " << c.nClientW << "x" << c.nClientH;
}

class FitToWindowTest : public ::testing::TestWithParam<FitCase> {};

TEST_P(FitToWindowTest, KeepsAspectAndCentres) {
    const FitCase& c = GetParam();
    EXPECT_EQ(FitToWindow(c.nClientW, c.nClientH, c.nImageW, c.nImageH), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, FitToWindowTest,
                         ::testing::Values(
                             // scale 3.84 (the vertical ratio): 800 x 800 centred horizontally
                             FitCase{"FullFrameInWideClient", 1000, 800, 3072, 3072, {100, 0, 800, 800}},
                             FitCase{"FullFrameInTallClient", 800, 1000, 3072, 3072, {0, 100, 800, 800}},
                             // equal ratios take the horizontal one; nothing to centre
                             FitCase{"EqualRatios", 1536, 1536, 3072, 3072, {0, 0, 1536, 1536}},
                             // 2048 / 3.072 = 666.67 truncates; (800 - 666) >> 1 = 67
                             FitCase{"WideImageTruncates", 1000, 800, 3072, 2048, {0, 67, 1000, 666}},
                             // 1000 / 3 = 333.33; (700 - 333) >> 1 = 183
                             FitCase{"ThirdTruncates", 1000, 700, 3000, 1000, {0, 183, 1000, 333}},
                             // a small image is enlarged to the client
                             FitCase{"SmallImageEnlarged", 1000, 800, 100, 50, {0, 150, 1000, 500}},
                             // an odd spare width loses its half pixel to the shift
                             FitCase{"OddSpare", 301, 100, 100, 100, {100, 0, 100, 100}},
                             FitCase{"MaximisedClient", 1706, 1011, 3072, 3072, {347, 0, 1011, 1011}},
                             FitCase{"EmptyClient", 0, 0, 3072, 3072, {0, 0, 0, 0}},
                             FitCase{"NoImage", 1000, 800, 0, 0, {0, 0, 0, 0}}),
                         [](const auto& info) { return std::string(info.param.szName); });

// ---- Square fit (left double-click) ----------------------------------------

struct SquareCase {
    const char* szName;
    int32_t nClientW, nClientH;
    CDispRect expected;
};
void PrintTo(const SquareCase& c, std::ostream* os) { *os << c.szName << ": " << c.nClientW << "x" << c.nClientH; }

class SquareFitTest : public ::testing::TestWithParam<SquareCase> {};

TEST_P(SquareFitTest, SideIsTheSmallerClientDimension) {
    const SquareCase& c = GetParam();
    EXPECT_EQ(SquareFit(c.nClientW, c.nClientH), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, SquareFitTest,
                         ::testing::Values(SquareCase{"Wide", 1000, 800, {100, 0, 800, 800}},
                                           SquareCase{"Tall", 800, 1000, {0, 100, 800, 800}},
                                           SquareCase{"OddDifference", 801, 800, {0, 0, 800, 800}},
                                           SquareCase{"Square", 640, 640, {0, 0, 640, 640}}),
                         [](const auto& info) { return std::string(info.param.szName); });

// ---- Wheel zoom about the pointer -------------------------------------------

struct ZoomCase {
    const char* szName;
    CDispRect before;
    int32_t nImageW, nDelta, nPx, nPy;
    bool bZoomed;
    CDispRect after;
};
void PrintTo(const ZoomCase& c, std::ostream* os) {
    *os << c.szName << ": delta " << c.nDelta << " at (" << c.nPx << ", " << c.nPy << ")";
}

class ZoomTest : public ::testing::TestWithParam<ZoomCase> {};

TEST_P(ZoomTest, StepsTenPercentAboutThePointerWithinLimits) {
    const ZoomCase& c = GetParam();
    CDispRect rc = c.before;
    EXPECT_EQ(ZoomAtPointer(rc, c.nImageW, c.nDelta, c.nPx, c.nPy), c.bZoomed);
    EXPECT_EQ(rc, c.after);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ZoomTest,
    ::testing::Values(
        // width 880, left trunc(100 + (100 - 500) x 0.1) = 60, top trunc(0 - 40) = -40
        ZoomCase{"InAboutPointer", {100, 0, 800, 800}, 3072, 120, 500, 400, true, {60, -40, 880, 880}},
        ZoomCase{"OutAboutPointer", {100, 0, 800, 800}, 3072, -120, 500, 400, true, {140, 40, 720, 720}},
        // -15 + (-15 - 0) x 0.1 = -16.5 truncates toward zero
        ZoomCase{"NegativeTruncatesTowardZero", {-15, -15, 100, 100}, 3072, 120, 0, 0, true, {-16, -16, 110, 110}},
        ZoomCase{"PointerOnLeftTopKeepsIt", {100, 50, 800, 800}, 3072, 120, 100, 50, true, {100, 50, 880, 880}},
        // only the width is tested: exactly 9 x the image still zooms in once more
        ZoomCase{"InAtNineTimes", {0, 0, 27648, 27648}, 3072, 120, 0, 0, true, {0, 0, 30412, 30412}},
        ZoomCase{"InBeyondNineTimesRefused", {0, 0, 27649, 27649}, 3072, 120, 0, 0, false, {0, 0, 27649, 27649}},
        ZoomCase{"OutBeyondNineTimesAllowed", {0, 0, 27649, 27649}, 3072, -120, 0, 0, true, {0, 0, 24884, 24884}},
        // 1 % of 3072 is 30.72
        ZoomCase{"OutBelowOnePercentRefused", {0, 0, 30, 30}, 3072, -120, 0, 0, false, {0, 0, 30, 30}},
        ZoomCase{"OutJustAboveOnePercent", {0, 0, 31, 31}, 3072, -120, 0, 0, true, {0, 0, 27, 27}},
        ZoomCase{"InBelowOnePercentAllowed", {0, 0, 30, 30}, 3072, 120, 0, 0, true, {0, 0, 33, 33}},
        ZoomCase{"ZeroDeltaChangesNothing", {100, 0, 800, 800}, 3072, 0, 500, 400, true, {100, 0, 800, 800}},
        // a non-square picture keeps its own height
        ZoomCase{"HeightScaledOnItsOwn", {0, 67, 1000, 666}, 3072, 120, 0, 67, true, {0, 67, 1100, 732}}),
    [](const auto& info) { return std::string(info.param.szName); });

TEST(ZoomTest, InThenOutReturnsCloseToTheStartAboutTheSamePoint) {
    CDispRect rc{100, 0, 800, 800};
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(ZoomAtPointer(rc, 3072, 120, 500, 400));
    // The image point under the pointer stays about fixed: column 1536 at x = 500.
    EXPECT_NEAR(PointerToPixel(rc, 3072, 3072, 500, 400).nColumn, 1536, 4);
}

TEST(PanTest, PictureFollowsThePointer) {
    CDispRect rc{100, 0, 800, 800};
    Pan(rc, -30, 12);
    EXPECT_EQ(rc, (CDispRect{70, 12, 800, 800}));
}

TEST(DispRectTest, ContainsLeftAndTopButNotRightAndBottom) {
    const CDispRect rc{100, 0, 800, 800};
    EXPECT_TRUE(rc.Contains(100, 0));
    EXPECT_TRUE(rc.Contains(899, 799));
    EXPECT_FALSE(rc.Contains(900, 10));
    EXPECT_FALSE(rc.Contains(99, 10));
    EXPECT_FALSE(rc.Contains(500, 800));
    EXPECT_FALSE((CDispRect{}).Contains(0, 0)) << "an unfitted picture contains nothing";
    EXPECT_FALSE((CDispRect{0, 0, 0, 10}).Contains(0, 0));
}

// ---- Pointer to pixel -------------------------------------------------------

struct PixelCase {
    const char* szName;
    CDispRect rc;
    int32_t nImageW, nImageH, nPx, nPy;
    CPixelPos expected;
};
void PrintTo(const PixelCase& c, std::ostream* os) { *os << c.szName << ": (" << c.nPx << ", " << c.nPy << ")"; }

class PointerToPixelTest : public ::testing::TestWithParam<PixelCase> {};

TEST_P(PointerToPixelTest, MapsClientToImagePixel) {
    const PixelCase& c = GetParam();
    EXPECT_EQ(PointerToPixel(c.rc, c.nImageW, c.nImageH, c.nPx, c.nPy), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PointerToPixelTest,
    ::testing::Values(PixelCase{"Centre", {100, 0, 800, 800}, 3072, 3072, 500, 400, {1536, 1536}},
                      PixelCase{"TopLeft", {100, 0, 800, 800}, 3072, 3072, 100, 0, {0, 0}},
                      PixelCase{"LastPixel", {100, 0, 800, 800}, 3072, 3072, 899, 799, {3068, 3068}},
                      // right and bottom edges lie outside: column 3072
                      PixelCase{"RightEdgeOutside", {100, 0, 800, 800}, 3072, 3072, 900, 800, {3072, 3072}},
                      // -1 x 3072 / 800 = -3.84 truncates toward zero
                      PixelCase{"LeftOfPictureTruncatesTowardZero", {100, 0, 800, 800}, 3072, 3072, 99, 0, {-3, 0}},
                      PixelCase{"Zoomed", {-2000, -2000, 8000, 8000}, 3072, 3072, 0, 10, {768, 771}},
                      PixelCase{"NotFitted", {0, 0, -1, -1}, 3072, 3072, 10, 10, {0, 0}}),
    [](const auto& info) { return std::string(info.param.szName); });

TEST(ReadoutTextTest, FormatsPositionValueAndOriginal) {
    EXPECT_EQ(PixelReadoutText(1536, 12, 16000), "Pos(X:1536 Y:  12 ) Value: 16000");
    EXPECT_EQ(PixelReadoutText(-3, 3072, 0), "Pos(X:  -3 Y:3072 ) Value:     0");
    EXPECT_EQ(OriginalValueText(65535), "Original: 65535");
    EXPECT_EQ(OriginalValueText(7), "Original:     7");
}

// ---- Window/level limits ----------------------------------------------------

struct DragCase {
    const char* szName;
    float fWidth, fLevel;
    int32_t nDx, nDy;
    CWindowLevel expected;
};
void PrintTo(const DragCase& c, std::ostream* os) {
    *os << c.szName << ": W " << c.fWidth << " L " << c.fLevel << " moved (" << c.nDx << ", " << c.nDy << ")";
}

class DragWindowLevelTest : public ::testing::TestWithParam<DragCase> {};

TEST_P(DragWindowLevelTest, SixUnitsPerPixelWithinLimits) {
    const DragCase& c = GetParam();
    EXPECT_EQ(DragWindowLevel(c.fWidth, c.fLevel, c.nDx, c.nDy), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, DragWindowLevelTest,
                         ::testing::Values(DragCase{"TenRightRaisesWidthBy60", 1000, 500, 10, 0, {1060, 500}},
                                           DragCase{"DownRaisesLevel", 1000, 500, 0, 3, {1000, 518}},
                                           DragCase{"UpLowersLevel", 1000, 500, 0, -3, {1000, 482}},
                                           DragCase{"FractionsTruncate", 100.9f, 50.7f, 0, 0, {100, 50}},
                                           DragCase{"AboveMaxBecomesMax", 16383, 16380, 1, 1, {16383, 16383}},
                                           DragCase{"ZeroBecomesFour", 6, 6, -1, -1, {4, 4}},
                                           DragCase{"NegativeBecomesFour", 10, 10, -5, -5, {4, 4}},
                                           DragCase{"OneStays", 7, 7, -1, -1, {1, 1}}),
                         [](const auto& info) { return std::string(info.param.szName); });

struct PanelCase {
    const char* szName;
    const char* szWidth;
    const char* szLevel;
    CWindowLevel expected;
};
void PrintTo(const PanelCase& c, std::ostream* os) {
    *os << c.szName << ": \"" << c.szWidth << "\" / \"" << c.szLevel << "\"";
}

class PanelWindowLevelTest : public ::testing::TestWithParam<PanelCase> {};

TEST_P(PanelWindowLevelTest, BoxesReadAndClamped) {
    const PanelCase& c = GetParam();
    EXPECT_EQ(ClampPanelWindowLevel(ReadSignedInt(c.szWidth), ReadSignedInt(c.szLevel)), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, PanelWindowLevelTest,
                         ::testing::Values(PanelCase{"Defaults", "16383", "8191", {16383, 8191}},
                                           PanelCase{"Zero", "0", "0", {4, 2}},
                                           PanelCase{"Negative", "-20", "-1", {4, 2}},
                                           PanelCase{"Empty", "", "", {4, 2}},
                                           PanelCase{"NotANumber", "abc", "-", {4, 2}},
                                           PanelCase{"AboveMax", "16384", "99999", {16383, 16383}},
                                           PanelCase{"HugeSaturates", "99999999999999", "-99999999999", {16383, 2}},
                                           PanelCase{"One", "1", "1", {1, 1}},
                                           PanelCase{"LeadingBlanksAndTrailingText", "  120px", "+35 ", {120, 35}}),
                         [](const auto& info) { return std::string(info.param.szName); });

TEST(ReadSignedIntTest, LeadingDigitsSignAndSaturation) {
    EXPECT_EQ(ReadSignedInt("12abc"), 12);
    EXPECT_EQ(ReadSignedInt(" 1 2"), 1);
    EXPECT_EQ(ReadSignedInt("-7"), -7);
    EXPECT_EQ(ReadSignedInt("x12"), 0);
    EXPECT_EQ(ReadSignedInt("2147483647"), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(ReadSignedInt("2147483648"), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(ReadSignedInt("-2147483648"), std::numeric_limits<int32_t>::min());
}

}  // namespace
}  // namespace orvi
