#include "imaging/BadPixelMap.h"
#include "imaging/RawFile.h"

#include "ImagingTestSupport.h"
#include "LiteralRules.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace orvi {
namespace {

using test::DetectorFrame;
using test::Frame;
using test::RandomFrame;
using test::TempDir;

Frame MakeMap(const Frame& dark, const Frame& bright, int32_t w, int32_t h, const CBpmThresholds& t = {}) {
    Frame map(size_t(w) * h, 0xEEEE);
    EXPECT_TRUE(MakeBadPixelMap(dark.data(), bright.data(), w, h, t, map.data()));
    return map;
}

Frame LiteralMap(const Frame& dark, const Frame& bright, int32_t w, int32_t h, const CBpmThresholds& t = {}) {
    Frame map(size_t(w) * h);
    literal::MakeBpm(dark.data(), bright.data(), w, h, t.nAreaBright, t.nAreaDark, t.nLineBright, t.nLineDark,
                     map.data());
    return map;
}

size_t Marked(const Frame& map) { return size_t(std::count(map.begin(), map.end(), kBadPixelMark)); }

// ---- The rule's examples on one full 256 x 256 block --------------------------

constexpr int32_t kSide = 256;
size_t At(int32_t r, int32_t c) { return size_t(r) * kSide + c; }

TEST(MakeBadPixelMap, AreaBoundsOf8PercentPass) {
    Frame bright(kSide * kSide, 1000), dark(kSide * kSide, 100);
    // Spread apart so the line test cannot see them (|x - x/5| stays within 500).
    bright[At(20, 20)] = 1081;
    bright[At(60, 60)] = 919;
    bright[At(100, 100)] = 1080;
    bright[At(140, 140)] = 920;
    Frame map = MakeMap(dark, bright, kSide, kSide);
    EXPECT_EQ(map[At(20, 20)], kBadPixelMark);
    EXPECT_EQ(map[At(60, 60)], kBadPixelMark);
    EXPECT_EQ(map[At(100, 100)], 0);
    EXPECT_EQ(map[At(140, 140)], 0);
    EXPECT_EQ(Marked(map), 2u);
    EXPECT_EQ(map, LiteralMap(dark, bright, kSide, kSide));
}

struct SpikeCase {
    int32_t x;
    std::vector<std::pair<int32_t, int32_t>> marked;  // (row offset, column offset) from the spike
};
void PrintTo(const SpikeCase& c, std::ostream* os) { *os << "x=" << c.x; }

class SpikeOnUniformBright : public ::testing::TestWithParam<SpikeCase> {};

TEST_P(SpikeOnUniformBright, MarksAsTheRuleSays) {
    const SpikeCase& c = GetParam();
    Frame bright(kSide * kSide, 10000), dark(kSide * kSide, 100);
    bright[At(100, 50)] = uint16_t(10000 + c.x);
    Frame map = MakeMap(dark, bright, kSide, kSide);
    Frame expected(kSide * kSide, 0);
    for (auto [dr, dc] : c.marked) expected[At(100 + dr, 50 + dc)] = kBadPixelMark;
    EXPECT_EQ(map, expected);
    EXPECT_EQ(map, LiteralMap(dark, bright, kSide, kSide));
}

INSTANTIATE_TEST_SUITE_P(Examples, SpikeOnUniformBright,
                         ::testing::Values(SpikeCase{625, {}},         // x - x/5 = 500: not above the line threshold
                                           SpikeCase{626, {{0, 0}}},   // line test only
                                           SpikeCase{800, {{0, 0}}},   // 10800 is the area bound itself
                                           SpikeCase{801, {{0, 0}}},   // area test
                                           SpikeCase{2504, {{0, 0}}},  // neighbours: 2504 / 5 = 500
                                           SpikeCase{2505, {{-2, 0}, {-1, 0}, {0, 0}, {1, 0}, {2, 0}}}),
                         [](const auto& info) { return std::string("x").append(std::to_string(info.param.x)); });

TEST(MakeBadPixelMap, EdgeRowsAreFoundOnlyByTheAreaTest) {
    for (int32_t r : {0, 1, kSide - 2, kSide - 1}) {
        Frame bright(kSide * kSide, 10000), dark(kSide * kSide, 100);
        bright[At(r, 30)] = 10700;  // the line test would mark it, the area test does not
        bright[At(r, 90)] = 10900;  // the area test marks it
        Frame map = MakeMap(dark, bright, kSide, kSide);
        EXPECT_EQ(map[At(r, 30)], 0) << r;
        EXPECT_EQ(map[At(r, 90)], kBadPixelMark) << r;
        EXPECT_EQ(map, LiteralMap(dark, bright, kSide, kSide));
    }
}

TEST(MakeBadPixelMap, AreaOfZeroMarksEveryPixelOffItsBlockMean) {
    Frame bright(kSide * kSide, 2000), dark(kSide * kSide, 100);
    bright[At(10, 10)] = 2001;
    dark[At(200, 3)] = 101;
    CBpmThresholds t;
    t.nAreaBright = 0;
    t.nAreaDark = 0;
    Frame map = MakeMap(dark, bright, kSide, kSide, t);
    EXPECT_EQ(Marked(map), 2u);
    EXPECT_EQ(map[At(10, 10)], kBadPixelMark);
    EXPECT_EQ(map[At(200, 3)], kBadPixelMark);
}

// ---- Exactness on detector-like and random frames ---------------------------

struct MapCase {
    const char* szName;
    int32_t w, h;
    CBpmThresholds t;
    bool bRandom;  // random pixels instead of detector-like ones
};
void PrintTo(const MapCase& c, std::ostream* os) { *os << c.szName; }

class MakeBadPixelMapExact : public ::testing::TestWithParam<std::tuple<MapCase, SimdLevel>> {};

TEST_P(MakeBadPixelMapExact, EqualsTheLiteralRule) {
    const auto& [c, eLevel] = GetParam();
    test::SimdScope simd(eLevel);
    Frame bright = c.bRandom ? RandomFrame(c.w, c.h, 1) : DetectorFrame(c.w, c.h, 9000, 300, 1);
    Frame dark = c.bRandom ? RandomFrame(c.w, c.h, 2) : DetectorFrame(c.w, c.h, 400, 40, 2);
    Frame map = MakeMap(dark, bright, c.w, c.h, c.t);
    EXPECT_EQ(map, LiteralMap(dark, bright, c.w, c.h, c.t));
    EXPECT_EQ(Marked(map) + size_t(std::count(map.begin(), map.end(), 0)), map.size());  // only 0 and 8192
}

const MapCase kMapCases[] = {
    {"Default", 1024, 520, {}, false},  // full and partial blocks
    {"Tight", 600, 300, {2, 3, 50, 20}, false},
    {"Zero", 300, 260, {0, 0, 0, 0}, false},
    {"NegativeBoxes", 300, 260, {-1, -100, -1, -5}, false},  // huge area bounds, every line marked
    {"Wide", 300, 260, {150, 200, 100000, 100000}, false},
    {"Random", 520, 300, {}, true},
    {"RandomTight", 257, 257, {1, 1, 10, 10}, true},
    {"Tiny", 3, 2, {}, true},
    {"OneColumn", 1, 600, {}, false},
    {"OneRow", 700, 1, {}, false},
};

INSTANTIATE_TEST_SUITE_P(Cases, MakeBadPixelMapExact,
                         ::testing::Combine(::testing::ValuesIn(kMapCases), ::testing::ValuesIn(test::SimdLevels())),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).szName) + "_" +
                                    test::SimdName(std::get<1>(info.param));
                         });

