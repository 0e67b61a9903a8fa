// Verification, worklist and sending against the real servers on loopback:
// Orthanc as the PACS, wlmscpfs as the worklist server.
#include "NetServers.h"

#include "acquisition/MainThreadExecutor.h"
#include "export/dicom/net/DicomNet.h"
#include "export/dicom/net/Outbox.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>

namespace orvi::dicom {
namespace {

using orvi::test::COrthanc;
using orvi::test::COrthancOptions;
using orvi::test::CScheduledItem;
using orvi::test::CWorklistServer;
using orvi::test::ListFiles;
using orvi::test::TempDir;

std::string Tomorrow() {
    const std::time_t t = std::time(nullptr) + 24 * 3600;
    std::tm tm{};
    localtime_r(&t, &tm);
    char sz[16];
    std::strftime(sz, sizeof sz, "%Y%m%d", &tm);
    return sz;
}

class NetServers : public ::testing::Test {
protected:
    void SetUp() override {
        if (const std::string strMissing = orvi::test::MissingServers(); !strMissing.empty())
            GTEST_SKIP() << strMissing;
    }

    // The station's settings for the PACS on port nPacsPort.
    CNetConfig Config(uint16_t nPacsPort, const std::string& strPacsAet = "PACS") {
        CNetConfig c;
        c.pacs = {strPacsAet, "127.0.0.1", nPacsPort};
        c.nTimeoutS = 5;
        c.strOutbox = dir.dir() + "outbox/";
        return c;
    }

    // Runs the executor's tasks until fnDone() or the time is up.
    bool RunUntil(const std::function<bool()>& fnDone, uint32_t nTimeoutMs = 20000) {
        const auto tEnd = std::chrono::steady_clock::now() + std::chrono::milliseconds(nTimeoutMs);
        while (!fnDone()) {
            if (std::chrono::steady_clock::now() >= tEnd) return false;
            exec.WaitAndRun(20);
        }
        return true;
    }

    std::string NewFile(const CPatientStudy& ps = {}) {
        const std::string strPath = dir.file("image" + std::to_string(++m_nFiles) + ".dcm");
        EXPECT_FALSE(orvi::test::MakeDicomFile(strPath, ps).empty());
        return strPath;
    }

    std::vector<std::string> Waiting() const { return ListFiles(dir.dir() + "outbox"); }
    std::vector<std::string> Sent() const { return ListFiles(dir.dir() + "outbox/sent"); }
    std::vector<std::string> Rejected() const { return ListFiles(dir.dir() + "outbox/rejected"); }

