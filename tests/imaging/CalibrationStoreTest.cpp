// The calibration store loads the folder's reference bright and BPM.RAW once
// and again after every kind of change a host can make to the folder; the
// corrections from its set equal the literal rules on the files as they are.
#include "imaging/BadPixelMap.h"
#include "imaging/Calibration.h"
#include "imaging/CalibrationStore.h"
#include "imaging/RawFile.h"

#include "ImagingTestSupport.h"
#include "LiteralRules.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <functional>

namespace orvi {
namespace {

using test::Frame;

constexpr int32_t kW = 64, kH = 48;

Frame SparseMap(uint32_t nSeed) {
    Frame m(size_t(kW) * kH, 0);
    for (size_t i = nSeed % 7; i < m.size(); i += 37 + nSeed % 5) m[i] = kBadPixelMark;
    return m;
}

class CalibrationStore : public ::testing::Test {
protected:
    void SetUp() override {
        test::WriteRaw(m_dir.file("BRIGHT_09000.RAW"), test::RandomFrame(kW, kH, 1));
        test::WriteRaw(m_dir.file("BRIGHT_11000.RAW"), test::RandomFrame(kW, kH, 2));
        test::WriteRaw(m_dir.file("DARK_00100.RAW"), test::RandomFrame(kW, kH, 3));
        test::WriteRaw(m_dir.file(kBpmFileName), SparseMap(4));
    }

    // Gain and bad pixel correction from the store's set, against the literal
    // rules reading the folder.
    void ExpectCorrectionsFromFiles(const CCalibrationSet& set) {
        Frame image = test::RandomFrame(kW, kH, 99), expected = image;
        ASSERT_TRUE(literal::ApplyGainFromSets(expected.data(), kW, kH, m_dir.dir()));
        ASSERT_TRUE(literal::ApplyBadPixelMap(expected.data(), kW, kH, m_dir.dir()));
        test::RecordingReport ui;
        EXPECT_TRUE(ApplyGainFromSets(image.data(), kW, kH, m_dir.dir(), ui, nullptr, {}, &set).bApplied);
        EXPECT_TRUE(ApplyBadPixelMap(image.data(), kW, kH, m_dir.dir(), ui, &set));
        EXPECT_EQ(image, expected);
        EXPECT_TRUE(ui.boxes.empty());
    }

    test::TempDir m_dir;
    CCalibrationStore m_store;
};

TEST_F(CalibrationStore, KeepsTheSetWhileTheFolderIsUnchanged) {
    auto p1 = m_store.Get(m_dir.dir(), kW, kH);
    auto p2 = m_store.Get(m_dir.dir(), kW, kH);
    EXPECT_EQ(p1, p2);
    EXPECT_EQ(m_store.Generation(), 1u);
    EXPECT_EQ(p1->strReference, "BRIGHT_09000.RAW");  // the first of two at the same distance
    EXPECT_EQ(p1->nLevel, 9000);
    EXPECT_EQ(p1->bpm, SparseMap(4));
    ExpectCorrectionsFromFiles(*p1);
    // A new dark file (one comes with every exposure) changes nothing the set holds.
    test::WriteRaw(m_dir.file("DARK_00200.RAW"), test::RandomFrame(kW, kH, 8));
    std::filesystem::remove(m_dir.file("DARK_00100.RAW"));
    EXPECT_EQ(m_store.Get(m_dir.dir(), kW, kH), p1);
    ExpectCorrectionsFromFiles(*p1);
    // Another frame size is another set.
    EXPECT_NE(m_store.Get(m_dir.dir(), kW, kH - 1), p1);
}

// With the dark from memory the gain step takes the folder's listing and
// file checks from the set: it reports and chooses exactly as when it looks
// at the folder itself, at every exposure, and sees the folder change.
TEST_F(CalibrationStore, TheSetsListingReportsWhatTheFolderWould) {
    test::WriteFile(m_dir.file("BRIGHT_10000.RAW"), "short");
    ASSERT_EQ(::symlink("nowhere", m_dir.file("BRIGHT_10100.RAW").c_str()), 0);
    const Frame dark = test::RandomFrame(kW, kH, 3);
    auto gainBoth = [&](const char* szWhen) {
        SCOPED_TRACE(szWhen);
        auto pSet = m_store.Get(m_dir.dir(), kW, kH);
        Frame fromSet = test::RandomFrame(kW, kH, 99), fromFolder = fromSet;
        test::RecordingReport uiSet, uiFolder;
        test::LogCapture logSet;
        const CGainResult rSet =
            ApplyGainFromSets(fromSet.data(), kW, kH, m_dir.dir(), uiSet, dark.data(), "DARK_00100.RAW", pSet.get());
        const std::vector<std::string> linesSet = logSet.Messages();
        test::LogCapture logFolder;
        const CGainResult rFolder =
            ApplyGainFromSets(fromFolder.data(), kW, kH, m_dir.dir(), uiFolder, dark.data(), "DARK_00100.RAW");
        EXPECT_EQ(uiSet.texts(), uiFolder.texts());
        EXPECT_EQ(linesSet, logFolder.Messages());
        EXPECT_EQ(rSet.strReferenceFile, rFolder.strReferenceFile);
        EXPECT_EQ(fromSet, fromFolder);
        return uiSet.texts();
    };
    const std::vector<std::string> twoFailures{kBrightFileOpenFail, kBrightFileOpenFail};
    EXPECT_EQ(gainBoth("first"), twoFailures);
    EXPECT_EQ(gainBoth("again, from the same set"), twoFailures);
    EXPECT_EQ(m_store.Generation(), 1u);
    test::WriteRaw(m_dir.file("BRIGHT_10000.RAW"), test::RandomFrame(kW, kH, 5));
    std::filesystem::remove(m_dir.file("BRIGHT_10100.RAW"));
    EXPECT_EQ(gainBoth("after the folder changed"), std::vector<std::string>{});
    EXPECT_EQ(m_store.Generation(), 2u);
}

struct Change {
    const char* szName;
    std::function<void(const test::TempDir&)> fnChange;
    const char* szReference;  // after the change
};
void PrintTo(const Change& c, std::ostream* os) { *os << c.szName; }

class CalibrationStoreChange : public CalibrationStore, public ::testing::WithParamInterface<Change> {};

// Writes new content under a hidden name, gives it the old file's times and
// renames it over the old one: size and mtime stay, the inode changes.
void ReplaceKeepingSizeAndTime(const std::string& strPath, const Frame& f) {
    struct stat st {};
    ASSERT_EQ(::stat(strPath.c_str(), &st), 0);
    const std::string strTemp = strPath + ".new";
    test::WriteRaw(strTemp, f);
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, strTemp.c_str(), times, 0), 0);
    ASSERT_EQ(std::rename(strTemp.c_str(), strPath.c_str()), 0);
}

