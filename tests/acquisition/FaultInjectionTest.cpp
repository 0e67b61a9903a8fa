// Faults met during an exposure, on the simulated detector in virtual time
// with real files: a dark that cannot be written or never comes, a detector
// link that drops at each step, a second station on the same folders, a full
// or read-only calibration folder, an image name with a folder part. In every
// case the exposure is saved (or at least handed over) and the failure said.
#include "acquisition/FrameFixture.h"
#include "imaging/FolderLock.h"
#include "imaging/RawFile.h"
#include "orviacquire/ORVIAcquireLib.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

namespace orvi::test {
namespace {

using Lines = std::vector<std::string>;
constexpr size_t kPixels = size_t{kSide} * kSide;

class Faults : public FrameFixture, public IImageSink {
protected:
    void SetUp() override {
        FrameFixture::SetUp();
        SetSim("AUTO_FIRE_MS", "0");
        SetConfig("MEDIAN_FILTER", "0");
    }
    void TearDown() override {
        if (m_pFrame) m_pFrame->RemoveImageSink(this);
        FrameFixture::TearDown();
    }
    void OnImageAcquired(const AcquiredImagePtr& pImage) override { images.push_back(pImage); }
    void StartWithSink() {
        ASSERT_NO_FATAL_FAILURE(Start());
        Frame().AddImageSink(this);
    }
    // Acquisition with the X-ray 600 ms later; the image arrives at 900 ms,
    // its dark is requested at 1800 ms and arrives at 3100 ms.
    void Expose(uint64_t nRunMs = 20000) {
        Acquire();
        FireAt(m_nT0 + 600);
        RunTo(m_nT0 + nRunMs);
    }
    bool LoggedPart(const std::string& strPart) const {
        for (const std::string& s : Log())
            if (s.find(strPart) != std::string::npos) return true;
        return false;
    }
    bool Said(const std::string& strPart) const {
        for (const std::string& s : m_ui.texts())
            if (s.find(strPart) != std::string::npos) return true;
        return false;
    }
    void PutCalibrationSet() {
        // A flat bright of level 10000 and BPM of no defects: the gain step works.
        WriteFile(m_strCalDir + "BRIGHT_10000.RAW", std::string(kPixels * 2, '\x10'));
        WriteFile(m_strCalDir + "BPM.RAW", std::string(kPixels * 2, '\0'));
    }
    std::vector<AcquiredImagePtr> images;
};

// ---- The dark after the image -------------------------------------------------------

TEST_F(Faults, ADarkThatCannotBeWrittenStillCorrectsAndSavesTheImage) {
    PutCalibrationSet();
    ASSERT_NO_FATAL_FAILURE(StartWithSink());
    // Folders stand where every dark name the frame's mean could give.
    for (int nLevel = 950; nLevel < 1100; ++nLevel)
        std::filesystem::create_directory(m_strCalDir + LevelFileName(kPrefixDark, nLevel));
    Expose();
    ASSERT_EQ(images.size(), 1u);
    EXPECT_TRUE(images[0]->bSaved);
    EXPECT_TRUE(std::filesystem::exists(m_strImageDir + "IMAGE.RAW"));
    EXPECT_EQ(ReadPixels(m_strImageDir + "IMAGE.RAW"), images[0]->pixels);
    // Corrected with the dark in memory and the bright of the folder.
    EXPECT_TRUE(images[0]->gain.bApplied);
    EXPECT_EQ(images[0]->gain.strReferenceFile, "BRIGHT_10000.RAW");
    EXPECT_EQ(images[0]->dark.size(), kPixels);
    ASSERT_GE(m_ui.texts().size(), 2u);
    EXPECT_EQ(m_ui.texts()[0], kDarkFileCreationFail);
    EXPECT_NE(m_ui.texts()[1].find(": Is a directory\n"), std::string::npos) << m_ui.texts()[1];
    EXPECT_TRUE(LoggedPart("Dark file creation fail: " + m_strCalDir));
    EXPECT_FALSE(Frame().Sequencer().ImageBusy());
}

TEST_F(Faults, ADarkThatNeverComesEndsTheWaitAndSavesTheImageUncorrected) {
    PutCalibrationSet();
    ASSERT_NO_FATAL_FAILURE(StartWithSink());
    Acquire();
    FireAt(m_nT0 + 600);
    // The link drops while the dark is read out: no frame, no error result.
    m_clock.post(uint32_t(m_nT0 + 2000 - m_clock.now()), [this] { AcquisitionSim_DropLink(Handle()); });
    RunTo(m_nT0 + 7700);
    EXPECT_TRUE(images.empty());
    RunTo(m_nT0 + 7800);  // the request at 1800, its delay of 1000 ms, 5 s more
    ASSERT_EQ(images.size(), 1u);
    EXPECT_TRUE(images[0]->bSaved);
    EXPECT_FALSE(images[0]->gain.bApplied);
    EXPECT_TRUE(images[0]->dark.empty());
    EXPECT_TRUE(Said(kImageSavedWithoutDark));
    EXPECT_TRUE(Logged("No dark after the image: gain correction left out"));
    EXPECT_EQ(ReadPixels(m_strImageDir + "IMAGE.RAW"), images[0]->pixels);
    // A dark after the wait (none here) would only be shown; the next
    // command meets the dropped link and says so.
    Frame().OnAcquisition();
    EXPECT_TRUE(Said("Detector A: link lost"));
}

TEST_F(Faults, AnImageNameWithAFolderPartIsRefusedAndTheImageHandedOver) {
    SetConfig("CALIBRATION", "0");
    ASSERT_NO_FATAL_FAILURE(StartWithSink());
    SetConfig("IMAGE_NAME", "../outside.RAW");
    Expose();
    EXPECT_FALSE(std::filesystem::exists(m_dir.dir() + "outside.RAW"));
    ASSERT_EQ(images.size(), 1u);
    EXPECT_FALSE(images[0]->bSaved);
    EXPECT_EQ(images[0]->pixels.size(), kPixels);
    EXPECT_EQ(m_ui.texts(), (Lines{std::string(kImageNameHasFolder) + "\n../outside.RAW"}));
}

// ---- A dropped link at each step ---------------------------------------------------------

struct CDropCase {
    const char* szName;
    int64_t nDropAtMs;  // after Acquisition; -1: before it
    bool bImageSaved;   // the exposure was taken before the drop
};
void PrintTo(const CDropCase& c, std::ostream* os) { *os << c.szName; }

class LinkDrop : public Faults, public ::testing::WithParamInterface<CDropCase> {};

TEST_P(LinkDrop, IsReportedOnceTheHeldImageSavedAndConnectWorksAgain) {
    const CDropCase& c = GetParam();
    SetConfig("CALIBRATION", "0");
    if (c.nDropAtMs == 900) SetConfig("DOSE_INDICATOR", "1");
    ASSERT_NO_FATAL_FAILURE(StartWithSink());
    if (c.nDropAtMs < 0) AcquisitionSim_DropLink(Handle());
    if (c.nDropAtMs == 900) {
        // Between the image and its dark request: a blocked dose file's
        // message comes in between.
        std::filesystem::create_directory(m_strImageDir + "doseindicator.txt");
        m_ui.onMessage = [this](const std::string&) {
            if (Frame().Detector() != 0) AcquisitionSim_DropLink(Frame().Detector());
        };
    } else if (c.nDropAtMs >= 0) {
        m_clock.post(uint32_t(c.nDropAtMs), [this] { AcquisitionSim_DropLink(Handle()); });
    }
    Acquire();
    FireAt(m_nT0 + 600);
    RunTo(m_nT0 + 20000);
    // Armed without X-ray: the next arming meets it.
    if (Frame().Detector() != 0) Frame().OnAcquisition();
    m_ui.onMessage = nullptr;

    const Lines texts = m_ui.texts();
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "Detector A: link lost"), 1) << ::testing::PrintToString(texts);
    EXPECT_EQ(Frame().Detector(), 0u);
    EXPECT_EQ(Frame().DetectorA(), 0u);
    EXPECT_TRUE(Frame().Panel().bConnect);
    EXPECT_FALSE(Frame().Panel().bAcquisition);
    EXPECT_EQ(images.size(), c.bImageSaved ? 1u : 0u);
    EXPECT_EQ(std::filesystem::exists(m_strImageDir + "IMAGE.RAW"), c.bImageSaved);

