// The Network, Worklist and Outbox dialogs and the status text, on the real
// servers: the window thread only starts the work and shows its results.
#include "NetServers.h"

#include "export/dicom/net/DicomNet.h"
#include "support/TestSupport.h"
#include "ui/NetworkDlg.h"
#include "ui/NetworkStation.h"
#include "ui/OutboxDlg.h"
#include "ui/QtMainThreadExecutor.h"
#include "ui/WorklistDlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTableWidget>
#include <QThread>
#include <QWidget>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>
#include <vector>

namespace orvi::test {
namespace {

class NetworkDialogs : public ::testing::Test {
protected:
    void SetUp() override {
        if (const std::string strMissing = MissingServers(); !strMissing.empty()) GTEST_SKIP() << strMissing;
    }

    std::unique_ptr<CNetworkStation> Net(const std::string& strDicom) {
        WriteFile(dir.file("ORVI2.ini"), "[DICOM]\n" + strDicom);
        return std::make_unique<CNetworkStation>(&window, dir.file("ORVI2.ini"), dir.dir() + "Images/");
    }

    // Handles the window's events until fnDone() or the time is up.
    static bool Until(const std::function<bool()>& fnDone, int nTimeoutMs = 15000) {
        const auto tEnd = std::chrono::steady_clock::now() + std::chrono::milliseconds(nTimeoutMs);
        while (!fnDone()) {
            if (std::chrono::steady_clock::now() >= tEnd) return false;
            QApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        return true;
    }

    TempDir dir;
    QWidget window;
};

TEST_F(NetworkDialogs, EchoPerServerInWords) {
    COrthanc pacs(dir.file("pacs"));
    ASSERT_TRUE(pacs.Start());
    const uint16_t nNobody = FreePort();
    auto pNet = Net("PACS_HOST=127.0.0.1\nPACS_PORT=" + std::to_string(pacs.DicomPort()) +
                    "\nWORKLIST_AET=RIS\nWORKLIST_HOST=127.0.0.1\nWORKLIST_PORT=" + std::to_string(nNobody) + "\n");
    EXPECT_EQ(pNet->Menu()->actions().size(), 3);
    pNet->ShowNetworkDialog();
    CNetworkDlg* pDlg = pNet->NetworkDialog();
    ASSERT_NE(pDlg, nullptr);
    pDlg->EchoPacs();
    pDlg->EchoWorklist();
    EXPECT_FALSE(pDlg->PacsEcho()->isEnabled());  // while the echo runs
    ASSERT_TRUE(Until([&] { return pDlg->PacsEcho()->isEnabled() && pDlg->WorklistEcho()->isEnabled(); }));
    EXPECT_TRUE(pDlg->PacsResult()->text().startsWith(
        QStringLiteral("PACS at 127.0.0.1:%1 answered the echo").arg(pacs.DicomPort())))
        << pDlg->PacsResult()->text().toStdString();
    EXPECT_EQ(pDlg->WorklistResult()->text(), QStringLiteral("RIS not reachable at 127.0.0.1:%1").arg(nNobody));
    // The station window closes while an echo runs: nothing is left behind.
    pDlg->EchoPacs();
    pNet.reset();
}

TEST_F(NetworkDialogs, WorklistChoiceSetsThePatientAndStudy) {
    const std::string strToday = dicom::TodayDicomDate();
    CWorklistServer ris(dir.file("ris"));
    ASSERT_TRUE(ris.Start("RIS", {{"DOE^JANE", "PID001", "19700102", "F", "ACC001", "1.2.3.4.1", "RP1", "Chest PA",
                                   "SPS1", "Chest", strToday, "0930", "DX"},
                                  {"ROE^JOHN", "PID002", "19700103", "M", "ACC002", "1.2.3.4.2", "RP2", "Hand", "SPS2",
                                   "Hand", strToday, "1000", "DX"}}));
    auto pNet = Net("WORKLIST_AET=RIS\nWORKLIST_HOST=127.0.0.1\nWORKLIST_PORT=" + std::to_string(ris.Port()) + "\n");
    EXPECT_EQ(pNet->StatusLabel()->text(), QString());  // no PACS: no status
    pNet->ShowWorklistDialog();                         // queries at once
    CWorklistDlg* pDlg = pNet->WorklistDialog();
    ASSERT_TRUE(Until([&] { return !pDlg->Busy(); }));
    ASSERT_EQ(pDlg->Table()->rowCount(), 2);
    EXPECT_EQ(pDlg->Table()->item(0, 0)->text(), QStringLiteral("DOE, JANE"));
    EXPECT_EQ(pDlg->Table()->item(1, 2)->text(), QStringLiteral("ACC002"));
    EXPECT_EQ(pDlg->Table()->item(0, 4)->text(),
              QString::fromStdString(strToday.substr(0, 4) + "-" + strToday.substr(4, 2) + "-" + strToday.substr(6, 2) +
                                     " 09:30"));

    pDlg->NameFilter()->setText(QStringLiteral("roe"));
    pDlg->Refresh();
    ASSERT_TRUE(Until([&] { return !pDlg->Busy(); }));
    ASSERT_EQ(pDlg->Table()->rowCount(), 1);
    ASSERT_TRUE(pDlg->Choose(0));
    EXPECT_EQ(pNet->PatientStudy().strAccessionNumber, "ACC002");
    EXPECT_EQ(pNet->PatientStudy().strStudyInstanceUid, "1.2.3.4.2");
    EXPECT_EQ(pNet->PatientStudy().strScheduledStepId, "SPS2");

    ris.Stop();
    pDlg->Refresh();
    ASSERT_TRUE(Until([&] { return !pDlg->Busy(); }));
    EXPECT_EQ(pDlg->Message()->text(), QStringLiteral("Worklist server not reachable at 127.0.0.1:%1").arg(ris.Port()));
    EXPECT_EQ(pDlg->Table()->rowCount(), 0);
    EXPECT_FALSE(pDlg->Choose());
    EXPECT_EQ(pNet->PatientStudy().strAccessionNumber, "ACC002");  // the choice stands
}

TEST_F(NetworkDialogs, OutboxViewListsWaitingImagesAndSendNowSendsThem) {
    COrthanc pacs(dir.file("pacs"));
    ASSERT_TRUE(pacs.Start());
    const uint16_t nPort = pacs.DicomPort();
    pacs.Stop();
    auto pNet = Net("PACS_HOST=127.0.0.1\nPACS_PORT=" + std::to_string(nPort) + "\n");
    pNet->ShowOutboxDialog();
    COutboxDlg* pDlg = pNet->OutboxDialog();
    ASSERT_NE(pDlg, nullptr);
    for (int i = 0; i < 3; ++i) {
        const std::string strPath = dir.file("img" + std::to_string(i) + ".dcm");
        ASSERT_FALSE(MakeDicomFile(strPath, {}).empty());
        pNet->OnDicomFileWritten(strPath);
    }
    ASSERT_TRUE(Until([&] { return pNet->StatusLabel()->text().startsWith(QStringLiteral("PACS: unreachable")); }));
    EXPECT_EQ(pDlg->Table()->rowCount(), 3);
    EXPECT_EQ(pDlg->Table()->item(0, 2)->text(), QStringLiteral("PACS not reachable at 127.0.0.1:%1").arg(nPort));

    ASSERT_TRUE(pacs.Start());
    pDlg->SendNowButton()->click();
    ASSERT_TRUE(Until([&] { return pNet->StatusLabel()->text() == QStringLiteral("PACS: sent"); }));
    EXPECT_EQ(pDlg->Table()->rowCount(), 0);
    EXPECT_EQ(pacs.CountInstances(), 3);
}

TEST(QtMainThreadExecutor, TasksPostedFromWorkersRunOnTheGuiThreadInOrder) {
    CQtMainThreadExecutor exec;
    const QThread* pGui = QThread::currentThread();
    std::vector<std::vector<int>> ran(4);
    int nWrongThread = 0;
    std::vector<std::thread> workers;
    for (int w = 0; w < 4; ++w)
        workers.emplace_back([&, w] {
            for (int i = 0; i < 500; ++i)
                exec.Post([&, w, i] {
                    if (QThread::currentThread() != pGui) ++nWrongThread;
                    ran[static_cast<size_t>(w)].push_back(i);
                });
        });
    for (std::thread& t : workers) t.join();
    const auto tEnd = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    auto total = [&] { return ran[0].size() + ran[1].size() + ran[2].size() + ran[3].size(); };
    while (total() < 2000 && std::chrono::steady_clock::now() < tEnd) QApplication::processEvents();
    EXPECT_EQ(nWrongThread, 0);
    for (const std::vector<int>& v : ran) {
        ASSERT_EQ(v.size(), 500u);
        for (int i = 0; i < 500; ++i) ASSERT_EQ(v[static_cast<size_t>(i)], i);
    }
}

}  // namespace
}  // namespace orvi::test