TEST_P(CalibrationStoreChange, LoadsAgainAfterTheChange) {
    auto pBefore = m_store.Get(m_dir.dir(), kW, kH);
    GetParam().fnChange(m_dir);
    auto pAfter = m_store.Get(m_dir.dir(), kW, kH);
    EXPECT_NE(pAfter, pBefore);
    EXPECT_EQ(pAfter->nGeneration, pBefore->nGeneration + 1);
    EXPECT_EQ(pAfter->strReference, GetParam().szReference);
    ExpectCorrectionsFromFiles(*pAfter);
    EXPECT_EQ(m_store.Get(m_dir.dir(), kW, kH), pAfter);  // and keeps it
}

INSTANTIATE_TEST_SUITE_P(
    Folder, CalibrationStoreChange,
    ::testing::Values(
        Change{"BrightAdded",
               [](const test::TempDir& d) { test::WriteRaw(d.file("BRIGHT_10000.RAW"), test::RandomFrame(kW, kH, 5)); },
               "BRIGHT_10000.RAW"},
        Change{"ReferenceRemoved", [](const test::TempDir& d) { std::filesystem::remove(d.file("BRIGHT_09000.RAW")); },
               "BRIGHT_11000.RAW"},
        Change{"ReplacedSameSizeAndTimeNewInode",
               [](const test::TempDir& d) {
                   ReplaceKeepingSizeAndTime(d.file("BRIGHT_09000.RAW"), test::RandomFrame(kW, kH, 6));
               },
               "BRIGHT_09000.RAW"},
        Change{"RewrittenInPlace",
               [](const test::TempDir& d) { test::WriteRaw(d.file("BRIGHT_09000.RAW"), test::RandomFrame(kW, kH, 7)); },
               "BRIGHT_09000.RAW"},
        Change{"Touched",
               [](const test::TempDir& d) {
                   const struct timespec times[2] = {{0, UTIME_NOW}, {1234567, 0}};
                   ASSERT_EQ(::utimensat(AT_FDCWD, d.file("BRIGHT_11000.RAW").c_str(), times, 0), 0);
               },
               "BRIGHT_09000.RAW"},
        Change{"BpmReplaced",
               [](const test::TempDir& d) { ReplaceKeepingSizeAndTime(d.file(kBpmFileName), SparseMap(8)); },
               "BRIGHT_09000.RAW"}),
    [](const auto& info) { return std::string(info.param.szName); });

}  // namespace
}  // namespace orvi
