// Histogram, auto window, ROI statistics and the ruler as plain functions,
// each on small images whose answers are worked out by hand.
#include "display/AutoWindow.h"
#include "display/Measure.h"
#include "display/WindowLevelLut.h"

#include <gtest/gtest.h>

#include <ostream>

#include <cmath>
#include <memory>
#include <numeric>

namespace orvi {
namespace {

// ---- Exposed field ------------------------------------------------------------

struct FieldCase {
    const char* szName;
    int32_t nW, nH;
    std::vector<uint16_t> pixels;
    CPixelRect expected;
};
void PrintTo(const FieldCase& c, std::ostream* os) { *os << c.szName; }

class ExposedFieldTest : public ::testing::TestWithParam<FieldCase> {};

TEST_P(ExposedFieldTest, LeavesOutTheZeroBorder) {
    const FieldCase& c = GetParam();
    EXPECT_EQ(ExposedField(c.pixels.data(), c.nW, c.nH), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ExposedFieldTest,
    ::testing::Values(FieldCase{"NoBorder", 2, 2, {1, 2, 3, 4}, {0, 0, 2, 2}},
                      // a zero inside the field stays in it
                      FieldCase{"ZeroInside", 3, 3, {5, 5, 5, 5, 0, 5, 5, 5, 5}, {0, 0, 3, 3}},
                      FieldCase{"BorderAllRound", 4, 4, {0, 0, 0, 0, 0, 7, 8, 0, 0, 9, 0, 0, 0, 0, 0, 0}, {1, 1, 2, 2}},
                      // a short file zero-filled at the foot
                      FieldCase{"ZeroFoot", 2, 3, {1, 1, 1, 0, 0, 0}, {0, 0, 2, 2}},
                      FieldCase{"OnePixel", 3, 2, {0, 0, 0, 0, 0, 4}, {2, 1, 1, 1}},
                      FieldCase{"AllZero", 2, 2, {0, 0, 0, 0}, {}}, FieldCase{"NoImage", 0, 0, {}, {}}),
    [](const auto& info) { return std::string(info.param.szName); });

// ---- Histogram and percentiles ------------------------------------------------------

TEST(Histogram, CountsTheBlockClippedToTheImageAndMasksTo14Bits) {
    // 5 x 2: 0 1 2 3 4 / 5 6 7 8 0x4009 (masks to 9)
    const std::vector<uint16_t> px{0, 1, 2, 3, 4, 5, 6, 7, 8, 0x4009};
    auto h = std::make_unique<CHistogram>();
    ComputeHistogram(px.data(), 5, 2, {3, 0, 10, 10}, *h);  // columns 3, 4 of both rows
    EXPECT_EQ(h->nTotal, 4u);
    EXPECT_EQ(h->counts[3] + h->counts[4] + h->counts[8] + h->counts[9], 4u);
    EXPECT_EQ(h->nMin, 3);
    EXPECT_EQ(h->nMax, 9);
    ComputeHistogram(px.data(), 5, 2, {7, 0, 2, 2}, *h);  // outside: nothing
    EXPECT_EQ(h->nTotal, 0u);
    EXPECT_EQ(HistogramPercentile(*h, 0.5), 0);
}

TEST(Histogram, PercentilesAreTheSmallestValueReachingTheFraction) {
    // 1000 pixels, values 0 .. 999 once each.
    std::vector<uint16_t> px(1000);
    std::iota(px.begin(), px.end(), uint16_t{0});
    auto h = std::make_unique<CHistogram>();
    ComputeHistogram(px.data(), 1000, 1, {0, 0, 1000, 1}, *h);
    struct Case {
        double f;
        uint16_t v;
    } cases[] = {{0.0, 0}, {0.005, 4}, {0.5, 499}, {0.995, 994}, {1.0, 999}, {-1, 0}, {2, 999}};
    for (const Case& c : cases) EXPECT_EQ(HistogramPercentile(*h, c.f), c.v) << c.f;
}

// ---- Auto window ----------------------------------------------------------------------------

// An image like an exposure: a zero border 2 pixels wide round a field whose
// values run 1000 .. 1999, with one dead and one hot pixel that the 0.5 % /
// 99.5 % points leave out.
std::vector<uint16_t> FieldImage(int32_t& nW, int32_t& nH) {
    nW = 44;
    nH = 29;  // field 40 x 25 = 1000 pixels
    std::vector<uint16_t> px(size_t(nW) * nH, 0);
    int v = 1000;
    for (int y = 2; y < 27; ++y)
        for (int x = 2; x < 42; ++x) px[size_t(y) * nW + x] = uint16_t(v++);
    px[size_t(10) * nW + 10] = 1;      // dead (replaces 1000 + 8 * 40 + 8)
    px[size_t(11) * nW + 11] = 16000;  // hot
    return px;
}

TEST(AutoWindow, TakesTheHalfPercentPointsOfTheExposedField) {
    int32_t nW = 0, nH = 0;
    const std::vector<uint16_t> px = FieldImage(nW, nH);
    // Low: the 5th smallest of 1000 (the dead pixel is the 1st) = 1003;
    // high: the 995th; 1328 and 1369 gave way to the dead and the hot pixel,
    // so from 1370 on value v is the (v - 1000)th: 1995.
    const CWindowLevel wl = ComputeAutoWindow(px.data(), nW, nH);
    EXPECT_EQ(wl, (CWindowLevel{1995 - 1003, (1003 + 1995) / 2}));
}

TEST(AutoWindow, ZerosInsideTheFieldCountForNothing) {
    // A short file shown from its start: 3.5 rows of 1000 .. 1139, zeros after.
    std::vector<uint16_t> px(40 * 10, 0);
    for (int i = 0; i < 140; ++i) px[size_t(i)] = uint16_t(1000 + i);
    // 140 pixels: low = 1st (0.7 -> 1) = 1000, high = 139th (139.3) = 1138.
    EXPECT_EQ(ComputeAutoWindow(px.data(), 40, 10), (CWindowLevel{138, 1069}));
}

TEST(AutoWindow, FlatAndEmptyImages) {
    const std::vector<uint16_t> flat(100, 5000);
    EXPECT_EQ(ComputeAutoWindow(flat.data(), 10, 10), (CWindowLevel{1, 5000}));
    const std::vector<uint16_t> zeros(100, 0);
    EXPECT_EQ(ComputeAutoWindow(zeros.data(), 10, 10), (CWindowLevel{kDefaultWindowWidth, kDefaultWindowLevel}));
    EXPECT_EQ(ComputeAutoWindow(nullptr, 0, 0), (CWindowLevel{kDefaultWindowWidth, kDefaultWindowLevel}));
}

// ---- ROI --------------------------------------------------------------------------------------

struct RoiCase {
    const char* szName;
    CPixelRect rc;
    int64_t nCount;
    double fMean, fSd;
    uint16_t nMin, nMax;
};
void PrintTo(const RoiCase& c, std::ostream* os) { *os << c.szName; }

class RoiStatsTest : public ::testing::TestWithParam<RoiCase> {};

TEST_P(RoiStatsTest, OnAKnownImage) {
    // 4 x 3:  1  2  3  4 /  5  6  7  8 / 9 10 11 12
    std::vector<uint16_t> px(12);
    std::iota(px.begin(), px.end(), uint16_t{1});
    const RoiCase& c = GetParam();
    const CRoiStats s = ComputeRoiStats(px.data(), 4, 3, c.rc);
    EXPECT_EQ(s.nCount, c.nCount);
    EXPECT_NEAR(s.fMean, c.fMean, 1e-9);
    EXPECT_NEAR(s.fStdDev, c.fSd, 1e-9);
    EXPECT_EQ(s.nMin, c.nMin);
    EXPECT_EQ(s.nMax, c.nMax);
}

INSTANTIATE_TEST_SUITE_P(Cases, RoiStatsTest,
                         ::testing::Values(
                             // 1..12: mean 6.5, population variance (144 - 1) / 12
                             RoiCase{"Whole", {0, 0, 4, 3}, 12, 6.5, std::sqrt(143.0 / 12), 1, 12},
                             // 6 7 / 10 11: mean 8.5, deviations 2.5 1.5 1.5 2.5 -> var 4.25
                             RoiCase{"Inner", {1, 1, 2, 2}, 4, 8.5, std::sqrt(4.25), 6, 11},
                             RoiCase{"OnePixel", {3, 2, 1, 1}, 1, 12, 0, 12, 12},
                             // clipped to the image: columns 2, 3 of rows 0 .. 2
                             RoiCase{"Clipped", {2, -5, 10, 10}, 6, 7.5, std::sqrt(65.5 / 6), 3, 12},
                             RoiCase{"Outside", {5, 5, 2, 2}, 0, 0, 0, 0, 0}),
                         [](const auto& info) { return std::string(info.param.szName); });

TEST(Roi, RectangleBetweenTwoCornersIncludesBoth) {
    EXPECT_EQ(RectBetween(5, 7, 2, 3), (CPixelRect{2, 3, 4, 5}));
    EXPECT_EQ(RectBetween(1, 1, 1, 1), (CPixelRect{1, 1, 1, 1}));
    EXPECT_EQ(RoiStatsText(CRoiStats{4, 8.5, 2.0616, 6, 11}), "Mean 8.5  SD 2.1  Min 6  Max 11  N 4");
}

// ---- Ruler --------------------------------------------------------------------------------------

TEST(Ruler, PixelsAndMillimetresAtThePitch) {
    // 3-4-5 triangle times 100: 500 pixels of 139 um = 69.5 mm
    const CRulerLength r = RulerLength(10, 20, 310, 420, 139);
    EXPECT_DOUBLE_EQ(r.fPixels, 500.0);
    EXPECT_DOUBLE_EQ(r.fMillimetres, 69.5);
    EXPECT_EQ(RulerText(r), "500.0 px  69.50 mm");
    const CRulerLength rNoPitch = RulerLength(0, 0, 3, 4, 0);
    EXPECT_EQ(rNoPitch.fMillimetres, 0.0);
    EXPECT_EQ(RulerText(rNoPitch), "5.0 px");
}

// ---- Negative display ------------------------------------------------------------------------

TEST(WindowLevelLutInvert, FlipsTheGreysAndHoldsAcrossWindowChanges) {
    CWLLUT lut;
    ASSERT_TRUE(lut.SetWindowLevel(1000, 1500));  // 1000 .. 2000
    const unsigned char nMid = lut.Lookup(1500);
    lut.m_bChanged = false;
    lut.SetInvert(true);
    EXPECT_TRUE(lut.m_bChanged);
    EXPECT_EQ(lut.Lookup(0), 255);
    EXPECT_EQ(lut.Lookup(3000), 0);
    EXPECT_EQ(lut.Lookup(1500), 255 - nMid);
    ASSERT_TRUE(lut.SetWindowLevel(2000, 1000));  // 0 .. 2000, still inverted
    EXPECT_EQ(lut.Lookup(2500), 0);
    lut.SetInvert(false);
    EXPECT_EQ(lut.Lookup(2500), 255);
}

}  // namespace
}  // namespace orvi