    TempDir dir;
    CQueuedExecutor exec;
    COutboxStatus status;  // as the window last saw it
    int m_nFiles = 0;
};

size_t CountImages(const std::vector<std::string>& names) {
    size_t n = 0;
    for (const std::string& s : names)
        if (s.size() > 4 && s.compare(s.size() - 4, 4, ".dcm") == 0) ++n;
    return n;
}

TEST_F(NetServers, EchoAnswersRefusesOrFindsNobody) {
    COrthanc pacs(dir.file("pacs"));
    ASSERT_TRUE(pacs.Start());
    CNetResult r = Echo("ORVI", {"PACS", "127.0.0.1", pacs.DicomPort()}, 5);
    EXPECT_TRUE(r.Ok()) << r.strText;
    EXPECT_EQ(r.strText.rfind("PACS at 127.0.0.1:" + std::to_string(pacs.DicomPort()) + " answered the echo", 0), 0u)
        << r.strText;

    r = Echo("ORVI", {"NOTPACS", "127.0.0.1", pacs.DicomPort()}, 5);
    EXPECT_EQ(r.eOutcome, ENetOutcome::Refused);
    EXPECT_NE(r.strText.find("refused the association"), std::string::npos) << r.strText;
    EXPECT_NE(r.strText.find("\"NOTPACS\""), std::string::npos) << r.strText;

    const uint16_t nNobody = orvi::test::FreePort();
    r = Echo("ORVI", {"PACS", "127.0.0.1", nNobody}, 5);
    EXPECT_EQ(r.eOutcome, ENetOutcome::Unreachable);
    EXPECT_EQ(r.strText, "PACS not reachable at 127.0.0.1:" + std::to_string(nNobody));
}

TEST_F(NetServers, WorklistPickReachesThePacsWithTheItemsPatientAndStudy) {
    const std::string strToday = TodayDicomDate();
    std::vector<CScheduledItem> scheduled = {
        {"DOE^JANE", "PID001", "19700102", "F", "ACC001", "1.2.826.0.1.3680043.2.1125.1.1", "RP1", "Chest PA", "SPS1",
         "Chest PA standing", strToday, "093000", "DX"},
        {"MÜLLER^HANS", "PID002", "19650505", "M", "ACC002", "1.2.826.0.1.3680043.2.1125.1.2", "RP2", "Hand", "SPS2",
         "Hand left", strToday, "101500", "DX"},
        {"ROE^RICHARD", "PID003", "19800101", "M", "ACC003", "1.2.826.0.1.3680043.2.1125.1.3", "RP3", "Head CT", "SPS3",
         "Head", strToday, "110000", "CT"},
        {"DOE^JOHN", "PID004", "19900101", "M", "ACC004", "1.2.826.0.1.3680043.2.1125.1.4", "RP4", "Knee", "SPS4",
         "Knee", Tomorrow(), "080000", "DX"},
    };
    CWorklistServer ris(dir.file("ris"));
    ASSERT_TRUE(ris.Start("RIS", scheduled));
    const CPeer peer{"RIS", "127.0.0.1", ris.Port()};

    std::vector<CWorklistItem> items;
    CWorklistQuery q;
    q.strDate = strToday;
    CNetResult r = QueryWorklist("ORVI", peer, 5, q, items);
    ASSERT_TRUE(r.Ok()) << r.strText;
    ASSERT_EQ(items.size(), 2u);  // DX today only

    q.strName = "müller";
    ASSERT_TRUE(QueryWorklist("ORVI", peer, 5, q, items).Ok());
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].ps.strPatientName, "MÜLLER^HANS");

    q = {};
    q.strAccession = "ACC001";
    ASSERT_TRUE(QueryWorklist("ORVI", peer, 5, q, items).Ok());
    ASSERT_EQ(items.size(), 1u);
    const CPatientStudy& ps = items[0].ps;
    EXPECT_EQ(ps.strPatientName, "DOE^JANE");
    EXPECT_EQ(ps.strPatientId, "PID001");
    EXPECT_EQ(ps.strBirthDate, "19700102");
    EXPECT_EQ(ps.strSex, "F");
    EXPECT_EQ(ps.strStudyInstanceUid, "1.2.826.0.1.3680043.2.1125.1.1");
    EXPECT_EQ(ps.strRequestedProcedureId, "RP1");
    EXPECT_EQ(ps.strRequestedProcedureDescription, "Chest PA");
    EXPECT_EQ(ps.strScheduledStepId, "SPS1");
    EXPECT_EQ(ps.strScheduledStepDescription, "Chest PA standing");
    EXPECT_EQ(ps.strScheduledStepStart, strToday + "093000");
    EXPECT_EQ(ps.strReferringPhysician, "REFERRER^ANNA");
    ASSERT_NE(FindByAccession(items, "ACC001"), nullptr);
    EXPECT_EQ(FindByAccession(items, "ACC999"), nullptr);

    // The picked item's image in the PACS.
    COrthanc pacs(dir.file("pacs"));
    ASSERT_TRUE(pacs.Start());
    COutbox outbox(Config(pacs.DicomPort()), exec, [this](const COutboxStatus& s) { status = s; });
    std::string strError;
    ASSERT_TRUE(outbox.Start(strError)) << strError;
    outbox.Enqueue(NewFile(ps));
    ASSERT_TRUE(RunUntil([&] { return status.nSent == 1 && status.Idle(); })) << status.StatusText();
    EXPECT_EQ(status.StatusText(), "PACS: sent");
    const std::vector<std::string> tags = pacs.InstanceTags();
    ASSERT_EQ(tags.size(), 1u);
    EXPECT_NE(tags[0].find("\"PatientID\" : \"PID001\""), std::string::npos) << tags[0];
    EXPECT_NE(tags[0].find("\"AccessionNumber\" : \"ACC001\""), std::string::npos) << tags[0];
    EXPECT_NE(tags[0].find("\"StudyInstanceUID\" : \"1.2.826.0.1.3680043.2.1125.1.1\""), std::string::npos) << tags[0];
    EXPECT_NE(tags[0].find("\"PatientName\" : \"DOE^JANE\""), std::string::npos) << tags[0];

