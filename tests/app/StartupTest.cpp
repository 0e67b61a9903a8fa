#include "acquisition/MainFrame.h"
#include "acquisition/VirtualClock.h"
#include "app/EventLog.h"
#include "app/Startup.h"
#include "support/PelkioRecorder.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace orvi {
namespace {

using test::ReadFile;
using test::RecordingUi;
using test::TempDir;
using test::WriteFile;

TEST(ProgramDir, EndsInExactlyOneSlash) {
    EXPECT_EQ(ProgramDirOf("/opt/orvi/bin/orvi-manager"), "/opt/orvi/bin/");
    EXPECT_EQ(ProgramDirOf("/orvi-manager"), "/");
    std::string strDir = ComputeProgramDir();
    ASSERT_FALSE(strDir.empty());
    EXPECT_EQ(strDir.back(), '/');
    EXPECT_NE(strDir.substr(0, strDir.size() - 1).back(), '/');
}

TEST(SingleInstance, SecondHolderIsRefusedUntilTheFirstReleases) {
    TempDir dir;
    CSingleInstance first, second;
    ASSERT_TRUE(first.Acquire(kInstanceMutexName, dir.path().string()));
    EXPECT_FALSE(second.Acquire(kInstanceMutexName, dir.path().string()));
    first.Release();
    EXPECT_TRUE(second.Acquire(kInstanceMutexName, dir.path().string()));
}

// Acquire run as another user (a forked child that drops to uid/gid 65534):
// true when that user got the lock.
bool AcquireAsOtherUser(const std::string& strDir) {
    const pid_t pid = ::fork();
    if (pid < 0) return false;
    if (pid == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
        CSingleInstance other;
        ::_exit(other.Acquire(kInstanceMutexName, strDir) ? 1 : 0);
    }
    int nStatus = 0;
    ::waitpid(pid, &nStatus, 0);
    return WIFEXITED(nStatus) && WEXITSTATUS(nStatus) == 1;
}

// Two users of one machine: a lock left in the shared temporary folder by one
// does not refuse the other, and a lock file another user may only read still
// locks (flock works on a read-only descriptor).
TEST(SingleInstance, AnotherUsersLockFile) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to run a second user id";
    TempDir dir;
    struct Case {
        const char* szName;
        mode_t nMode;
        bool bOtherWhileHeld;  // the other user gets the lock while we hold ours
    };
    for (const Case& c : {Case{"shared", 01777, true}, Case{"private", 0755, false}}) {
        const std::string strDir = dir.file(c.szName);
        ASSERT_EQ(::mkdir(strDir.c_str(), 0700), 0);
        ASSERT_EQ(::chmod(strDir.c_str(), c.nMode), 0);
        ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
        CSingleInstance mine;
        ASSERT_TRUE(mine.Acquire(kInstanceMutexName, strDir)) << c.szName;
        EXPECT_EQ(AcquireAsOtherUser(strDir), c.bOtherWhileHeld) << c.szName;
        mine.Release();
        // Our lock file stays behind; the other user starts all the same.
        EXPECT_TRUE(AcquireAsOtherUser(strDir)) << c.szName;
    }
    const std::string strUid = std::to_string(::getuid());
    EXPECT_EQ(CSingleInstance::LockPath(kInstanceMutexName, dir.file("shared")),
              dir.file("shared") + "/" + kInstanceMutexName + "-" + strUid + ".lock");
    EXPECT_EQ(CSingleInstance::LockPath(kInstanceMutexName, dir.file("private")),
              dir.file("private") + "/" + kInstanceMutexName + ".lock");
}

// A copy killed with SIGKILL leaves no stale lock behind.
TEST(SingleInstance, LockOfAKilledProcessIsFreed) {
    TempDir dir;
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        CSingleInstance held;
        char c = held.Acquire(kInstanceMutexName, dir.path().string()) ? 'y' : 'n';
        (void)!::write(fds[1], &c, 1);
        for (;;) ::pause();
    }
    char c = 0;
    ASSERT_EQ(::read(fds[0], &c, 1), 1);
    ASSERT_EQ(c, 'y');
    CSingleInstance mine;
    EXPECT_FALSE(mine.Acquire(kInstanceMutexName, dir.path().string()));
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    EXPECT_TRUE(mine.Acquire(kInstanceMutexName, dir.path().string()));
    ::close(fds[0]);
    ::close(fds[1]);
}

class FrameCreation : public ::testing::Test {
protected:
    void SetUp() override { SetLogPath(m_dir.file(kLogFileName)); }
    void TearDown() override {
        SetLogPath(kLogFileName);
        g_bWriteLog = 0;
    }
    void WriteIni(const std::string& strBody) { WriteFile(m_dir.file("ORVI2.ini"), "[CONFIG]\n" + strBody); }
    CMainFrame::CreateResult Create() { return m_frame.OnCreate(m_dir.dir()); }

    TempDir m_dir;
    CAppValues m_app;
    RecordingUi m_ui;
    CVirtualClock m_clock{5000};
    test::PelkioRecorder m_board;  // no board found
    CMainFrame m_frame{m_app, m_ui, m_clock, m_board.Api()};
};

