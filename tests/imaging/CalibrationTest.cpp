#include "imaging/Calibration.h"
#include "imaging/RawFile.h"

#include "ImagingTestSupport.h"
#include "LiteralRules.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace orvi {
namespace {

using test::Frame;
using test::RandomFrame;
using test::TempDir;

// ---- Gain rule ------------------------------------------------------------------

struct GainCase {
    uint16_t v, d, g;
    int32_t L;
    uint16_t expected;
};
void PrintTo(const GainCase& c, std::ostream* os) {
    *os << "v=" << c.v << " d=" << c.d << " g=" << c.g << " L=" << c.L;
}

class GainExamples : public ::testing::TestWithParam<GainCase> {};

TEST_P(GainExamples, PixelRule) {
    const GainCase& c = GetParam();
    Frame f{c.v}, d{c.d}, g{c.g};
    GainCorrect(f.data(), d.data(), g.data(), c.L, 1);
    EXPECT_EQ(f[0], c.expected);
    EXPECT_EQ(literal::GainPixel(c.v, c.d, c.g, c.L), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, GainExamples,
    ::testing::Values(GainCase{1100, 100, 5000, 10000, 2000},
                      GainCase{1100, 100, 500, 10000, 10000},                         // twice L: limited to L
                      GainCase{50, 100, 5000, 10000, 0},                              // negative: 0
                      GainCase{0, 100, 5000, 10000, 0},                               // a pixel of 0 stays 0
                      GainCase{0, 0, 0, 10000, 0}, GainCase{1100, 100, 0, 10000, 0},  // g = 0 gives 0
                      GainCase{3, 0, 3, 7, 7}, GainCase{1100, 100, 5000, 0, 0}, GainCase{1100, 100, 5000, -5, 0},
                      // Results are limited to 14 bits whatever the level.
                      GainCase{1100, 100, 100, 30000, 16383}, GainCase{1100, 100, 1000, 99999, 16383},
                      GainCase{1100, 100, 5000, 30000, 6000}),
    [](const auto& info) { return std::to_string(info.index); });

class GainKernel : public ::testing::TestWithParam<SimdLevel> {
protected:
    test::SimdScope m_simd{GetParam()};
};

TEST_P(GainKernel, EqualsLiteralRuleOnRandomFrames) {
    const int32_t w = 613, h = 1000;  // large enough to be split between threads
    Frame base = RandomFrame(w, h, 21), dark = RandomFrame(w, h, 22), ref = RandomFrame(w, h, 23);
    for (int32_t L : {10000, 10500, 1, 0, -5, 16383, 65535, 70000, 2147483647}) {
        Frame f = base, expected = base;
        literal::Gain(expected.data(), dark.data(), ref.data(), L, expected.size());
        GainCorrect(f.data(), dark.data(), ref.data(), L, f.size());
        ASSERT_EQ(f, expected) << "L=" << L;
    }
}

INSTANTIATE_TEST_SUITE_P(Simd, GainKernel, ::testing::ValuesIn(test::SimdLevels()),
                         [](const auto& info) { return test::SimdName(info.param); });

// ---- Gain from the calibration folder ---------------------------------------

class GainFromSets : public ::testing::Test {
protected:
    static constexpr int32_t kW = 24, kH = 10;
    void Put(const std::string& strName, const Frame& f) { test::WriteRaw(m_dir.file(strName), f); }
    Frame Run(const Frame& frame, CGainResult* pResult = nullptr) {
        Frame f = frame;
        CGainResult r = ApplyGainFromSets(f.data(), kW, kH, m_dir.dir(), m_ui);
        if (pResult) *pResult = r;
        return f;
    }
    TempDir m_dir;
    test::RecordingReport m_ui;
    test::LogCapture m_log;
    Frame m_image = RandomFrame(kW, kH, 31);
};

TEST_F(GainFromSets, ReferenceIsTheBrightNearestTo10000) {
    Put("BRIGHT_09000.RAW", RandomFrame(kW, kH, 1));
    Put("BRIGHT_10500.RAW", RandomFrame(kW, kH, 2));
    Put("DARK_00100.RAW", RandomFrame(kW, kH, 3));
    CGainResult r;
    Frame f = Run(m_image, &r);
    EXPECT_EQ(r.strReferenceFile, "BRIGHT_10500.RAW");
    EXPECT_EQ(r.strDarkFile, "DARK_00100.RAW");
    EXPECT_EQ(r.nLevel, 10500);
    Frame expected = m_image;
    ASSERT_TRUE(literal::ApplyGainFromSets(expected.data(), kW, kH, m_dir.dir()));
    EXPECT_EQ(f, expected);
    EXPECT_TRUE(m_ui.boxes.empty());
}

TEST_F(GainFromSets, TieGoesToTheFirstListed) {
    Put("BRIGHT_09500.RAW", RandomFrame(kW, kH, 1));
    Put("BRIGHT_10500.RAW", RandomFrame(kW, kH, 2));
    Put("DARK_00100.RAW", RandomFrame(kW, kH, 3));
    CGainResult r;
    Frame f = Run(m_image, &r);
    EXPECT_EQ(r.strReferenceFile, "BRIGHT_09500.RAW");
    Frame expected = m_image;
    literal::ApplyGainFromSets(expected.data(), kW, kH, m_dir.dir());
    EXPECT_EQ(f, expected);
}

TEST_F(GainFromSets, ManyBrightsEqualTheLiteralSet) {
    for (int32_t nLevel : {500, 3000, 9990, 10010, 12000, 16000}) {
        Frame b = RandomFrame(kW, kH, uint32_t(nLevel));
        Put(LevelFileName(kPrefixBright, nLevel), b);
    }
    Put("DARK_00200.RAW", RandomFrame(kW, kH, 7));
    Put("BPM.RAW", Frame(kW * kH, 0));  // not a calibration file
    CGainResult r;
    Frame f = Run(m_image, &r);
    EXPECT_EQ(r.strReferenceFile, "BRIGHT_09990.RAW");
    Frame expected = m_image;
    literal::ApplyGainFromSets(expected.data(), kW, kH, m_dir.dir());
    EXPECT_EQ(f, expected);
}

// A bright file named above the 14-bit range (copied or named by hand):
// the corrected image still stays within 0 .. 16383, never wrapping.
TEST_F(GainFromSets, BrightLevelsAbove16383GiveResultsWithin14Bits) {
    for (auto [szBright, nHalfBeam] : {std::pair{"BRIGHT_30000.RAW", 15000}, std::pair{"BRIGHT_99999.RAW", 16383}}) {
        std::filesystem::remove_all(m_dir.dir());
        std::filesystem::create_directories(m_dir.dir());
        Put(szBright, Frame(kW * kH, 2000));
        Put("DARK_00100.RAW", Frame(kW * kH, 100));
        Frame image(kW * kH, 2100);  // the open beam: L x 2000 / 2000
        image[1] = 1100;             // half the beam
        image[2] = 50;               // below the dark
        CGainResult r;
        Frame f = Run(image, &r);
        ASSERT_TRUE(r.bApplied) << szBright;
        EXPECT_EQ(f[0], 16383) << szBright;
        EXPECT_EQ(f[1], nHalfBeam) << szBright;  // L / 2, within 14 bits
        EXPECT_EQ(f[2], 0) << szBright;
        EXPECT_EQ(*std::max_element(f.begin(), f.end()), 16383) << szBright;
        Frame expected = image;
        literal::ApplyGainFromSets(expected.data(), kW, kH, m_dir.dir());
        EXPECT_EQ(f, expected) << szBright;
    }
}

TEST_F(GainFromSets, FewerThanTwoFilesLeaveTheImage) {
    Put("DARK_00100.RAW", RandomFrame(kW, kH, 3));
    Put("BPM.RAW", RandomFrame(kW, kH, 4));
    EXPECT_EQ(Run(m_image), m_image);
    EXPECT_EQ(m_ui.texts(), std::vector<std::string>{"Need more bright files!!"});
    EXPECT_EQ(m_ui.boxes[0].eIcon, MessageIcon::Warning);
}

TEST_F(GainFromSets, TwoBrightsAndNoDarkTakeTheLastBrightAsDark) {
    Put("BRIGHT_08000.RAW", RandomFrame(kW, kH, 1));
    Put("BRIGHT_09000.RAW", RandomFrame(kW, kH, 2));
    CGainResult r;
    Frame f = Run(m_image, &r);
    EXPECT_EQ(r.strDarkFile, "BRIGHT_09000.RAW");
    EXPECT_EQ(LevelFromFileName(r.strDarkFile, kPrefixDark), 0);
    Frame expected = m_image;
    literal::ApplyGainFromSets(expected.data(), kW, kH, m_dir.dir());
    EXPECT_EQ(f, expected);
}

TEST_F(GainFromSets, ShortFilesAreRefusedLongerFilesReadTheirFirstPixels) {
    // The nearest bright is too short: refused with its message and a log
    // line; the next one serves. The dark is longer than a frame.
    Frame b1 = RandomFrame(kW, kH, 1);
    Put("BRIGHT_08000.RAW", b1);
    test::WriteFile(m_dir.file("BRIGHT_10000.RAW"), std::string(kW * kH * 2 - 1, '\x10'));
    Frame dark = RandomFrame(kW, kH + 3, 3);
    Put("DARK_00100.RAW", dark);
    CGainResult r;
    Frame f = Run(m_image, &r);
    EXPECT_EQ(r.strReferenceFile, "BRIGHT_08000.RAW");
    EXPECT_EQ(m_ui.texts(), std::vector<std::string>{"Bright file open fail!!"});
    ASSERT_EQ(m_log.Messages().size(), 1u);
    EXPECT_EQ(m_log.Messages()[0], "Bright file too short: " + m_dir.file("BRIGHT_10000.RAW") + " holds " +
                                       std::to_string(kW * kH * 2 - 1) + " bytes, " + std::to_string(kW * kH * 2) +
                                       " needed");
    Frame expected = m_image;
    literal::Gain(expected.data(), dark.data(), b1.data(), 8000, expected.size());
    EXPECT_EQ(f, expected);
}

TEST_F(GainFromSets, UnreadableDarkIsReportedAndTheImageLeftUncorrected) {
    Put("BRIGHT_10000.RAW", RandomFrame(kW, kH, 1));
    test::WriteFile(m_dir.file("DARK_00100.RAW"), "short");
    EXPECT_EQ(Run(m_image), m_image);
    EXPECT_EQ(m_ui.texts(), std::vector<std::string>{"Dark file open fail!!"});
    EXPECT_EQ(m_log.Messages().size(), 1u);
}

TEST_F(GainFromSets, FileThatCannotBeOpenedIsReportedAndTheWalkGoesOn) {
    // A dangling link is listed like a file but cannot be opened (also by root).
    std::filesystem::create_symlink(m_dir.file("nowhere"), m_dir.path() / "BRIGHT_10000.RAW");
    Frame b = RandomFrame(kW, kH, 2), d = RandomFrame(kW, kH, 3);
    Put("BRIGHT_12000.RAW", b);
    Put("DARK_00100.RAW", d);
    CGainResult r;
    Frame f = Run(m_image, &r);
    EXPECT_EQ(m_ui.texts(), std::vector<std::string>{"Bright file open fail!!"});
    EXPECT_TRUE(m_log.Messages().empty());
    EXPECT_EQ(r.strReferenceFile, "BRIGHT_12000.RAW");
    Frame expected = m_image;
    literal::Gain(expected.data(), d.data(), b.data(), 12000, expected.size());
    EXPECT_EQ(f, expected);
}

// ---- Bad pixel map ------------------------------------------------------------

TEST(BadPixels, DefectivePixelTakesTheMeanOfItsGoodNeighbours) {
    const int32_t w = 9, h = 9;
    Frame f(size_t(w) * h), map(size_t(w) * h, 0);
    for (size_t i = 0; i < f.size(); ++i) f[i] = uint16_t(100 + i);
    auto at = [&](int32_t r, int32_t c) -> size_t { return size_t(r) * w + c; };

    // (2, 2): eight good neighbours.
    map[at(2, 2)] = 8192;
    // (6, 6) inside a 3 x 3 cluster: mean of the good pixels of its 5 x 5.
    for (int32_t r = 5; r <= 7; ++r)
        for (int32_t c = 5; c <= 7; ++c) map[at(r, c)] = 1;
    // Corner (0, 0): only (0, 1), (1, 0), (1, 1) are inside the frame.
    map[at(0, 0)] = 8192;
    Frame out = f;
    BadPixelCorrect(out.data(), map.data(), w, h);

    int32_t s = 0;
    for (int32_t r = 1; r <= 3; ++r)
        for (int32_t c = 1; c <= 3; ++c)
            if (!(r == 2 && c == 2)) s += f[at(r, c)];
    EXPECT_EQ(out[at(2, 2)], s / 8);
    int32_t s5 = 0, n5 = 0;
    for (int32_t r = 4; r <= 8; ++r)
        for (int32_t c = 4; c <= 8; ++c)
            if (map[at(r, c)] == 0) {
                s5 += f[at(r, c)];
                ++n5;
            }
    EXPECT_EQ(out[at(6, 6)], s5 / n5);
    EXPECT_EQ(out[at(0, 0)], (f[at(0, 1)] + f[at(1, 0)] + f[at(1, 1)]) / 3);
}

TEST(BadPixels, CentreOfA5x5ClusterKeepsItsValue) {
    const int32_t w = 7, h = 7;
    Frame f(size_t(w) * h, 500), map(size_t(w) * h, 0);
    for (int32_t r = 1; r <= 5; ++r)
        for (int32_t c = 1; c <= 5; ++c) map[size_t(r) * w + c] = 8192;
    f[3 * w + 3] = 4321;
    BadPixelCorrect(f.data(), map.data(), w, h);
    EXPECT_EQ(f[3 * w + 3], 4321);
    EXPECT_EQ(f[1 * w + 1], 500);
}

TEST(BadPixels, EqualsLiteralRuleOnRandomMaps) {
    struct Case {
        int32_t w, h, nPercent;
    };
    for (Case c :
         {Case{1, 1, 100}, Case{5, 3, 50}, Case{40, 30, 1}, Case{40, 30, 30}, Case{97, 71, 90}, Case{1024, 1100, 1}}) {
        Frame f = RandomFrame(c.w, c.h, 41), map(size_t(c.w) * c.h, 0);
        std::mt19937 rng(uint32_t(c.w + c.nPercent));
        for (auto& m : map) m = int32_t(rng() % 100) < c.nPercent ? uint16_t(1 + rng() % 65535) : 0;
        Frame expected = f;
        literal::BadPixelMap(expected.data(), map.data(), c.w, c.h);
        BadPixelCorrect(f.data(), map.data(), c.w, c.h);
        ASSERT_EQ(f, expected) << c.w << "x" << c.h << " " << c.nPercent << "%";
    }
}

class BadPixelMapFile : public ::testing::Test {
protected:
    TempDir m_dir;
    test::RecordingReport m_ui;
    test::LogCapture m_log;
};

TEST_F(BadPixelMapFile, MissingOrShortMapLeavesTheImage) {
    Frame f = RandomFrame(8, 8, 1), before = f;
    EXPECT_FALSE(ApplyBadPixelMap(f.data(), 8, 8, m_dir.dir(), m_ui));
    test::WriteFile(m_dir.file("BPM.RAW"), std::string(127, '\0'));
    EXPECT_FALSE(ApplyBadPixelMap(f.data(), 8, 8, m_dir.dir(), m_ui));
    EXPECT_EQ(f, before);
    EXPECT_EQ(m_ui.texts(), (std::vector<std::string>{"BPM file open fail!!", "BPM file open fail!!"}));
    EXPECT_EQ(m_log.Messages(), std::vector<std::string>{"BPM file too short: " + m_dir.file("BPM.RAW") +
                                                         " holds 127 bytes, 128 needed"});
}

TEST_F(BadPixelMapFile, LongerMapUsesItsFirstPixels) {
    Frame map(8 * 8 + 10, 0);
    map[9] = 8192;
    map[8 * 8 + 1] = 8192;  // beyond the frame: ignored
    test::WriteRaw(m_dir.file("BPM.RAW"), map);
    Frame f(64, 100);
    f[9] = 9999;
    f[1] = 5000;
    EXPECT_TRUE(ApplyBadPixelMap(f.data(), 8, 8, m_dir.dir(), m_ui));
    EXPECT_EQ(f[9], (5000 + 7 * 100) / 8);
    EXPECT_EQ(f[1], 5000);
    EXPECT_TRUE(m_ui.boxes.empty());
}

}  // namespace
}  // namespace orvi