    // Connect opens the detector again, and the next exposure is saved.
    m_ui.boxes.clear();
    ASSERT_NO_FATAL_FAILURE(Connect());
    RunTo(m_clock.now() + 1000);
    std::filesystem::remove(m_strImageDir + "IMAGE.RAW");
    Expose();
    EXPECT_EQ(images.size(), c.bImageSaved ? 2u : 1u);
    EXPECT_TRUE(std::filesystem::exists(m_strImageDir + "IMAGE.RAW"));
}

INSTANTIATE_TEST_SUITE_P(Steps, LinkDrop,
                         ::testing::Values(CDropCase{"BeforeArming", -1, false}, CDropCase{"WhileArmed", 550, false},
                                           CDropCase{"BeforeTheDark", 900, true}),
                         [](const auto& info) { return std::string(info.param.szName); });

// ---- Two stations on one folder ------------------------------------------------------------

TEST_F(Faults, AnotherStationsTemporariesAreNeitherListedNorDeleted) {
    SetConfig("CALIBRATION", "0");
    // The other station is running (our parent process stands in for it) and
    // is writing a dark file.
    const std::string strOther = ".DARK_01000.RAW.part-" + std::to_string(::getppid()) + "-0";
    WriteFile(m_strCalDir + strOther, "half a dark");
    ASSERT_NO_FATAL_FAILURE(StartWithSink());
    Frame().OnMakeCalibration();
    EXPECT_EQ(Frame().CalibrationDialog().Files(), Lines{});
    Expose();
    ASSERT_EQ(images.size(), 1u);
    const Lines cal = CalFiles();
    EXPECT_TRUE(std::find(cal.begin(), cal.end(), strOther) != cal.end());
    EXPECT_EQ(ReadFile(m_strCalDir + strOther), "half a dark");
}