    // The server gone: the reason in words.
    ris.Stop();
    r = QueryWorklist("ORVI", peer, 5, q, items);
    EXPECT_EQ(r.eOutcome, ENetOutcome::Unreachable);
    EXPECT_EQ(r.strText, "Worklist server not reachable at 127.0.0.1:" + std::to_string(ris.Port()));
    EXPECT_TRUE(items.empty());
}

TEST_F(NetServers, ImagesWaitWhileThePacsIsDownAndArriveOnceItRunsAlsoAfterARestart) {
    COrthanc pacs(dir.file("pacs"));
    const uint16_t nPort = orvi::test::FreePort();
    // The PACS is down at the exposures.
    {
        COutbox outbox(Config(nPort), exec, [this](const COutboxStatus& s) { status = s; });
        std::string strError;
        ASSERT_TRUE(outbox.Start(strError)) << strError;
        for (int i = 0; i < 3; ++i) outbox.Enqueue(NewFile());
        ASSERT_TRUE(RunUntil([&] { return status.bUnreachable && status.waiting.size() == 3; }));
        EXPECT_EQ(status.StatusText().rfind("PACS: unreachable, retrying in ", 0), 0u) << status.StatusText();
        EXPECT_EQ(status.waiting[0].strLastError, "PACS not reachable at 127.0.0.1:" + std::to_string(nPort));
        EXPECT_GE(status.waiting[0].nAttempts, 1u);
        EXPECT_EQ(CountImages(Waiting()), 3u);
    }  // the station stops with the images waiting
    EXPECT_EQ(CountImages(Waiting()), 3u);

    // Started again with the PACS up: the queue resumes.
    COrthancOptions o;
    ASSERT_TRUE(pacs.Start(o));
    CNetConfig c = Config(nPort);
    ASSERT_NE(pacs.DicomPort(), 0);
    c.pacs.nPort = pacs.DicomPort();
    // The outbox keeps the files under their own names; the port is the PACS's.
    COutbox outbox(c, exec, [this](const COutboxStatus& s) { status = s; });
    std::string strError;
    ASSERT_TRUE(outbox.Start(strError)) << strError;
    ASSERT_TRUE(RunUntil([&] { return status.nSent == 3 && status.Idle(); })) << status.StatusText();
    EXPECT_EQ(pacs.CountInstances(), 3);
    EXPECT_EQ(CountImages(Waiting()), 0u);
    EXPECT_EQ(Sent().size(), 3u);
}

TEST_F(NetServers, PacsDownThenStartedSendNowDeliversAtOnce) {
    COrthanc pacs(dir.file("pacs"));
    ASSERT_TRUE(pacs.Start());
    const uint16_t nPort = pacs.DicomPort();
    pacs.Stop();
    COutbox outbox(Config(nPort), exec, [this](const COutboxStatus& s) { status = s; });
    std::string strError;
    ASSERT_TRUE(outbox.Start(strError)) << strError;
    // Several failures: the back-off grows past what the test waits.
    for (int i = 0; i < 2; ++i) outbox.Enqueue(NewFile());
    ASSERT_TRUE(RunUntil([&] { return status.bUnreachable && status.waiting.size() == 2; }));
    outbox.SendNow();
    ASSERT_TRUE(RunUntil([&] { return status.waiting.size() == 2 && status.waiting[0].nAttempts >= 2; }));
    ASSERT_TRUE(pacs.Start());
    ASSERT_EQ(pacs.DicomPort(), nPort);
    outbox.SendNow();
    ASSERT_TRUE(RunUntil([&] { return status.nSent == 2 && status.Idle(); }, 5000)) << status.StatusText();
    EXPECT_EQ(pacs.CountInstances(), 2);
    EXPECT_EQ(status.StatusText(), "PACS: sent");
}

