#include "display/WindowLevelLut.h"
#include "imaging/Parallel.h"
#include "imaging/SimdKernels.h"

#include "../imaging/LiteralRules.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

namespace orvi {
namespace {

struct Entry {
    int32_t nInput;
    int32_t nGrey;
};
struct TableCase {
    const char* szName;
    int32_t nWidth, nLevel;
    std::vector<Entry> entries;
};
void PrintTo(const TableCase& c, std::ostream* os) { *os << c.szName; }

class WindowLevelTable : public ::testing::TestWithParam<TableCase> {};

TEST_P(WindowLevelTable, EntriesOfTheExamples) {
    const TableCase& c = GetParam();
    CWLLUT lut;
    if (c.nWidth != kDefaultWindowWidth || c.nLevel != kDefaultWindowLevel) {
        ASSERT_TRUE(lut.SetWindowLevel(c.nWidth, c.nLevel));
    }
    for (const Entry& e : c.entries)
        EXPECT_EQ(int32_t(lut.Lookup(uint16_t(e.nInput))), e.nGrey) << "entry " << e.nInput;
}

INSTANTIATE_TEST_SUITE_P(
    Examples, WindowLevelTable,
    ::testing::Values(TableCase{"Default", 16383, 8191, {{0, 0}, {64, 1}, {8191, 127}, {16382, 254}, {16383, 255}}},
                      TableCase{"W100L1000",
                                100,
                                1000,
                                {{949, 0}, {950, 0}, {951, 2}, {1000, 127}, {1049, 252}, {1050, 255}, {16383, 255}}},
                      TableCase{
                          "W5L10", 5, 10, {{7, 0}, {8, 25}, {9, 76}, {10, 127}, {11, 178}, {12, 229}, {13, 255}}}),
    [](const auto& info) { return std::string(info.param.szName); });

TEST(WindowLevelTable, DefaultTableIsTheClosedForm) {
    CWLLUT lut;
    EXPECT_TRUE(lut.IsValid());
    EXPECT_TRUE(lut.m_bChanged);
    for (int32_t i = 0; i <= 16382; ++i) ASSERT_EQ(lut.m_pTable[i], int32_t((i + 0.5) * 255 / 16383)) << i;
    EXPECT_EQ(lut.m_pTable[16383], 255);
}

TEST(WindowLevelTable, BuildEqualsTheLiteralRule) {
    std::mt19937 rng(3);
    std::vector<std::pair<int32_t, int32_t>> windows{{16383, 8191}, {4, 2},     {4, 4},      {5, 10},
                                                     {0, 500},      {-30, 100}, {16383, 1},  {1, 16383},
                                                     {7777, 3333},  {2, 16382}, {100000, 5}, {3, -7}};
    for (int i = 0; i < 40; ++i) windows.emplace_back(int32_t(rng() % 16383) + 1, int32_t(rng() % 16383) + 1);
    for (auto [w, l] : windows) {
        unsigned char fast[kLutEntries], slow[kLutEntries];
        BuildWindowLevelTable(float(w), float(l), fast);
        literal::BuildLut(float(w), float(l), slow);
        ASSERT_EQ(0, std::memcmp(fast, slow, kLutEntries)) << "W=" << w << " L=" << l;
    }
}

TEST(WindowLevelTable, ChangesWithinOneAreSkipped) {
    CWLLUT lut;
    lut.m_bChanged = false;
    EXPECT_FALSE(lut.SetWindowLevel(16384, 8191));  // width one above: nothing changes
    EXPECT_FALSE(lut.SetWindowLevel(16382, 8192));
    EXPECT_FALSE(lut.m_bChanged);
    EXPECT_EQ(lut.m_fWidth, 16383.0f);
    EXPECT_EQ(lut.m_fLevel, 8191.0f);
    EXPECT_TRUE(lut.SetWindowLevel(16385, 8191));  // two above the stored width
    EXPECT_TRUE(lut.m_bChanged);
    EXPECT_EQ(lut.m_fWidth, 16385.0f);
    EXPECT_TRUE(lut.SetWindowLevel(16385, 8193));  // the level alone moved by 2
    EXPECT_EQ(lut.m_nMaxIn, 0x3FFF);
    EXPECT_EQ(lut.m_nMaxOut, 255);
}

TEST(WindowLevelTable, LookupStaysInsideTheTable) {
    CWLLUT lut;
    ASSERT_TRUE(lut.SetWindowLevel(100, 1000));
    EXPECT_EQ(lut.Lookup(0xFFFF), lut.Lookup(0x3FFF));  // masked to 14 bits
    EXPECT_EQ(lut.Lookup(16384 + 1000), lut.Lookup(1000));
    CLUT<unsigned char, unsigned short> base;
    EXPECT_EQ(base.Lookup(0x1234), 0x34);  // the base passes the low bits through
    EXPECT_TRUE(base.IsValid());
}

TEST(WindowLevelTable, ConvertLooksUpEveryPixelAtItsStrides) {
    CWLLUT lut;
    ASSERT_TRUE(lut.SetWindowLevel(3000, 5000));
    const size_t w = 1031, h = 1033, nSrcStride = 1040, nDstStride = 1032;  // large enough for threads
    std::vector<uint16_t> src(nSrcStride * h);
    std::mt19937 rng(5);
    for (auto& v : src) v = uint16_t(rng());
    std::vector<uint8_t> dst(nDstStride * h, 0xAB);
    lut.Convert(src.data(), w, h, nSrcStride, dst.data(), nDstStride);
    for (size_t r = 0; r < h; ++r)
        for (size_t c = 0; c < nDstStride; ++c)
            ASSERT_EQ(dst[r * nDstStride + c], c < w ? lut.Lookup(src[r * nSrcStride + c]) : 0xAB) << r << "," << c;
}

// Convert computes the greys in vector form: it must give every table entry,
// for odd windows, inverted or not, on each instruction set level.
TEST(WindowLevelTable, ConvertGivesTheTableForEveryInputWindowAndLevel) {
    struct Window {
        int nWidth, nLevel;
    };
    const Window windows[] = {{16383, 8191}, {3000, 5000},  {1, 0},     {2, 16383},  {0, 5000},
                              {7, 12345},    {40000, 8000}, {100, -50}, {-200, 300}, {16384, 0}};
    std::vector<uint16_t> src(65536);  // every 16-bit value, then a tail shorter than a vector
    for (size_t i = 0; i < src.size(); ++i) src[i] = uint16_t(i);
    src.insert(src.end(), {1, 16383, 16384, 65535, 8191, 3, 9, 12000, 200, 4000, 77, 5, 0});
    for (SimdLevel eLevel : {SimdLevel::Avx2, SimdLevel::Baseline}) {
        LimitSimdLevel(eLevel);
        for (bool bInvert : {false, true}) {
            for (const Window& win : windows) {
                CWLLUT lut;
                lut.SetInvert(bInvert);
                lut.SetWindowLevel(win.nWidth, win.nLevel);
                std::vector<uint8_t> dst(src.size(), 0xAB);
                lut.Convert(src.data(), src.size(), 1, src.size(), dst.data(), dst.size());
                for (size_t i = 0; i < src.size(); ++i)
                    ASSERT_EQ(dst[i], lut.Lookup(src[i]))
                        << "width " << win.nWidth << " level " << win.nLevel << " invert " << bInvert << " input "
                        << src[i] << " level " << int(eLevel);
            }
        }
    }
    LimitSimdLevel(SimdLevel::Avx2);

    // A frame large enough to be split between threads, at its strides, and on one thread.
    CWLLUT lut;
    lut.SetInvert(true);
    ASSERT_TRUE(lut.SetWindowLevel(5000, 7000));
    const size_t w = 2051, h = 1100, nSrcStride = 2060, nDstStride = 2056;
    std::vector<uint16_t> frame(nSrcStride * h);
    std::mt19937 rng(11);
    for (auto& v : frame) v = uint16_t(rng());
    for (size_t nThreads : {size_t{0}, size_t{1}}) {
        LimitThreads(nThreads);
        std::vector<uint8_t> grey(nDstStride * h, 0xAB);
        lut.Convert(frame.data(), w, h, nSrcStride, grey.data(), nDstStride);
        for (size_t r = 0; r < h; ++r)
            for (size_t c = 0; c < nDstStride; ++c)
                ASSERT_EQ(grey[r * nDstStride + c], c < w ? lut.Lookup(frame[r * nSrcStride + c]) : 0xAB)
                    << r << "," << c << " threads " << nThreads;
    }
    LimitThreads(0);
}

unsigned char* FailingAllocate(size_t) { return nullptr; }
int g_nAllocations = 0;
unsigned char* FailOnceAllocate(size_t n) { return g_nAllocations++ == 0 ? nullptr : new unsigned char[n]; }

TEST(WindowLevelTable, MissingStorageIsReportedAndRetried) {
    test::RecordingReport ui;
    CWLLUT lut(&ui, &FailingAllocate);
    EXPECT_FALSE(lut.IsValid());
    EXPECT_FALSE(lut.m_bChanged);
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].strText, "Memory less.");
    EXPECT_EQ(ui.boxes[0].strCaption, "Error");
    EXPECT_FALSE(lut.SetWindowLevel(100, 1000));
    EXPECT_EQ(ui.boxes.size(), 2u);
    EXPECT_EQ(lut.Lookup(5), 0);  // no table: nothing is read
    std::vector<uint8_t> dst(4, 9);
    std::vector<uint16_t> src(4, 1);
    lut.Convert(src.data(), 4, 1, 4, dst.data(), 4);
    EXPECT_EQ(dst, std::vector<uint8_t>(4, 9));

    g_nAllocations = 0;
    CWLLUT later(&ui, &FailOnceAllocate);
    EXPECT_FALSE(later.IsValid());
    EXPECT_TRUE(later.SetWindowLevel(100, 1000));  // a later change obtains the storage
    EXPECT_TRUE(later.IsValid());
    EXPECT_EQ(later.Lookup(1000), 127);
}

}  // namespace
}  // namespace orvi