TEST_F(Faults, AStationWaitsForTheOtherOnesFolderLockThenSaysSoAndStillSaves) {
    SetConfig("CALIBRATION", "0");
    ASSERT_NO_FATAL_FAILURE(StartWithSink());
    CFolderLock other;
    ASSERT_EQ(other.Lock(m_strCalDir, 0, 0, nullptr), CFolderLock::Result::Locked);
    Expose();
    ASSERT_EQ(images.size(), 1u);
    EXPECT_TRUE(images[0]->bSaved);
    EXPECT_EQ(m_ui.texts(), (Lines{std::string(kFolderInUse) + "\n" + m_strCalDir}));
    // The wait: the dark arrived at 3100 and the image followed 3 s later.
    EXPECT_EQ(Since("Processing finished."), std::vector<uint64_t>{3100 + kFolderLockWaitMs});

    // Released in time: no message, the sequence goes on once it is free.
    m_ui.boxes.clear();
    other.Unlock();
    ASSERT_EQ(other.Lock(m_strImageDir, 0, 0, nullptr), CFolderLock::Result::Locked);
    Expose();
    EXPECT_EQ(m_ui.texts(), (Lines{std::string(kFolderInUse) + "\n" + m_strImageDir}));
    other.Unlock();
    m_ui.boxes.clear();
    Expose();
    EXPECT_EQ(m_ui.texts(), Lines{});
    EXPECT_EQ(images.size(), 3u);
    EXPECT_FALSE(std::filesystem::exists(m_strCalDir + kFolderLockName));  // no trace left
}

// ---- Full and read-only calibration folders -------------------------------------------------

// A small tmpfs mounted on the calibration folder; needs root (or the right
// capability): without it the test is skipped and says why.
class SmallTmpfs {
public:
    bool Mount(const std::string& strFolder, const char* szOptions) {
        if (::mount("orvi-test", strFolder.c_str(), "tmpfs", 0, szOptions) != 0) {
            m_strWhy = std::string("cannot mount a tmpfs (") + std::strerror(errno) + "); run as root to test this";
            return false;
        }
        m_strFolder = strFolder;
        return true;
    }
    bool Remount(const char* szOptions, unsigned long nFlags) {
        return ::mount("orvi-test", m_strFolder.c_str(), "tmpfs", MS_REMOUNT | nFlags, szOptions) == 0;
    }
    ~SmallTmpfs() {
        if (!m_strFolder.empty()) ::umount2(m_strFolder.c_str(), MNT_DETACH);
    }
    const std::string& Why() const { return m_strWhy; }

private:
    std::string m_strFolder;
    std::string m_strWhy;
};