TEST_F(NetServers, RefusedAssociationIsSaidInWordsAndTheImageKept) {
    COrthanc pacs(dir.file("pacs"));
    ASSERT_TRUE(pacs.Start());  // checks the called AE title
    COutbox outbox(Config(pacs.DicomPort(), "WRONGAET"), exec, [this](const COutboxStatus& s) { status = s; });
    std::string strError;
    ASSERT_TRUE(outbox.Start(strError)) << strError;
    outbox.Enqueue(NewFile());
    ASSERT_TRUE(RunUntil([&] { return !status.strProblem.empty() && status.waiting.size() == 1; }));
    EXPECT_FALSE(status.bUnreachable);
    EXPECT_NE(status.strProblem.find("refused the association"), std::string::npos) << status.strProblem;
    EXPECT_NE(status.strProblem.find("\"WRONGAET\""), std::string::npos) << status.strProblem;
    EXPECT_EQ(status.waiting[0].strLastError, status.strProblem);
    EXPECT_EQ(status.StatusText().rfind("PACS: 1 waiting, retrying in ", 0), 0u) << status.StatusText();
    EXPECT_EQ(CountImages(Waiting()), 1u);
    EXPECT_EQ(pacs.CountInstances(), 0);
}

TEST_F(NetServers, ImagesThePacsCannotTakeAreKeptApartWithTheReason) {
    COrthanc pacs(dir.file("pacs"));
    ASSERT_TRUE(pacs.Start());
    COutbox outbox(Config(pacs.DicomPort()), exec, [this](const COutboxStatus& s) { status = s; });
    std::string strError;
    ASSERT_TRUE(outbox.Start(strError)) << strError;
    orvi::test::WriteFile(dir.file("broken.dcm"), "not a DICOM file");
    outbox.Enqueue(dir.file("broken.dcm"));
    outbox.Enqueue(NewFile());
    ASSERT_TRUE(RunUntil([&] { return status.nSent == 1 && status.nRejected == 1 && status.Idle(); }))
        << status.StatusText();
    EXPECT_EQ(pacs.CountInstances(), 1);
    const std::vector<std::string> rejected = Rejected();
    ASSERT_EQ(rejected.size(), 2u);  // the file and its reason
    EXPECT_NE(rejected[0].find("broken.dcm"), std::string::npos);
    EXPECT_EQ(rejected[1], rejected[0] + ".txt");
    EXPECT_NE(orvi::test::ReadFile(dir.dir() + "outbox/rejected/" + rejected[1]).find("not a readable DICOM file"),
              std::string::npos);
    EXPECT_NE(status.strLastRejection.find("not a readable DICOM file"), std::string::npos);

    // A dataset the PACS cannot file (no patient, no study): refused each time, kept apart
    // after five tries, with the PACS's status.
    ASSERT_TRUE(orvi::test::MakeBareDicomFile(dir.file("bare.dcm")));
    outbox.Enqueue(dir.file("bare.dcm"));
    ASSERT_TRUE(RunUntil([&] {
        outbox.SendNow();
        return status.nRejected == 2 && status.Idle();
    })) << status.StatusText();
    EXPECT_NE(status.strLastRejection.find("bare.dcm: the PACS refused it 5 times: failure 0xA700"), std::string::npos)
        << status.strLastRejection;
    EXPECT_EQ(Rejected().size(), 4u);
}

TEST_F(NetServers, StorageCommitmentMovesImagesToSentOnlyWhenCommitted) {
    const uint16_t nStationPort = orvi::test::FreePort();
    COrthanc pacs(dir.file("pacs"));
    COrthancOptions o;
    o.nStationPort = nStationPort;
    ASSERT_TRUE(pacs.Start(o));
    CNetConfig c = Config(pacs.DicomPort());
    c.bCommit = true;
    c.nStationPort = nStationPort;
    COutbox outbox(c, exec, [this](const COutboxStatus& s) { status = s; });
    std::string strError;
    ASSERT_TRUE(outbox.Start(strError)) << strError;
    for (int i = 0; i < 4; ++i) outbox.Enqueue(NewFile());
    ASSERT_TRUE(RunUntil([&] { return status.nSent == 4 && status.Idle(); })) << status.StatusText();
    EXPECT_EQ(pacs.CountInstances(), 4);
    EXPECT_EQ(Sent().size(), 4u);
    const std::string strLog = orvi::test::ReadFile(dir.dir() + "outbox/outbox.log");
    size_t nCommitted = 0;
    for (size_t n = 0; (n = strLog.find("stored and committed by the PACS", n)) != std::string::npos; ++n) ++nCommitted;
    EXPECT_EQ(nCommitted, 4u) << strLog;
}

