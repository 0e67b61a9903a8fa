// The calibration dialog's own logic: the sorted list, its filter, DELETE
// FILE's selection, MAKE BPM's refusals and the boxes at each opening.
#include "acquisition/FrameFixture.h"
#include "imaging/BadPixelMap.h"
#include "imaging/Calibration.h"

#include <gtest/gtest.h>

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
    CCalibration& Dlg() { return Frame().m_dlgCalibration; }
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

}  // namespace
}  // namespace orvi::test
