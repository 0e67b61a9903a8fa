// The network pieces that need no server: settings, back-off, the meaning of
// C-STORE statuses, the status text, the main-thread executor, the durable copy.
#include "NetServers.h"
#include "acquisition/MainThreadExecutor.h"
#include "export/dicom/net/NetConfig.h"
#include "export/dicom/net/Outbox.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace orvi::dicom {
namespace {

using orvi::test::TempDir;
using orvi::test::WriteFile;

TEST(NetConfig, DefaultsLeaveTheNetworkOff) {
    TempDir dir;
    WriteFile(dir.file("ORVI2.ini"), "[CONFIG]\nIMAGE_PATH=/x/\n");
    const CNetConfig c = ReadNetConfig(dir.file("ORVI2.ini"), "/data/Images");
    EXPECT_EQ(c.strStationAet, "ORVI");
    EXPECT_EQ(c.nStationPort, 0);
    EXPECT_FALSE(c.PacsOn());
    EXPECT_FALSE(c.WorklistOn());
    EXPECT_FALSE(c.bCommit);
    EXPECT_EQ(c.nTimeoutS, 10u);
    EXPECT_EQ(c.CommitWaitS(), 100u);
    EXPECT_EQ(c.strOutbox, "/data/Images/outbox/");
    EXPECT_EQ(c.nSentKeepDays, 7u);
}

TEST(NetConfig, KeysAsWrittenAndOutOfRangeValues) {
    TempDir dir;
    WriteFile(dir.file("ORVI2.ini"),
              "[dicom]\nSTATION_AET= XRAY1 \nSTATION_PORT=11113\nPACS_AET=ARCHIVE\nPACS_HOST=127.0.0.1\n"
              "PACS_PORT=4242\nCOMMIT=1\nWORKLIST_AET=RIS\nWORKLIST_HOST=ris.local\nWORKLIST_PORT=70000\n"
              "TIMEOUT_S=0\nOUTBOX=/spool/out\nSENT_KEEP_DAYS=-3\n");
    const CNetConfig c = ReadNetConfig(dir.file("ORVI2.ini"), "/data/");
    EXPECT_EQ(c.strStationAet, "XRAY1");
    EXPECT_EQ(c.nStationPort, 11113);
    EXPECT_EQ(c.pacs.strAet, "ARCHIVE");
    EXPECT_EQ(c.pacs.Describe(), "ARCHIVE at 127.0.0.1:4242");
    EXPECT_TRUE(c.PacsOn());
    EXPECT_TRUE(c.bCommit);
    EXPECT_EQ(c.worklist.strHost, "ris.local");
    EXPECT_EQ(c.worklist.nPort, 0);  // out of range: off
    EXPECT_FALSE(c.WorklistOn());
    EXPECT_EQ(c.nTimeoutS, 1u);
    EXPECT_EQ(c.strOutbox, "/spool/out/");
    EXPECT_EQ(c.nSentKeepDays, 0u);
}

TEST(Backoff, DoublesFromOneSecondToFiveMinutesAndResets) {
    CBackoff b;
    const uint32_t expected[] = {1, 2, 4, 8, 16, 32, 64, 128, 256, 300, 300};
    for (uint32_t n : expected) EXPECT_EQ(b.Next(), n);
    b.Reset();
    EXPECT_EQ(b.Next(), 1u);
}

TEST(StoreStatus, OutcomeAndWordsPerStatus) {
    struct Case {
        uint16_t nStatus;
        EStoreOutcome eOutcome;
        const char* szStart;
    };
    const Case cases[] = {
        {0x0000, EStoreOutcome::Stored, "success"},          {0xB000, EStoreOutcome::Stored, "warning 0xB000"},
        {0xB007, EStoreOutcome::Stored, "warning 0xB007"},   {0xA700, EStoreOutcome::Retry, "failure 0xA700"},
        {0xA900, EStoreOutcome::Rejected, "failure 0xA900"}, {0xC000, EStoreOutcome::Rejected, "failure 0xC000"},
        {0x0122, EStoreOutcome::Rejected, "failure 0x0122"}, {0x0124, EStoreOutcome::Rejected, "failure 0x0124"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.nStatus);
        EXPECT_EQ(ClassifyStoreStatus(c.nStatus), c.eOutcome);
        EXPECT_EQ(StoreStatusText(c.nStatus).rfind(c.szStart, 0), 0u) << StoreStatusText(c.nStatus);
    }
}

TEST(OutboxStatus, TextsOfTheStatusBar) {
    COutboxStatus s;
    EXPECT_EQ(s.StatusText(), "");  // PACS off
    s.bPacsOn = true;
    EXPECT_EQ(s.StatusText(), "PACS: nothing waiting");
    s.waiting.resize(3);
    EXPECT_EQ(s.StatusText(), "PACS: 3 waiting");
    s.bUnreachable = true;
    s.nRetryInS = 30;
    s.strProblem = "PACS not reachable at 127.0.0.1:4242";
    EXPECT_EQ(s.StatusText(), "PACS: unreachable, retrying in 30 s");
    s.bUnreachable = false;
    s.strProblem = "PACS at 127.0.0.1:4242 refused the association";
    EXPECT_EQ(s.StatusText(), "PACS: 3 waiting, retrying in 30 s");
    s = {};
    s.bPacsOn = true;
    s.nSent = 2;
    EXPECT_EQ(s.StatusText(), "PACS: sent");
    s.nIncoming = 1;
    EXPECT_EQ(s.StatusText(), "PACS: 1 waiting");
}

TEST(QueuedExecutor, TasksFromOtherThreadsRunOnTheOwnerInOrder) {
    CQueuedExecutor exec;
    std::vector<int> ran;
    const auto owner = std::this_thread::get_id();
    std::atomic<int> nWrongThread{0};
    std::thread worker([&] {
        for (int i = 0; i < 1000; ++i)
            exec.Post([&, i] {
                if (std::this_thread::get_id() != owner) ++nWrongThread;
                ran.push_back(i);
            });
    });
    while (ran.size() < 1000) exec.WaitAndRun(100);
    worker.join();
    EXPECT_EQ(nWrongThread, 0);
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(ran[static_cast<size_t>(i)], i);
    // A task that posts again runs in the same RunPending.
    int n = 0;
    exec.Post([&] { exec.Post([&] { ++n; }); });
    EXPECT_EQ(exec.RunPending(), 2u);
    EXPECT_EQ(n, 1);
    EXPECT_EQ(exec.Pending(), 0u);
}

TEST(DurableCopy, CopiesWholeAndLeavesNothingBehindOnFailure) {
    TempDir dir;
    std::string strBytes(3 << 20, '\0');
    for (size_t i = 0; i < strBytes.size(); ++i) strBytes[i] = static_cast<char>(i * 31);
    WriteFile(dir.file("src.dcm"), strBytes);
    std::filesystem::create_directory(dir.file("out"));
    std::string strError;
    ASSERT_TRUE(CopyFileDurably(dir.file("src.dcm"), dir.dir() + "out/", "a.dcm", strError)) << strError;
    EXPECT_EQ(orvi::test::ReadFile(dir.file("out/a.dcm")), strBytes);
    EXPECT_EQ(orvi::test::ListFiles(dir.file("out")), std::vector<std::string>{"a.dcm"});

    EXPECT_FALSE(CopyFileDurably(dir.file("missing.dcm"), dir.dir() + "out/", "b.dcm", strError));
    EXPECT_NE(strError.find("missing.dcm"), std::string::npos);
    if (::geteuid() != 0) {
        ::chmod(dir.file("out").c_str(), 0500);
        EXPECT_FALSE(CopyFileDurably(dir.file("src.dcm"), dir.dir() + "out/", "c.dcm", strError));
        EXPECT_NE(strError.find("cannot write"), std::string::npos);
        ::chmod(dir.file("out").c_str(), 0700);
    }
    EXPECT_EQ(orvi::test::ListFiles(dir.file("out")), std::vector<std::string>{"a.dcm"});
}

TEST(Outbox, SentImagesAreKeptSentKeepDaysAndStaleCopiesRemoved) {
    TempDir dir;
    const std::string strOutbox = dir.dir() + "outbox/";
    std::filesystem::create_directories(strOutbox + "sent");
    WriteFile(strOutbox + "sent/old.dcm", "x");
    WriteFile(strOutbox + "sent/recent.dcm", "x");
    WriteFile(strOutbox + ".interrupted.dcm.part", "x");
    const auto tNow = std::filesystem::file_time_type::clock::now();
    std::filesystem::last_write_time(strOutbox + "sent/old.dcm", tNow - std::chrono::hours(24 * 7 + 1));
    std::filesystem::last_write_time(strOutbox + "sent/recent.dcm", tNow - std::chrono::hours(24 * 7 - 1));
    CNetConfig c;
    c.strOutbox = strOutbox;
    CQueuedExecutor exec;
    bool bStatus = false;
    COutbox outbox(c, exec, [&](const COutboxStatus& s) {
        bStatus = true;
        EXPECT_EQ(s.StatusText(), "");  // no PACS
    });
    std::string strError;
    ASSERT_TRUE(outbox.Start(strError)) << strError;
    while (!bStatus) exec.WaitAndRun(100);
    EXPECT_EQ(orvi::test::ListFiles(strOutbox + "sent"), std::vector<std::string>{"recent.dcm"});
    EXPECT_FALSE(std::filesystem::exists(strOutbox + ".interrupted.dcm.part"));
}

// The image is in the outbox, durably, when Enqueue returns: a crash right
// after it cannot leave the image unsent. Same file system: a second name.
TEST(Outbox, AnEnqueuedFileIsInTheOutboxBeforeEnqueueReturns) {
    TempDir dir;
    const std::string strOutbox = dir.dir() + "outbox/";
    // A readable image, so that the worker leaves it waiting (nobody listens)
    // instead of moving it to rejected/ while this looks.
    ASSERT_TRUE(orvi::test::MakeBareDicomFile(dir.file("image.dcm")));
    const std::string strBytes = orvi::test::ReadFile(dir.file("image.dcm"));
    CNetConfig c;
    c.strOutbox = strOutbox;
    c.pacs.strAet = "PACS";
    c.pacs.strHost = "127.0.0.1";
    c.pacs.nPort = 1;  // nothing listens: the image waits
    CQueuedExecutor exec;
    COutbox outbox(c, exec, nullptr);
    std::string strError;
    ASSERT_TRUE(outbox.Start(strError)) << strError;
    outbox.Enqueue(dir.file("image.dcm"));
    std::vector<std::string> files;
    for (const std::string& s : orvi::test::ListFiles(strOutbox))
        if (s.size() > 9 && s.compare(s.size() - 9, 9, "image.dcm") == 0) files.push_back(s);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(orvi::test::ReadFile(strOutbox + files[0]), strBytes);
    struct stat a {
    }, b{};
    ASSERT_EQ(::stat(dir.file("image.dcm").c_str(), &a), 0);
    ASSERT_EQ(::stat((strOutbox + files[0]).c_str(), &b), 0);
    EXPECT_EQ(a.st_ino, b.st_ino);
}

TEST(Outbox, AnOutboxThatCannotBeMadeIsSaidAtStart) {
    TempDir dir;
    WriteFile(dir.file("file"), "x");
    CNetConfig c;
    c.strOutbox = dir.file("file") + "/outbox/";
    CQueuedExecutor exec;
    COutbox outbox(c, exec, nullptr);
    std::string strError;
    EXPECT_FALSE(outbox.Start(strError));
    EXPECT_NE(strError.find("the outbox folder " + c.strOutbox + " cannot be made"), std::string::npos) << strError;
}

}  // namespace
}  // namespace orvi::dicom