TEST(MakeBadPixelMap, RefusesSizesBeyondTheBlockTables) {
    Frame one(1, 0), map(1, 7);
    EXPECT_FALSE(MakeBadPixelMap(one.data(), one.data(), 0, 1, {}, map.data()));
    EXPECT_FALSE(MakeBadPixelMap(one.data(), one.data(), 96 * 256 + 1, 1, {}, map.data()));
    EXPECT_EQ(map[0], 7);
}

// ---- The MAKE BPM command -------------------------------------------------------

class MakeBpmCommand : public ::testing::Test {
protected:
    static constexpr int32_t kW = 300, kH = 260;
    void Put(const std::string& strName, const Frame& f) { test::WriteRaw(m_dir.file(strName), f); }
    MakeBpmResult Run(const std::vector<std::string>& list) {
        return RunMakeBpm(list, m_dir.dir(), kW, kH, CBpmThresholds{}, m_ui);
    }
    TempDir m_dir;
    test::RecordingReport m_ui;
    test::LogCapture m_log;
    Frame m_dark = DetectorFrame(kW, kH, 400, 40, 5);
    Frame m_bright1 = DetectorFrame(kW, kH, 1000, 100, 6);
    Frame m_bright2 = DetectorFrame(kW, kH, 2000, 150, 7);
};