TEST_F(NetServers, PacsStoppedBeforeItsCommitmentKeepsTheImageUntilALaterCommitment) {
    const uint16_t nStationPort = orvi::test::FreePort();
    COrthanc pacs(dir.file("pacs"));
    COrthancOptions o;
    o.nStationPort = orvi::test::FreePort();  // its report goes nowhere: the PACS is stopped before it reaches us
    ASSERT_TRUE(pacs.Start(o));
    CNetConfig c = Config(pacs.DicomPort());
    c.bCommit = true;
    c.nStationPort = nStationPort;
    c.nTimeoutS = 1;  // a report may take 10 s
    COutbox outbox(c, exec, [this](const COutboxStatus& s) { status = s; });
    std::string strError;
    ASSERT_TRUE(outbox.Start(strError)) << strError;
    outbox.Enqueue(NewFile());
    // Stored, but the report does not come.
    ASSERT_TRUE(RunUntil(
        [&] { return status.waiting.size() == 1 && status.waiting[0].strLastError.rfind("stored, waiting", 0) == 0; }));
    EXPECT_TRUE(Sent().empty());
    ASSERT_TRUE(RunUntil([&] {
        return status.waiting.size() == 1 && status.waiting[0].strLastError.rfind("no storage commitment", 0) == 0;
    }));
    EXPECT_EQ(status.waiting[0].strLastError, "no storage commitment report from the PACS within 10 s");
    // The PACS stops before it commits; the next tries find nobody.
    pacs.Stop();
    const uint32_t nAttempts = status.waiting[0].nAttempts;
    outbox.SendNow();
    ASSERT_TRUE(RunUntil([&] { return status.waiting.size() == 1 && status.waiting[0].nAttempts > nAttempts; }));
    EXPECT_TRUE(status.bUnreachable);
    EXPECT_EQ(CountImages(Waiting()), 1u);
    EXPECT_TRUE(Sent().empty());

    // The PACS back, now able to report: the next try commits it.
    o.nStationPort = nStationPort;
    ASSERT_TRUE(pacs.Start(o));
    outbox.SendNow();
    ASSERT_TRUE(RunUntil([&] { return status.nSent == 1 && status.Idle(); })) << status.StatusText();
    EXPECT_EQ(Sent().size(), 1u);
    EXPECT_EQ(pacs.CountInstances(), 1);
}

TEST_F(NetServers, ACommitmentListenerThatCannotListenKeepsTheImagesWithTheReason) {
    COrthanc pacs(dir.file("pacs"));
    ASSERT_TRUE(pacs.Start());
    // Another program holds the station's port.
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(listen(fd, 1), 0);
    socklen_t n = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &n);
    CNetConfig c = Config(pacs.DicomPort());
    c.bCommit = true;
    c.nStationPort = ntohs(addr.sin_port);
    COutbox outbox(c, exec, [this](const COutboxStatus& s) { status = s; });
    std::string strError;
    ASSERT_TRUE(outbox.Start(strError)) << strError;
    outbox.Enqueue(NewFile());
    ASSERT_TRUE(RunUntil([&] { return status.waiting.size() == 1 && !status.waiting[0].strLastError.empty(); }));
    const std::string strExpected =
        "the station cannot listen for storage commitment reports on port " + std::to_string(c.nStationPort);
    EXPECT_EQ(status.waiting[0].strLastError.rfind(strExpected, 0), 0u) << status.waiting[0].strLastError;
    EXPECT_EQ(status.strProblem.rfind(strExpected, 0), 0u) << status.strProblem;
    EXPECT_EQ(CountImages(Waiting()), 1u);

    // The port free again: the next try listens, sends and is committed.
    close(fd);
    outbox.Stop();
    COrthanc pacs2(dir.file("pacs2"));
    COrthancOptions o;
    o.nStationPort = c.nStationPort;
    ASSERT_TRUE(pacs2.Start(o));
    c.pacs.nPort = pacs2.DicomPort();
    COutbox again(c, exec, [this](const COutboxStatus& s) { status = s; });
    ASSERT_TRUE(again.Start(strError)) << strError;
    ASSERT_TRUE(RunUntil([&] { return status.nSent == 1 && status.Idle(); })) << status.StatusText();
    EXPECT_EQ(pacs2.CountInstances(), 1);
}

}  // namespace
}  // namespace orvi::dicom
