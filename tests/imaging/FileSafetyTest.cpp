// Files that survive a crash: a writer killed between any two file-system
// calls of a replace, the calibration listing that never takes a temporary
// for a calibration file, a reference that would make the image black, the
// clean-up of stale temporaries, and the lock two stations share.
#include "imaging/Calibration.h"
#include "imaging/FolderLock.h"
#include "imaging/RawFile.h"

#include "ImagingTestSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <sys/wait.h>
#include <unistd.h>

namespace orvi {
namespace {

using test::Frame;
using test::ListFiles;
using test::RandomFrame;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;
using Lines = std::vector<std::string>;

// ---- A replace killed at each step ---------------------------------------------

int g_nKillAtStep = -1;
void KillAtStep(int nStep) {
    if (nStep == g_nKillAtStep) ::raise(SIGKILL);
}

// Replaces strPath in a child process that is killed before step nStep;
// true when the child was killed (false: it finished).
bool ReplaceKilledAt(const std::string& strPath, const Frame& f, int nStep) {
    pid_t pid = ::fork();
    if (pid == 0) {
        g_nKillAtStep = nStep;
        g_pfnReplaceStepHook = &KillAtStep;
        WriteRawFile(strPath, f.data(), f.size());
        ::_exit(0);
    }
    int nStatus = 0;
    ::waitpid(pid, &nStatus, 0);
    return WIFSIGNALED(nStatus) && WTERMSIG(nStatus) == SIGKILL;
}

TEST(CrashSafeReplace, KilledBetweenAnyTwoCallsTheNameHoldsTheOldOrTheNewFile) {
    const Frame oldFrame = RandomFrame(64, 32, 1), newFrame = RandomFrame(64, 32, 2);
    // Steps: 0 open, 1 write, 2 fsync, 3 close, 4 rename, 5 folder fsync, 6 done.
    for (int nStep = 0; nStep <= 7; ++nStep) {
        SCOPED_TRACE("killed before step " + std::to_string(nStep));
        TempDir dir;
        const std::string strPath = dir.file("BRIGHT_09565.RAW");
        test::WriteRaw(strPath, oldFrame);
        EXPECT_EQ(ReplaceKilledAt(strPath, newFrame, nStep), nStep <= 6);
        // Never missing, never a mixture: the old file until the rename, the new one after it.
        EXPECT_EQ(test::ReadRaw(strPath), nStep <= 4 ? oldFrame : newFrame);
        EXPECT_EQ(ListCalibrationFiles(dir.dir()), Lines{"BRIGHT_09565.RAW"});
        // The restart removes what the killed writer left.
        RemoveStaleTemporaries(dir.dir(), std::chrono::system_clock::now());
        EXPECT_EQ(ListFiles(dir.dir()), Lines{"BRIGHT_09565.RAW"});
    }
}

TEST(CrashSafeReplace, ANewFileKilledBeforeItsRenameLeavesNoName) {
    TempDir dir;
    EXPECT_TRUE(ReplaceKilledAt(dir.file("DARK_01000.RAW"), RandomFrame(8, 8, 3), 4));
    EXPECT_EQ(ListCalibrationFiles(dir.dir()), Lines{});
    ASSERT_EQ(ListFiles(dir.dir()).size(), 1u);
    EXPECT_TRUE(IsTemporaryName(ListFiles(dir.dir())[0]));
}

TEST(CrashSafeReplace, AFailedWriteGivesItsReason) {
    TempDir dir;
    Frame f(16, 5);
    int nError = 0;
    WriteFile(dir.file("plainfile"), "x");
    EXPECT_FALSE(WriteRawFile(dir.file("plainfile") + "/IMAGE.RAW", f.data(), f.size(), &nError));
    EXPECT_EQ(FileErrorText(nError), "Not a directory");
    std::filesystem::create_directory(dir.path() / "IMAGE.RAW");
    EXPECT_FALSE(WriteRawFile(dir.file("IMAGE.RAW"), f.data(), f.size(), &nError));
    EXPECT_EQ(FileErrorText(nError), "Is a directory");
    EXPECT_TRUE(WriteRawFile(dir.file("OTHER.RAW"), f.data(), f.size(), &nError));
    EXPECT_EQ(nError, 0);
}

// ---- Names -------------------------------------------------------------------------

TEST(CalibrationNames, TemporariesAndHiddenNamesAreNeverCalibrationFiles) {
    for (const char* sz : {".BRIGHT_09565.RAW.old-1-2", ".DARK_01000.RAW.part-77-0", ".BRIGHT_09565.RAW",
                           "BRIGHT_09565.RAW.part-1-0", "DARK_01000.RAW~", "BRIGHT_09565.RAW.bak"})
        EXPECT_FALSE(IsCalibrationFileName(sz)) << sz;
    for (const char* sz : {"BRIGHT_09565.RAW", "DARK_01000.raw", "DARK_old.raw"})
        EXPECT_TRUE(IsCalibrationFileName(sz)) << sz;
    for (const char* sz : {".BRIGHT_09565.RAW.old-1-2", ".DARK_01000.RAW.part-77-0", ".IMAGE.RAW.part-123-45"})
        EXPECT_TRUE(IsTemporaryName(sz)) << sz;
    for (const char* sz : {"BRIGHT_09565.RAW", ".part-1-2", ".x.part-1-", ".x.part--1-2", ".x.part-1-2a", ".orvi.lock"})
        EXPECT_FALSE(IsTemporaryName(sz)) << sz;
}

TEST(CalibrationNames, DeletingDarksLeavesTemporariesAndTheDarkKept) {
    TempDir dir;
    for (const char* sz : {"DARK_00100.RAW", "DARK_01000.RAW", ".DARK_00900.RAW.part-77-0", "BRIGHT_01000.RAW"})
        WriteFile(dir.file(sz), "x");
    DeleteDarkFiles(dir.dir(), "DARK_01000.RAW");
    EXPECT_EQ(ListFiles(dir.dir()), (Lines{".DARK_00900.RAW.part-77-0", "BRIGHT_01000.RAW", "DARK_01000.RAW"}));
}

// ---- A reference that would make the image black ---------------------------------------

class BlackReference : public ::testing::Test {
protected:
    static constexpr int32_t kW = 16, kH = 8;
    void Put(const std::string& strName, const Frame& f) { test::WriteRaw(m_dir.file(strName), f); }
    TempDir m_dir;
    test::RecordingReport m_ui;
    test::LogCapture m_log;
    Frame m_image = RandomFrame(kW, kH, 31);
};

TEST_F(BlackReference, TheIssuesRepro_OnlyTemporariesLeftInTheFolder) {
    // A replace killed between the moves of an older version: only hidden names remain.
    Put(".BRIGHT_09565.RAW.old-1-2", RandomFrame(kW, kH, 1));
    Put("DARK_01017.RAW", RandomFrame(kW, kH, 2));
    Frame f = m_image;
    EXPECT_FALSE(ApplyGainFromSets(f.data(), kW, kH, m_dir.dir(), m_ui).bApplied);
    EXPECT_EQ(f, m_image);
    EXPECT_EQ(m_ui.texts(), Lines{kNeedMoreBrightFiles});
}

TEST_F(BlackReference, ALevelZeroBrightIsRefusedAndANonZeroOneStillUsed) {
    Put("BRIGHT_0000-12.RAW", RandomFrame(kW, kH, 1));  // reads back as level 0
    Put("DARK_01017.RAW", RandomFrame(kW, kH, 2));
    Frame f = m_image;
    EXPECT_FALSE(ApplyGainFromSets(f.data(), kW, kH, m_dir.dir(), m_ui).bApplied);
    EXPECT_EQ(f, m_image);
    EXPECT_EQ(m_ui.texts(), Lines{kBrightFileOpenFail});
    ASSERT_EQ(m_log.Messages().size(), 1u);
    EXPECT_NE(m_log.Messages()[0].find(m_dir.file("BRIGHT_0000-12.RAW") + " has level 0"), std::string::npos);

    m_ui.boxes.clear();
    Put("BRIGHT_00500.RAW", RandomFrame(kW, kH, 3));
    CGainResult r = ApplyGainFromSets(f.data(), kW, kH, m_dir.dir(), m_ui);
    EXPECT_TRUE(r.bApplied);
    EXPECT_EQ(r.strReferenceFile, "BRIGHT_00500.RAW");
}

TEST_F(BlackReference, AReferenceOfZerosIsRefused) {
    Put("BRIGHT_09565.RAW", Frame(size_t(kW) * kH, 0));
    Put("DARK_01017.RAW", RandomFrame(kW, kH, 2));
    Frame f = m_image;
    EXPECT_FALSE(ApplyGainFromSets(f.data(), kW, kH, m_dir.dir(), m_ui).bApplied);
    EXPECT_EQ(f, m_image);
    EXPECT_EQ(m_ui.texts(), Lines{kBrightFileOpenFail});
}

TEST_F(BlackReference, TheDarkInMemoryStandsInForTheFolders) {
    const Frame bright = RandomFrame(kW, kH, 1), dark = RandomFrame(kW, kH, 2);
    Put("BRIGHT_10000.RAW", bright);
    Put("DARK_00001.RAW", Frame(size_t(kW) * kH, 0));  // an old dark: not used
    Frame f = m_image, expected = m_image;
    CGainResult r = ApplyGainFromSets(f.data(), kW, kH, m_dir.dir(), m_ui, dark.data(), "DARK_01017.RAW");
    GainCorrect(expected.data(), dark.data(), bright.data(), 10000, expected.size());
    EXPECT_TRUE(r.bApplied);
    EXPECT_EQ(r.strDarkFile, "DARK_01017.RAW");
    EXPECT_EQ(f, expected);
}

// ---- Stale temporaries ------------------------------------------------------------------

TEST(StaleTemporaries, OnlyThoseOfEndedRunsAndOurOwnOlderOnesGo) {
    TempDir dir;
    pid_t pid = ::fork();
    if (pid == 0) ::_exit(0);
    ::waitpid(pid, nullptr, 0);
    const std::string strDead = ".IMAGE.RAW.part-" + std::to_string(pid) + "-0";
    const std::string strLive = ".IMAGE.RAW.part-" + std::to_string(::getppid()) + "-0";
    const std::string strOwnOld = ".DARK_01000.RAW.part-" + std::to_string(::getpid()) + "-1";
    const std::string strOwnNew = ".DARK_01000.RAW.part-" + std::to_string(::getpid()) + "-2";
    for (const std::string& s : {strDead, strLive, strOwnOld, strOwnNew, std::string(".notes.part-x")})
        WriteFile(dir.file(s), "x");
    std::filesystem::last_write_time(dir.file(strOwnOld),
                                     std::filesystem::file_time_type::clock::now() - std::chrono::hours(1));
    const auto removed = RemoveStaleTemporaries(dir.dir(), std::chrono::system_clock::now() - std::chrono::minutes(1));
    EXPECT_EQ(removed.size(), 2u);
    EXPECT_EQ(ListFiles(dir.dir()), (Lines{strOwnNew, strLive, ".notes.part-x"}));
}

// ---- The folder lock of two stations ---------------------------------------------------------

TEST(FolderLock, TheSecondHolderWaitsItsBoundThenHasItOnceFree) {
    TempDir dir;
    CFolderLock first, second;
    uint32_t nSlept = 0;
    auto sleep = [&](uint32_t nMs) { nSlept += nMs; };
    ASSERT_EQ(first.Lock(dir.dir(), 1000, 100, sleep), CFolderLock::Result::Locked);
    EXPECT_EQ(second.Lock(dir.dir(), 1000, 100, sleep), CFolderLock::Result::Busy);
    EXPECT_EQ(nSlept, 1000u);
    // Let go during the wait: taken at the next try.
    nSlept = 0;
    auto release = [&](uint32_t nMs) {
        nSlept += nMs;
        if (nSlept == 300) first.Unlock();
    };
    EXPECT_EQ(second.Lock(dir.dir(), 1000, 100, release), CFolderLock::Result::Locked);
    EXPECT_EQ(nSlept, 300u);
    EXPECT_EQ(ListFiles(dir.dir()), Lines{kFolderLockName});
    second.Unlock();
    EXPECT_EQ(ListFiles(dir.dir()), Lines{});  // no trace in the folder
    int nError = 0;
    EXPECT_EQ(first.Lock(dir.file("missing"), 0, 0, sleep, &nError), CFolderLock::Result::Failed);
    EXPECT_EQ(nError, ENOENT);
}

}  // namespace
}  // namespace orvi