TEST_F(MakeBpmCommand, UsesTheDarkAndTheLastBright) {
    Put("BRIGHT_01000.RAW", m_bright1);
    Put("BRIGHT_02000.RAW", m_bright2);
    Put("DARK_00400.RAW", m_dark);
    std::vector<std::string> list = ListCalibrationFiles(m_dir.dir());
    EXPECT_EQ(Run(list), MakeBpmResult::Written);
    EXPECT_TRUE(m_ui.boxes.empty());
    Frame written = test::ReadRaw(m_dir.file("BPM.RAW"));
    EXPECT_EQ(test::ReadFile(m_dir.file("BPM.RAW")).size(), size_t(kW) * kH * 2);
    EXPECT_EQ(written, LiteralMap(m_dark, m_bright2, kW, kH));
    EXPECT_NE(written, LiteralMap(m_dark, m_bright1, kW, kH));
}

TEST_F(MakeBpmCommand, MisnamedOrMissingEntriesStopWithTheirMessage) {
    test::WriteFile(m_dir.file("BPM.RAW"), "old map");
    Put("BRIGHT_01000.RAW", m_bright1);
    Put("BRIGHT_02000.RAW", m_bright2);
    EXPECT_EQ(Run({"BRIGHT_01000.RAW"}), MakeBpmResult::TooFewFiles);
    EXPECT_TRUE(m_ui.boxes.empty());
    EXPECT_EQ(Run({"BRIGHT_01000.RAW", "BRIGHT_02000.RAW"}), MakeBpmResult::NoDark);
    EXPECT_EQ(Run({"DARK_00400.RAW", "DARK_00400.RAW"}), MakeBpmResult::DarkOpenFailed);
    Put("DARK_00400.RAW", m_dark);
    EXPECT_EQ(Run({"DARK_00300.RAW", "DARK_00400.RAW"}), MakeBpmResult::NoBright);
    EXPECT_EQ(Run({"BRIGHT_03000.RAW", "DARK_00400.RAW"}), MakeBpmResult::BrightOpenFailed);
    EXPECT_EQ(m_ui.texts(), (std::vector<std::string>{"DARK file don`t exist!!", "Dark file open fail!!",
                                                      "BRIGHT file don`t exist!!", "Bright file open fail!!"}));
    EXPECT_EQ(test::ReadFile(m_dir.file("BPM.RAW")), "old map");
}

TEST_F(MakeBpmCommand, ShortFilesAreRefusedAndLogged) {
    Put("BRIGHT_01000.RAW", m_bright1);
    test::WriteFile(m_dir.file("DARK_00400.RAW"), std::string(1000, '\0'));
    EXPECT_EQ(Run({"BRIGHT_01000.RAW", "DARK_00400.RAW"}), MakeBpmResult::DarkOpenFailed);
    Put("DARK_00400.RAW", m_dark);
    test::WriteFile(m_dir.file("BRIGHT_01000.RAW"), std::string(kW * kH * 2 - 2, '\0'));
    EXPECT_EQ(Run({"BRIGHT_01000.RAW", "DARK_00400.RAW"}), MakeBpmResult::BrightOpenFailed);
    EXPECT_EQ(m_ui.texts(), (std::vector<std::string>{"Dark file open fail!!", "Bright file open fail!!"}));
    EXPECT_EQ(m_log.Messages(),
              (std::vector<std::string>{
                  "Dark file too short: " + m_dir.file("DARK_00400.RAW") + " holds 1000 bytes, 156000 needed",
                  "Bright file too short: " + m_dir.file("BRIGHT_01000.RAW") + " holds 155998 bytes, 156000 needed"}));
    EXPECT_FALSE(std::filesystem::exists(m_dir.file("BPM.RAW")));
}

TEST_F(MakeBpmCommand, MapThatCannotBeWrittenIsReported) {
    Put("BRIGHT_01000.RAW", m_bright1);
    Put("DARK_00400.RAW", m_dark);
    std::filesystem::create_directory(m_dir.path() / "BPM.RAW");
    EXPECT_EQ(Run({"BRIGHT_01000.RAW", "DARK_00400.RAW"}), MakeBpmResult::CreateFailed);
    EXPECT_EQ(m_ui.texts(), std::vector<std::string>{"BPM file creation fail!!"});
    EXPECT_EQ(test::ListFiles(m_dir.dir()), (std::vector<std::string>{"BRIGHT_01000.RAW", "DARK_00400.RAW"}));
}

}  // namespace
}  // namespace orvi
