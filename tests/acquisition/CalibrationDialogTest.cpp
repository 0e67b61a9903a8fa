// The calibration dialog's own logic: the sorted list, its filter, DELETE
// FILE's selection, MAKE BPM's refusals and the boxes at each opening.
#include "acquisition/FrameFixture.h"
#include "imaging/BadPixelMap.h"
#include "imaging/Calibration.h"
#include "imaging/RawFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace orvi::test {
namespace {

using Lines = std::vector<std::string>;

class CalibrationDialog : public FrameFixture {
protected:
    void SetUp() override {
        FrameFixture::SetUp();
        Create();
    }
    void Touch(const std::string& strName, size_t nBytes = 0) {
        WriteFile(m_strCalDir + strName, std::string(nBytes, '\0'));
    }
    CCalibration& Dlg() { return Frame().CalibrationDialog(); }
};

TEST_F(CalibrationDialog, ListsCalibrationFilesSortedLikeAListBox) {
    for (const char* sz : {"DARK_01000.RAW", "BRIGHT_09000.RAW", "BRIGHT_01000.raw", "BPM.RAW", "notes.txt",
                           "bright_05000.RAW", "DARK_x.bin"})
        Touch(sz);
    std::filesystem::create_directory(m_strCalDir + "BRIGHT_DIR.RAW");
    Frame().OnMakeCalibration();
    EXPECT_EQ(m_ui.nCalibrationDialogs, 1);
    EXPECT_EQ(Dlg().Files(), (Lines{"BRIGHT_01000.raw", "BRIGHT_09000.RAW", "DARK_01000.RAW"}));
    // Names added later take their sorted place, case aside.
    EXPECT_EQ(Dlg().AddString("bright_05000.RAW"), 1);
    EXPECT_EQ(Dlg().FindString("BRIGHT_05000"), 1);
    EXPECT_EQ(Dlg().FindString("BRIGHT_07"), -1);
}

TEST_F(CalibrationDialog, EveryOpeningResetsTheBoxesAndRefillsTheList) {
    Touch("DARK_00100.RAW");
    Frame().OnMakeCalibration();
    Dlg().m_strAreaBright = "12";
    Dlg().m_strLineDark = "abc";
    Dlg().AddString("BRIGHT_00001.RAW");  // not on disk
    Frame().OnMakeCalibration();
    EXPECT_EQ(Dlg().m_strAreaBright, "8");
    EXPECT_EQ(Dlg().m_strAreaDark, "8");
    EXPECT_EQ(Dlg().m_strLineBright, "500");
    EXPECT_EQ(Dlg().m_strLineDark, "600");
    EXPECT_EQ(Dlg().Files(), Lines{"DARK_00100.RAW"});
    EXPECT_EQ(Dlg().m_strCalPath, m_strCalDir);
    EXPECT_EQ(Dlg().m_nImageWidth, kSide);
}

TEST_F(CalibrationDialog, DeleteFileRemovesTheFileAndSelectsTheNextEntry) {
    for (const char* sz : {"BRIGHT_01000.RAW", "BRIGHT_02000.RAW", "DARK_00100.RAW"}) Touch(sz);
    Frame().OnMakeCalibration();
    Dlg().OnDeleteFile();  // nothing selected: nothing happens
    EXPECT_EQ(Dlg().Files().size(), 3u);
    Dlg().m_nSelected = 1;
    Dlg().OnDeleteFile();
    EXPECT_EQ(CalFiles(), (Lines{"BRIGHT_01000.RAW", "DARK_00100.RAW"}));
    EXPECT_EQ(Dlg().Files(), (Lines{"BRIGHT_01000.RAW", "DARK_00100.RAW"}));
    EXPECT_EQ(Dlg().m_nSelected, 1);
    Dlg().OnDeleteFile();
    EXPECT_EQ(Dlg().Files(), Lines{"BRIGHT_01000.RAW"});
    EXPECT_EQ(Dlg().m_nSelected, -1);
    // A file already gone still leaves the list, silently.
    std::filesystem::remove(m_strCalDir + "BRIGHT_01000.RAW");
    Dlg().m_nSelected = 0;
    Dlg().OnDeleteFile();
    EXPECT_EQ(Dlg().Files(), Lines{});
    EXPECT_EQ(m_ui.texts(), Lines{});
}

struct CBpmCase {
    const char* szName;
    Lines files;
    Lines messages;
    bool bWritten;
};

void PrintTo(const CBpmCase& c, std::ostream* os) { *os << c.szName; }

class MakeBpm : public CalibrationDialog, public ::testing::WithParamInterface<CBpmCase> {};

TEST_P(MakeBpm, NeedsADarkLastAndABrightBeforeIt) {
    const CBpmCase& c = GetParam();
    for (const std::string& s : c.files) Touch(s, size_t{kSide} * kSide * 2);
    Frame().OnMakeCalibration();
    Dlg().OnMakeBpm();
    EXPECT_EQ(m_ui.texts(), c.messages);
    EXPECT_EQ(std::filesystem::exists(m_strCalDir + "BPM.RAW"), c.bWritten);
    EXPECT_EQ(Dlg().m_bMakeBpmEnabled, c.bWritten);  // disabled after a refusal
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, MakeBpm,
    ::testing::Values(CBpmCase{"OneFile", {"DARK_00100.RAW"}, {}, false},
                      CBpmCase{"NoDark", {"BRIGHT_01000.RAW", "BRIGHT_02000.RAW"}, {kDarkFileDontExist}, false},
                      CBpmCase{"NoBright", {"DARK_00100.RAW", "DARK_00200.RAW"}, {kBrightFileDontExist}, false},
                      CBpmCase{"Pair", {"BRIGHT_01000.RAW", "DARK_00100.RAW"}, {}, true}),
    [](const ::testing::TestParamInfo<CBpmCase>& info) { return std::string(info.param.szName); });

// MAKE BPM says what it wrote: the file and the number of pixels it marks.
TEST_F(CalibrationDialog, MakeBpmReportsTheMarkedPixels) {
    // A bright of 1000 with five pixels at 0 and a flat dark: the five are marked.
    std::vector<uint16_t> bright(size_t{kSide} * kSide, 1000), dark(size_t{kSide} * kSide, 100);
    for (size_t i : {size_t{5000}, size_t{9000}, size_t{20000}, size_t{30000}, size_t{40000}}) bright[i] = 0;
    ASSERT_TRUE(WriteRawFile(m_strCalDir + "BRIGHT_01000.RAW", bright.data(), bright.size()));
    ASSERT_TRUE(WriteRawFile(m_strCalDir + "DARK_00100.RAW", dark.data(), dark.size()));
    Frame().OnMakeCalibration();
    Dlg().OnMakeBpm();
    const std::vector<uint16_t> map = ReadPixels(m_strCalDir + "BPM.RAW");
    const auto nMarked = size_t(std::count_if(map.begin(), map.end(), [](uint16_t v) { return v != 0; }));
    EXPECT_GE(nMarked, 5u);
    EXPECT_EQ(Dlg().m_strProgress, BpmSavedText(nMarked));
    // The next opening starts without it.
    Frame().OnMakeCalibration();
    EXPECT_EQ(Dlg().m_strProgress, "");
}

TEST(CalibrationTexts, CountsAreGroupedByThousands) {
    const std::pair<uint64_t, const char*> cases[] = {
        {0, "0"}, {999, "999"}, {1000, "1 000"}, {22270, "22 270"}, {1234567, "1 234 567"}};
    for (const auto& [n, sz] : cases) EXPECT_EQ(GroupedCount(n), sz) << n;
    EXPECT_EQ(BpmSavedText(22270), "BPM.RAW saved (22 270 pixels marked)");
    EXPECT_EQ(BpmSavedText(1), "BPM.RAW saved (1 pixel marked)");
}

// GET BRIGHT and GET DARK show their progress in the dialog as in pane 0.
TEST_F(CalibrationDialog, GetBrightAndGetDarkShowTheirProgressInTheDialog) {
    SetSim("OBJECT", "0");
    Connect();
    m_clock.advance_to(1000);
    Frame().OnMakeCalibration();
    const uint64_t t0 = m_clock.now();
    Dlg().OnGetBright();
    EXPECT_EQ(Dlg().m_strProgress, "X-ray in 12 s");
    m_clock.advance_to(t0 + 5000);
    EXPECT_EQ(Dlg().m_strProgress, "X-ray in 7 s");
    EXPECT_EQ(m_ui.pane(0).back(), "X-ray in 7 s");
    m_clock.advance_to(t0 + 20000);
    EXPECT_EQ(Dlg().m_strProgress.rfind("Saved BRIGHT_", 0), 0u) << Dlg().m_strProgress;
    EXPECT_NE(Dlg().m_strProgress.find(".RAW and DARK_"), std::string::npos) << Dlg().m_strProgress;
    EXPECT_NE(std::find(m_ui.pane(0).begin(), m_ui.pane(0).end(), "Dark 1 of 1"), m_ui.pane(0).end());

    Dlg().OnGetDark();
    EXPECT_EQ(Dlg().m_strProgress, "Dark 1 of 1");
    m_clock.advance_to(t0 + 30000);
    EXPECT_EQ(Dlg().m_strProgress.rfind("Saved DARK_", 0), 0u) << Dlg().m_strProgress;
}

}  // namespace
}  // namespace orvi::test