TEST_F(FrameCreation, MissingIniShowsTheMessageAndStops) {
    WriteFile(LogPath(), "old\n");
    EXPECT_EQ(Create(), CMainFrame::CreateResult::MissingIni);
    ASSERT_EQ(m_ui.boxes.size(), 1u);
    EXPECT_EQ(m_ui.boxes[0].strText, "ORVI2.ini don`t exist.");
    EXPECT_EQ(m_ui.boxes[0].strCaption, "ORVI Manager");
    EXPECT_FALSE(std::filesystem::exists(LogPath()));  // deleted before the check
}

TEST_F(FrameCreation, ReadsKeysNormalisesFoldersAndStartsTheLog) {
    std::string strImages = m_dir.file("data/Images");
    WriteIni("IMAGE_PATH=" + strImages + "\nCAL_PATH=" + m_dir.file("data/Cal") +
             "/\nWRITE_LOG=1\nEXT_TRIGGER=7\nIMAGE_CUT_LEFT=10\n");
    std::filesystem::create_directories(strImages);
    for (const char* sz : {"Detector 2 ready.txt", "TEXT_ICON_Exposure.txt", "Image coming.txt", "doseindicator.txt",
                           "Connection success.txt"})
        WriteFile(strImages + "/" + sz, "");

    ASSERT_EQ(Create(), CMainFrame::CreateResult::Ok);
    EXPECT_TRUE(m_ui.boxes.empty());
    EXPECT_EQ(m_frame.Settings().m_strImagePath, strImages + "/");
    EXPECT_EQ(m_frame.Settings().m_strCalPath, m_dir.file("data/Cal") + "/");
    EXPECT_TRUE(std::filesystem::is_directory(m_frame.Settings().m_strCalPath));
    EXPECT_EQ(m_frame.TriggerMode(), 7);
    EXPECT_EQ(m_frame.Sequencer().RepeatLeft(), 5);
    EXPECT_EQ(m_frame.Sequencer().RepeatPeriod(), 5000);
    EXPECT_EQ(m_frame.Settings().m_nImageWidth, 3072);  // missing: 3072 for every reader
    EXPECT_EQ(m_frame.Settings().m_nCutLeft, 10);
    EXPECT_EQ(m_frame.Reception().DarkFrame().size(), kFramePixels);
    EXPECT_EQ(m_frame.Reception().ImageBackup().size(), kFramePixels);
    // Only "Connection success.txt" survives a start.
    EXPECT_EQ(test::ListFiles(strImages), std::vector<std::string>{"Connection success.txt"});
    std::string strLog = ReadFile(LogPath());
    EXPECT_EQ(strLog.substr(20), "[    0 ms] start ORVI\n");
}

TEST_F(FrameCreation, EmptyFolderValuesStayEmpty) {
    WriteIni("IMAGE_PATH=\nCAL_PATH=/already/ends/\n");
    ASSERT_EQ(Create(), CMainFrame::CreateResult::Ok);
    EXPECT_EQ(m_frame.Settings().m_strImagePath, "");
    EXPECT_EQ(m_frame.Settings().m_strCalPath, "/already/ends/");
}

struct GeometryCase {
    const char* szName;
    const char* szIni;
    const char* szMessage;
};

void PrintTo(const GeometryCase& c, std::ostream* os) { *os << c.szName; }

class FrameGeometry : public FrameCreation, public ::testing::WithParamInterface<GeometryCase> {};

TEST_P(FrameGeometry, ImpossibleSizesAreRefusedWithTheKeyAndRange) {
    WriteIni(GetParam().szIni);
    EXPECT_EQ(Create(), CMainFrame::CreateResult::BadConfig);
    ASSERT_EQ(m_ui.boxes.size(), 1u);
    EXPECT_EQ(m_ui.boxes[0].strText, GetParam().szMessage);
    EXPECT_TRUE(m_frame.Reception().DarkFrame().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FrameGeometry,
    ::testing::Values(GeometryCase{"width_zero", "IMAGE_WIDTH=0\n",
                                   "IMAGE_WIDTH is 0 in ORVI2.ini; it must be between 1 and 3072."},
                      GeometryCase{"width_too_large", "IMAGE_WIDTH=3073\n",
                                   "IMAGE_WIDTH is 3073 in ORVI2.ini; it must be between 1 and 3072."},
                      GeometryCase{"height_negative", "IMAGE_HEIGHT=-5\n",
                                   "IMAGE_HEIGHT is -5 in ORVI2.ini; it must be between 1 and 3072."},
                      GeometryCase{"cut_negative", "IMAGE_CUT_BOTTOM=-1\n",
                                   "IMAGE_CUT_BOTTOM is -1 in ORVI2.ini; a cut must be 0 or more."},
                      GeometryCase{"cuts_leave_no_columns", "IMAGE_WIDTH=100\nIMAGE_CUT_LEFT=60\nIMAGE_CUT_RIGHT=40\n",
                                   "IMAGE_CUT_LEFT + IMAGE_CUT_RIGHT is 100 in ORVI2.ini; it must be between 0 and 99 "
                                   "to leave columns of IMAGE_WIDTH 100."},
                      GeometryCase{"cuts_leave_no_rows", "IMAGE_CUT_TOP=3072\n",
                                   "IMAGE_CUT_TOP + IMAGE_CUT_BOTTOM is 3072 in ORVI2.ini; it must be between 0 and "
                                   "3071 to leave rows of IMAGE_HEIGHT 3072."}),
    [](const auto& info) { return std::string(info.param.szName); });

}  // namespace
}  // namespace orvi
