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
    // The exposure index the controller worked out for the image.
    ASSERT_TRUE(Frame().LastImage());
    const dose::CExposureIndex& ei = Frame().LastImage()->exposureIndex;
    ASSERT_TRUE(ei.bValid && e.exposureIndex.bValid);
    EXPECT_NEAR(e.exposureIndex.dEI, ei.dEI, 1e-4);
    EXPECT_NEAR(e.exposureIndex.dTargetEI, ei.dTargetEI, 1e-4);
    EXPECT_NEAR(e.exposureIndex.dDI, ei.dDI, 1e-4);
    EXPECT_NE(ReadFile(HistoryDir() + files[1]).find("\"exposure_verdict\": \"" + dose::ExposureIndexWords(ei) + "\""),
              std::string::npos);
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

}  // namespace
}  // namespace orvi::test
