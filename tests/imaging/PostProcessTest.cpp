#include "imaging/MessageFiles.h"
#include "imaging/Parallel.h"
#include "imaging/PostProcess.h"

#include "ImagingTestSupport.h"
#include "LiteralRules.h"

#include <gtest/gtest.h>

namespace orvi {
namespace {

using test::Frame;
using test::RandomFrame;

struct Size {
    int32_t w;
    int32_t h;
};

// ---- Mirror -----------------------------------------------------------------

TEST(MirrorRows, ReversesEachRowKeepsRowOrder) {
    Frame f{1, 2, 3, 4};
    MirrorRows(f.data(), 4, 1);
    EXPECT_EQ(f, (Frame{4, 3, 2, 1}));
    Frame g{1, 2, 3, 4, 5, 6};
    MirrorRows(g.data(), 3, 2);
    EXPECT_EQ(g, (Frame{3, 2, 1, 6, 5, 4}));
}

TEST(MirrorRows, EqualsLiteralRuleOnRandomFrames) {
    for (Size s : {Size{1, 1}, Size{2, 3}, Size{15, 2}, Size{16, 3}, Size{17, 5}, Size{33, 4}, Size{3072, 2},
                   Size{1501, 1400}}) {  // the last is split between threads
        Frame f = RandomFrame(s.w, s.h, 7u + uint32_t(s.w));
        Frame expected = f;
        literal::MirrorRows(expected.data(), s.w, s.h);
        MirrorRows(f.data(), s.w, s.h);
        EXPECT_EQ(f, expected) << s.w << "x" << s.h;
    }
}

// ---- Exposure check -------------------------------------------------------------

class ExposureCheck : public ::testing::Test {
protected:
    test::LogCapture m_log;
};

TEST_F(ExposureCheck, UniformFrameFailsWithZeroDeviation) {
    Frame f(100 * 100, 3000);
    CExposureCheck r = CheckExposure(f.data(), 100, 100, 75);
    EXPECT_TRUE(r.bChecked);
    EXPECT_FALSE(r.bExposed);
    EXPECT_EQ(m_log.Messages(), std::vector<std::string>{"Expose fail!! exit program.(STDDEV:0.000000)"});
}

TEST_F(ExposureCheck, DeviationEqualToTheRangeFails) {
    // One column of 87 rows: the region is rows 28..30. Values 0, 75, 150 give
    // S = 225, Q = 28125, mean 75, variance (28125 - 75 * 225) / 2 = 5625: sd 75.
    Frame f(87, 0);
    f[28] = 0;
    f[29] = 75;
    f[30] = 150;
    CExposureCheck r = CheckExposure(f.data(), 1, 87, 75);
    EXPECT_EQ(r.dStdDev, 75.0);
    EXPECT_FALSE(r.bExposed);
    EXPECT_TRUE(CheckExposure(f.data(), 1, 87, 74).bExposed);
    EXPECT_EQ(m_log.Messages(), (std::vector<std::string>{"Expose fail!! exit program.(STDDEV:75.000000)",
                                                          "Get expose Image.(STDDEV:75.000000)"}));
}

TEST_F(ExposureCheck, ExposedFrameLogsItsDeviation) {
    Frame f(10 * 100, 1000);
    for (size_t i = 0; i < f.size(); i += 2) f[i] = 1200;
    CExposureCheck r = CheckExposure(f.data(), 10, 100, 75);
    EXPECT_TRUE(r.bExposed);
    char szExpected[64];
    std::snprintf(szExpected, sizeof szExpected, "Get expose Image.(STDDEV:%lf)", r.dStdDev);
    EXPECT_EQ(m_log.Messages(), std::vector<std::string>{szExpected});
}

TEST_F(ExposureCheck, RegionOfFewerThanTwoPixelsIsSkipped) {
    // The region is rows 28 to H - 57: empty up to 84 rows, one row at 85.
    for (Size s : {Size{3, 1}, Size{3, 56}, Size{3, 84}, Size{1, 85}}) {
        Frame f(size_t(s.w) * s.h, 500);
        EXPECT_FALSE(CheckExposure(f.data(), s.w, s.h, 75).bChecked) << s.w << "x" << s.h;
    }
    EXPECT_TRUE(m_log.Messages().empty());
    for (Size s : {Size{2, 85}, Size{1, 86}}) {
        Frame f(size_t(s.w) * s.h, 500);
        EXPECT_TRUE(CheckExposure(f.data(), s.w, s.h, 75).bChecked) << s.w << "x" << s.h;
    }
}

TEST_F(ExposureCheck, EqualsLiteralRuleOnRandomFrames) {
    for (Size s : {Size{1, 86}, Size{7, 90}, Size{64, 200}, Size{3072, 100}}) {
        Frame f = RandomFrame(s.w, s.h, 11u + uint32_t(s.h));
        literal::Exposure e = literal::CheckExposure(f.data(), s.w, s.h, 5000);
        CExposureCheck r = MeasureExposure(f.data(), s.w, s.h, 5000);
        EXPECT_EQ(r.bChecked, e.bChecked);
        EXPECT_EQ(r.dStdDev, e.dStdDev) << s.w << "x" << s.h;
        EXPECT_EQ(r.bExposed, e.bExposed);
    }
}

// ---- Dose indicator -------------------------------------------------------------

TEST(DoseIndicator, ExamplesOfTheRule) {
    Frame all500(20 * 20, 500);
    EXPECT_EQ(DoseIndicatorValue(all500.data(), 20, 20, 2, 3, 10, 10), 500);

    Frame ramp{0, 1, 2, 3, 4, 5, 6, 7, 8, 9};  // threshold 8: the count first exceeds 8 at value 8
    EXPECT_EQ(DoseIndicatorValue(ramp.data(), 10, 1, 0, 0, 10, 1), 8);

    Frame high(10, 40000);  // above 16383: counted in bin 16383
    EXPECT_EQ(DoseIndicatorValue(high.data(), 10, 1, 0, 0, 10, 1), 16383);

    EXPECT_EQ(DoseIndicatorValue(all500.data(), 20, 20, 2, 3, 0, 10), 16384);  // width 0
}

TEST(DoseIndicator, RegionIsClippedToTheFrame) {
    Frame f(10 * 10, 100);
    for (int32_t c = 5; c < 10; ++c)
        for (int32_t r = 0; r < 10; ++r) f[size_t(r) * 10 + c] = 900;
    // The default region (1000, 1000, 1000 x 1000) lies outside a small frame: nothing is counted.
    EXPECT_EQ(DoseIndicatorValue(f.data(), 10, 10, 1000, 1000, 1000, 1000), 16384);
    // Reaching past the right edge: only columns 5..9 count.
    EXPECT_EQ(DoseIndicatorValue(f.data(), 10, 10, 5, 0, 1000, 1000), 900);
    // Starting left of the frame: columns 0..4 count.
    EXPECT_EQ(DoseIndicatorValue(f.data(), 10, 10, -100, -5, 105, 1000), 100);
    // A negative width counts no pixel but takes the total below zero (-3
    // per row): the threshold is negative and the result 0. A negative height
    // has no rows, so nothing is counted.
    EXPECT_EQ(DoseIndicatorValue(f.data(), 10, 10, 5, 5, -3, 4), 0);
    EXPECT_EQ(DoseIndicatorValue(f.data(), 10, 10, 5, 5, 3, -4), 16384);
    EXPECT_EQ(DoseIndicatorValue(f.data(), 10, 10, 5, 5, -3, -4), 16384);
    // Width -1 on one row: -0.8 truncates to a threshold of 0, which nothing exceeds.
    EXPECT_EQ(DoseIndicatorValue(f.data(), 10, 10, 5, 5, -1, 1), 16384);
    EXPECT_EQ(DoseIndicatorValue(f.data(), 10, 10, 5, 5, -1, 2), 0);
    // Only rows inside the frame count.
    EXPECT_EQ(DoseIndicatorValue(f.data(), 10, 10, 5, 20, -3, 4), 16384);
}

TEST(DoseIndicator, EqualsLiteralRuleOnRandomFrames) {
    struct Region {
        int32_t x, y, w, h;
    };
    Frame f = RandomFrame(300, 200, 5);
    for (Region g :
         {Region{0, 0, 300, 200}, Region{10, 20, 100, 50}, Region{290, 190, 50, 50}, Region{-20, -30, 60, 70},
          Region{100, 100, 1, 1}, Region{1000, 1000, 1000, 1000}, Region{5, 5, 0, 10}, Region{290, 0, 100000, 5},
          Region{5, 5, -7, 10}, Region{5, 195, -2147483647, 100}, Region{5, -5, -1, 6}})
        EXPECT_EQ(DoseIndicatorValue(f.data(), 300, 200, g.x, g.y, g.w, g.h),
                  literal::DoseIndicator(f.data(), 300, 200, g.x, g.y, g.w, g.h))
            << g.x << "," << g.y << " " << g.w << "x" << g.h;
    // Coordinates whose sum leaves the 32-bit range.
    EXPECT_EQ(DoseIndicatorValue(f.data(), 300, 200, 2147483000, 0, 2147483000, 5), 16384);
    EXPECT_EQ(DoseIndicatorValue(f.data(), 300, 200, 0, -2147483000, 10, 2147483647),
              literal::DoseIndicator(f.data(), 300, 200, 0, 0, 10, 200));
}

class DoseIndicatorStep : public ::testing::Test {
protected:
    void SetIni(const std::string& strBody) { test::WriteFile(m_ini, "[CONFIG]\n" + strBody); }
    test::TempDir m_dir;
    std::string m_ini = m_dir.file("ORVI2.ini");
    test::RecordingReport m_ui;
    test::LogCapture m_log;
};

TEST_F(DoseIndicatorStep, ReadsTheRegionAtEveryCallAndWritesUtf16Digits) {
    Frame f(40 * 40, 1234);
    for (size_t i = 0; i < 40; ++i) f[i] = 7;  // row 0
    SetIni("DOSE_INDICATOR_X=0\nDOSE_INDICATOR_Y=1\nDOSE_INDICATOR_WIDTH=40\nDOSE_INDICATOR_HEIGHT=39\n");
    EXPECT_EQ(ComputeDoseIndicator(f.data(), 40, 40, m_ini, m_dir.dir(), m_ui), 1234);
    EXPECT_EQ(test::ReadFile(m_dir.file("doseindicator.txt")), std::string("1\0"
                                                                           "2\0"
                                                                           "3\0"
                                                                           "4\0",
                                                                           8));

    SetIni("DOSE_INDICATOR_X=0\nDOSE_INDICATOR_Y=0\nDOSE_INDICATOR_WIDTH=40\nDOSE_INDICATOR_HEIGHT=1\n");
    EXPECT_EQ(ComputeDoseIndicator(f.data(), 40, 40, m_ini, m_dir.dir(), m_ui), 7);
    EXPECT_EQ(test::ReadFile(m_dir.file("doseindicator.txt")), std::string("7\0", 2));  // replaced whole
    EXPECT_EQ(m_log.Messages(), (std::vector<std::string>{"Dose Indicator :1234", "Dose Indicator :7"}));
    EXPECT_TRUE(m_ui.boxes.empty());
}

TEST_F(DoseIndicatorStep, UnwritableFolderShowsMessageAndLogsTheFileAndReason) {
    test::WriteFile(m_dir.file("afile"), "x");
    Frame f(4, 10);
    SetIni("DOSE_INDICATOR_X=0\nDOSE_INDICATOR_Y=0\nDOSE_INDICATOR_WIDTH=2\nDOSE_INDICATOR_HEIGHT=2\n");
    // A folder whose parent is a file cannot hold a file, also for root.
    EXPECT_EQ(ComputeDoseIndicator(f.data(), 2, 2, m_ini, m_dir.file("afile") + "/", m_ui), 10);
    EXPECT_EQ(m_ui.texts(), std::vector<std::string>{"Message file creation fail!!"});
    // No value is logged as written; the log says which file failed and why.
    EXPECT_EQ(m_log.Messages(), std::vector<std::string>{"Message file creation fail: " + m_dir.file("afile") +
                                                         "/doseindicator.txt: Not a directory"});
}

// ---- Offset ---------------------------------------------------------------------

TEST(ApplyOffset, ExamplesOfTheRule) {
    Frame f{100, 16282, 16283, 16383, 65535, 0};
    ApplyOffset(f.data(), f.size(), 100);
    EXPECT_EQ(f, (Frame{200, 16382, 16383, 16383, 16383, 100}));
    Frame g{50, 100, 16383};
    ApplyOffset(g.data(), g.size(), -100);
    EXPECT_EQ(g, (Frame{uint16_t(65536 - 50), 0, 16283}));  // below 0: the sum's low 16 bits
}

TEST(ApplyOffset, EqualsLiteralRuleOnRandomFrames) {
    Frame base = RandomFrame(257, 31, 3);
    for (int32_t nOffset : {0, 1, 100, -1, -100, 16382, 16383, -16383, 40000, -40000, 65535, 65536, -65536, 70000,
                            -70000, 2147483647, -2147483647 - 1}) {
        Frame f = base, expected = base;
        literal::ApplyOffset(expected.data(), expected.size(), nOffset);
        ApplyOffset(f.data(), f.size(), nOffset);
        EXPECT_EQ(f, expected) << nOffset;
    }
}

// ---- Median ---------------------------------------------------------------------

class MedianFilter : public ::testing::TestWithParam<SimdLevel> {
protected:
    test::SimdScope m_simd{GetParam()};
};

TEST_P(MedianFilter, RemovesHotPixelInsideLeavesColumnWMinus2) {
    const int32_t w = 12, h = 9;
    Frame f(size_t(w) * h, 1000);
    f[4 * w + 5] = 16000;        // inside
    f[4 * w + (w - 2)] = 16000;  // column W - 2 is outside the filtered range
    MedianFilter3x3(f.data(), w, h);
    EXPECT_EQ(f[4 * w + 5], 1000);
    EXPECT_EQ(f[4 * w + (w - 2)], 16000);
}

TEST_P(MedianFilter, LimitsTo16383AndKeepsTheBorder) {
    const int32_t w = 6, h = 6;
    Frame f(size_t(w) * h, 60000);
    MedianFilter3x3(f.data(), w, h);
    for (int32_t r = 0; r < h; ++r)
        for (int32_t c = 0; c < w; ++c) {
            bool bInside = c >= 1 && c <= w - 3 && r >= 1 && r <= h - 3;
            EXPECT_EQ(f[size_t(r) * w + c], bInside ? 16383 : 60000) << r << "," << c;
        }
}

TEST_P(MedianFilter, EqualsLiteralRuleOnRandomFrames) {
    // Small and odd sizes, widths around the vector lengths and the column
    // strips (1024), and a frame large enough to be split between threads.
    for (Size s : {Size{1, 1}, Size{3, 3}, Size{4, 4}, Size{5, 7}, Size{16, 4}, Size{17, 9}, Size{18, 5}, Size{33, 33},
                   Size{64, 3}, Size{1000, 7}, Size{1025, 9}, Size{1026, 5}, Size{1027, 6}, Size{2100, 40},
                   Size{1024, 600}, Size{2500, 500}}) {
        Frame f = RandomFrame(s.w, s.h, 100u + uint32_t(s.w * 31 + s.h));
        Frame expected = f;
        literal::MedianFilter3x3(expected.data(), s.w, s.h);
        MedianFilter3x3(f.data(), s.w, s.h);
        ASSERT_EQ(f, expected) << s.w << "x" << s.h;
    }
}

// Out of place (the source left as it was, the border copied) and in place,
// on one thread and on all of them.
TEST_P(MedianFilter, OutOfPlaceAndOneThreadEqualLiteralRule) {
    for (size_t nThreads : {size_t{1}, size_t{0}}) {
        LimitThreads(nThreads);
        for (Size s :
             {Size{4, 4}, Size{5, 5}, Size{8, 6}, Size{19, 8}, Size{35, 11}, Size{2100, 40}, Size{1031, 777}}) {
            const Frame src = RandomFrame(s.w, s.h, 7u + uint32_t(s.w * 17 + s.h));
            Frame expected = src;
            literal::MedianFilter3x3(expected.data(), s.w, s.h);
            Frame dst(src.size(), 0xBEEF);
            MedianFilter3x3(src.data(), dst.data(), s.w, s.h);
            ASSERT_EQ(dst, expected) << s.w << "x" << s.h << " threads " << nThreads;
            Frame f = src;
            MedianFilter3x3(f.data(), s.w, s.h);
            ASSERT_EQ(f, expected) << s.w << "x" << s.h << " in place, threads " << nThreads;
        }
    }
    LimitThreads(0);
}

INSTANTIATE_TEST_SUITE_P(Simd, MedianFilter, ::testing::ValuesIn(test::SimdLevels()),
                         [](const auto& info) { return test::SimdName(info.param); });

// ---- Cut ------------------------------------------------------------------------

TEST(CutImage, NoCutLeavesFullFrameUnchanged) {
    Frame f = RandomFrame(3072, 3072, 9);
    Frame before = f;
    EXPECT_TRUE(CutImage(f.data(), CImageGeometry{3072, 3072, 0, 0, 0, 0}));
    EXPECT_TRUE(f == before);
}

TEST(CutImage, FullFrameMatchesTheFixedStrideRule) {
    // At 3072 x 3072 the configured width is the fixed stride of 3072.
    Frame f = RandomFrame(3072, 3072, 10);
    Frame expected = f;
    literal::CutImage(expected.data(), 3072, 3072, 3, 5, 10, 0);
    CImageGeometry g{3072, 3072, 3, 5, 10, 0};
    EXPECT_TRUE(CutImage(f.data(), g));
    EXPECT_EQ(g.CutPixels(), size_t(3062) * 3064);
    EXPECT_TRUE(f == expected);
}

TEST(CutImage, UsesTheConfiguredWidthAsStride) {
    // 4 x 3 frame, cut one column each side and the top row.
    Frame f{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    EXPECT_TRUE(CutImage(f.data(), CImageGeometry{4, 3, 1, 0, 1, 1}));
    EXPECT_EQ(Frame(f.begin(), f.begin() + 4), (Frame{6, 7, 10, 11}));
    EXPECT_EQ(Frame(f.begin() + 4, f.end()), (Frame{5, 6, 7, 8, 9, 10, 11, 12}));  // the rest as it was

    for (CImageGeometry g : {CImageGeometry{100, 37, 0, 0, 0, 99}, CImageGeometry{100, 37, 36, 0, 0, 0},
                             CImageGeometry{100, 37, 5, 6, 7, 8}, CImageGeometry{1, 1, 0, 0, 0, 0}}) {
        Frame a = RandomFrame(g.nWidth, g.nHeight, 12);
        Frame b = a;
        literal::CutImage(b.data(), g.nWidth, g.nHeight, g.nCutTop, g.nCutBottom, g.nCutLeft, g.nCutRight);
        EXPECT_TRUE(CutImage(a.data(), g));
        EXPECT_EQ(a, b);
    }
}

TEST(CutImage, RefusesAGeometryThatLeavesNothing) {
    Frame f{1, 2, 3, 4};
    EXPECT_FALSE(CutImage(f.data(), CImageGeometry{2, 2, 0, 0, 1, 1}));
    EXPECT_FALSE(CutImage(f.data(), CImageGeometry{2, 2, -1, 0, 0, 0}));
    EXPECT_EQ(f, (Frame{1, 2, 3, 4}));
}

}  // namespace
}  // namespace orvi
