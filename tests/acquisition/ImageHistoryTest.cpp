// The image history: a copy of every saved exposure with its sidecar in
// IMAGE_PATH/history, the retention of HISTORY_KEEP, and sidecars read back.
#include "acquisition/FrameFixture.h"
#include "app/Profile.h"
#include "display/AutoWindow.h"
#include "imaging/ImageHistory.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace orvi::test {
namespace {

using Lines = std::vector<std::string>;

class ImageHistory : public FrameFixture {
protected:
    void SetUp() override {
        FrameFixture::SetUp();
        SetConfig("CALIBRATION", "0");
    }
    void SetView(const std::string& strKey, const std::string& strValue) {
        ASSERT_TRUE(WriteProfileText(m_strIni, "VIEW", strKey, strValue));
    }
    // One exposure from the Acquisition to the saved image.
    void Expose() {
        Acquire();
        RunTo(m_clock.now() + 20000);
    }
    std::string HistoryDir() const { return m_strImageDir + "history/"; }
    Lines HistoryFiles() const { return ListFiles(HistoryDir()); }
};

TEST_F(ImageHistory, EveryExposureIsKeptWithItsSidecarBesideIMAGE_RAW) {
    SetConfig("IMAGE_CUT_LEFT", "6");
    SetConfig("IMAGE_CUT_TOP", "2");
    Start();
    Expose();
    const Lines files = HistoryFiles();
    ASSERT_EQ(files.size(), 2u);
    EXPECT_TRUE(IsHistoryRawName(files[0])) << files[0];
    EXPECT_EQ(files[1], files[0].substr(0, 19) + ".json");
    // The history copy is the image as saved.
    const std::vector<uint16_t> saved = ReadPixels(m_strImageDir + "IMAGE.RAW");
    const std::vector<uint16_t> kept = ReadPixels(HistoryDir() + files[0]);
    EXPECT_EQ(kept, saved);
    EXPECT_EQ(kept.size(), size_t(kSide - 6) * (kSide - 2));

    CHistoryEntry e;
    ASSERT_TRUE(ReadHistorySidecar(HistoryDir() + files[0], e));
    EXPECT_EQ(e.nWidth, kSide - 6);
    EXPECT_EQ(e.nHeight, kSide - 2);
    EXPECT_EQ(e.nCutLeft, 6);
    EXPECT_EQ(e.nCutTop, 2);
    EXPECT_EQ(e.nTriggerMode, 0);  // EXT_TRIGGER of the fixture
    EXPECT_EQ(e.cDetector, 'A');
    const CWindowLevel wl = ComputeAutoWindow(saved.data(), kSide - 6, kSide - 2);
    EXPECT_EQ(e.nWindowWidth, wl.nWidth);
    EXPECT_EQ(e.nWindowLevel, wl.nLevel);
    ASSERT_EQ(Frame().History()->RunEntries().size(), 1u);
    EXPECT_EQ(Frame().History()->RunEntries()[0].strRawPath, HistoryDir() + files[0]);
    // IMAGE.RAW and the message files are where they always were.
    EXPECT_NE(std::find(ImageFiles().begin(), ImageFiles().end(), "IMAGE.RAW"), ImageFiles().end());
}

TEST_F(ImageHistory, TheOldestGoFirstBeyondHistoryKeep) {
    SetView("HISTORY_KEEP", "2");
    Start();
    // A file of the operator's in the folder is never removed.
    std::filesystem::create_directories(HistoryDir());
    WriteFile(HistoryDir() + "notes.txt", "mine");
    for (int i = 0; i < 3; ++i) Expose();
    const auto& entries = Frame().History()->RunEntries();
    ASSERT_EQ(entries.size(), 3u);
    const Lines names = CImageHistory::ListNames(HistoryDir());
    EXPECT_EQ(names, (Lines{entries[1].strName + ".RAW", entries[2].strName + ".RAW"}));
    EXPECT_FALSE(std::filesystem::exists(HistoryDir() + entries[0].strName + ".json"));
    EXPECT_TRUE(std::filesystem::exists(HistoryDir() + entries[2].strName + ".json"));
    EXPECT_TRUE(std::filesystem::exists(HistoryDir() + "notes.txt"));
}

TEST_F(ImageHistory, KeepZeroKeepsNone) {
    SetView("HISTORY_KEEP", "0");
    Start();
    Expose();
    EXPECT_FALSE(std::filesystem::exists(HistoryDir()));
    EXPECT_TRUE(Frame().History()->RunEntries().empty());
}

TEST_F(ImageHistory, AHistoryThatCannotBeWrittenIsReportedAndTheImageStillSaved) {
    Start();
    WriteFile(m_strImageDir + "history", "a file where the folder should be");
    Expose();
    EXPECT_EQ(ReadPixels(m_strImageDir + "IMAGE.RAW").size(), size_t(kSide) * kSide);
    ASSERT_FALSE(m_ui.pane(0).empty());
    EXPECT_EQ(m_ui.pane(0).back().rfind("History: ", 0), 0u) << m_ui.pane(0).back();
    EXPECT_TRUE(m_ui.texts().empty());  // no box for it
}

// The "Written" case is the writer's own text.
const char* WrittenText() {
    static const std::string s = [] {
        CHistoryEntry e;
        e.strName = "20261210-140322-045";
        e.nWidth = 3066;
        e.nHeight = 3070;
        e.nFrameWidth = e.nFrameHeight = 3072;
        e.nCutLeft = 6;
        e.nCutTop = 2;
        e.strTime = "14:03:22";
        return HistorySidecarText(e);
    }();
    return s.c_str();
}

// Sidecars are read back only when their sizes hold together.
struct SidecarCase {
    const char* szName;
    const char* szText;
    bool bOk;
    int32_t nWidth, nHeight, nCutLeft;
};

class HistorySidecar : public ::testing::TestWithParam<SidecarCase> {};

TEST_P(HistorySidecar, ReadsWhatItKnows) {
    const SidecarCase& c = GetParam();
    CHistoryEntry e;
    EXPECT_EQ(ParseHistorySidecar(c.szText != nullptr ? c.szText : WrittenText(), e), c.bOk);
    if (!c.bOk) return;
    EXPECT_EQ(e.nWidth, c.nWidth);
    EXPECT_EQ(e.nHeight, c.nHeight);
    EXPECT_EQ(e.nCutLeft, c.nCutLeft);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HistorySidecar,
    ::testing::Values(
        SidecarCase{"Written", nullptr, true, 3066, 3070, 6},
        SidecarCase{"SizeOnly", R"({"width": 100, "height": 50})", true, 100, 50, 0},
        // cuts that do not add up are dropped, the size stays
        SidecarCase{"CutsDoNotFit", R"({"width": 100, "height": 50, "frame_width": 90, "cut_left": 5})", true, 100,
                    50, 0},
        SidecarCase{"NoHeight", R"({"width": 100})", false, 0, 0, 0},
        SidecarCase{"TooWide", R"({"width": 5000, "height": 50})", false, 0, 0, 0},
        SidecarCase{"Negative", R"({"width": -4, "height": 50})", false, 0, 0, 0},
        SidecarCase{"NotANumber", R"({"width": "wide", "height": 50})", false, 0, 0, 0},
        SidecarCase{"Empty", "", false, 0, 0, 0}),
    [](const auto& info) { return std::string(info.param.szName); });

TEST(HistorySidecarText, RoundTripsAndNamesFollowThePattern) {
    CHistoryEntry e;
    ASSERT_TRUE(ParseHistorySidecar(WrittenText(), e));
    EXPECT_EQ(e.nWidth, 3066);
    EXPECT_EQ(e.nCutTop, 2);
    EXPECT_EQ(e.nCutLeft, 6);
    EXPECT_EQ(e.nDoseIndicator, -1);
    EXPECT_EQ(e.strTime, "14:03:22");
    for (const auto& [sz, bOk] : std::vector<std::pair<const char*, bool>>{{"20261210-140322-045.RAW", true},
                                                                            {"20261210-140322-045.raw", false},
                                                                            {"20261210_140322-045.RAW", false},
                                                                            {"IMAGE.RAW", false},
                                                                            {"20261210-140322-04.RAW", false}})
        EXPECT_EQ(IsHistoryRawName(sz), bOk) << sz;
}

}  // namespace
}  // namespace orvi::test