TEST_F(Faults, AFullCalibrationFolderKeepsTheOldDarkAndSavesTheImage) {
    SmallTmpfs fs;
    if (::geteuid() != 0 || !fs.Mount(m_strCalDir, "size=256k"))
        GTEST_SKIP() << (fs.Why().empty() ? "not root: a full tmpfs cannot be mounted" : fs.Why());
    PutCalibrationSet();  // 2 x 128 KiB: the folder is full
    ASSERT_NO_FATAL_FAILURE(StartWithSink());
    Expose();
    ASSERT_EQ(images.size(), 1u);
    EXPECT_TRUE(images[0]->bSaved);
    EXPECT_TRUE(images[0]->gain.bApplied);
    EXPECT_TRUE(Said(": No space left on device\n"));
    EXPECT_EQ(CalFiles(), (Lines{"BPM.RAW", "BRIGHT_10000.RAW"}));  // no temporary left behind
}

TEST_F(Faults, AReadOnlyCalibrationFolderSavesTheImage) {
    SmallTmpfs fs;
    if (::geteuid() != 0 || !fs.Mount(m_strCalDir, "size=4m"))
        GTEST_SKIP() << (fs.Why().empty() ? "not root: a read-only tmpfs cannot be mounted" : fs.Why());
    PutCalibrationSet();
    ASSERT_TRUE(fs.Remount("size=4m", MS_RDONLY));
    ASSERT_NO_FATAL_FAILURE(StartWithSink());
    Expose();
    ASSERT_EQ(images.size(), 1u);
    EXPECT_TRUE(images[0]->bSaved);
    EXPECT_TRUE(images[0]->gain.bApplied);
    EXPECT_TRUE(Said(": Read-only file system\n"));
    EXPECT_TRUE(LoggedPart("Folder lock not taken: " + m_strCalDir + kFolderLockName + ": Read-only file system"));
}

// ---- Start -----------------------------------------------------------------------------------

TEST_F(Faults, AConfigurationFileOver1MBIsRefusedAtStart) {
    WriteFile(m_strIni, ReadFile(m_strIni) + ";" + std::string(kMaxProfileBytes, 'x') + "\n");
    m_pFrame = std::make_unique<CMainFrame>(m_app, m_ui, m_clock, m_rec.Api());
    EXPECT_EQ(Frame().OnCreate(m_dir.dir()), CMainFrame::CreateResult::BadConfig);
    ASSERT_EQ(m_ui.texts().size(), 1u);
    EXPECT_EQ(m_ui.texts()[0].rfind(kIniTooLarge, 0), 0u);
}

TEST_F(Faults, StaleTemporariesOfAnEndedRunAreRemovedAtStart) {
    // A run killed while replacing the bright file and the image: its pid is gone.
    pid_t pid = ::fork();
    if (pid == 0) ::_exit(0);
    ::waitpid(pid, nullptr, 0);
    const std::string strDead = std::to_string(pid);
    WriteFile(m_strCalDir + ".BRIGHT_09565.RAW.part-" + strDead + "-3", "x");
    WriteFile(m_strImageDir + ".IMAGE.RAW.old-" + strDead + "-1", "x");
    const std::string strLive = ".IMAGE.RAW.part-" + std::to_string(::getppid()) + "-0";
    WriteFile(m_strImageDir + strLive, "x");
    ASSERT_NO_FATAL_FAILURE(Create());
    EXPECT_EQ(CalFiles(), Lines{});
    EXPECT_EQ(ImageFiles(), Lines{strLive});
    EXPECT_TRUE(Logged("Removed an unfinished file of an earlier run: " + m_strCalDir + ".BRIGHT_09565.RAW.part-" +
                       strDead + "-3"));
}

}  // namespace
}  // namespace orvi::test
