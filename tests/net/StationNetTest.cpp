// orvi-station on the network: the worklist from the command line, and
// --send killed mid-way and run again.
#include "NetServers.h"

#include "app/Profile.h"
#include "export/dicom/net/DicomNet.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

namespace orvi::test {
namespace {

class StationOnNetwork : public ::testing::Test {
protected:
    void SetUp() override {
        if (const std::string strMissing = MissingServers(); !strMissing.empty()) GTEST_SKIP() << strMissing;
        // The station's single-instance lock in the test's own folder.
        setenv("XDG_RUNTIME_DIR", dir.dir().c_str(), 1);
    }

    void WriteIni(const std::string& strDicom) {
        WriteFile(dir.file("ORVI2.ini"), "[CONFIG]\nIMAGE_PATH=" + dir.dir() + "Images/\n[DICOM]\n" + strDicom);
    }

    // Runs orvi-station with the arguments; returns its exit code, its output in m_strOut.
    int Station(std::vector<std::string> args, CChild* pKeep = nullptr) {
        args.insert(args.begin(), {ORVI_STATION_EXE, "--program-dir", dir.dir()});
        std::filesystem::remove(dir.file("station.log"));
        CChild local;
        CChild& child = pKeep ? *pKeep : local;
        if (!child.Start(args, dir.file("station.log"))) return -1;
        if (pKeep) return 0;
        const int nCode = child.Wait(60000);
        m_strOut = ReadFile(dir.file("station.log"));
        return nCode;
    }

    TempDir dir;
    std::string m_strOut;
};

TEST_F(StationOnNetwork, WorklistListedAndPickedByAccession) {
    const std::string strToday = dicom::TodayDicomDate();
    CWorklistServer ris(dir.file("ris"));
    ASSERT_TRUE(ris.Start("RIS", {{"DOE^JANE", "PID001", "19700102", "F", "ACC001", "1.2.3.4.1", "RP1", "Chest PA",
                                   "SPS1", "Chest", strToday, "0930", "DX"},
                                  {"ROE^JOHN", "PID002", "19700103", "M", "ACC002", "1.2.3.4.2", "RP2", "Hand", "SPS2",
                                   "Hand", strToday, "1000", "DX"}}));
    WriteIni("WORKLIST_AET=RIS\nWORKLIST_HOST=127.0.0.1\nWORKLIST_PORT=" + std::to_string(ris.Port()) + "\n");

    EXPECT_EQ(Station({"--worklist"}), 0) << m_strOut;
    EXPECT_NE(m_strOut.find("worklist: 2 items from RIS at 127.0.0.1:"), std::string::npos) << m_strOut;
    EXPECT_NE(m_strOut.find("ACC001"), std::string::npos) << m_strOut;
    EXPECT_NE(m_strOut.find("ROE^JOHN"), std::string::npos) << m_strOut;
    EXPECT_EQ(m_strOut.find("connect"), std::string::npos) << "no detector for network steps alone";

    EXPECT_EQ(Station({"--worklist-pick", "ACC002"}), 0) << m_strOut;
    EXPECT_NE(m_strOut.find("picked: ROE^JOHN (PID002), accession ACC002, study 1.2.3.4.2"), std::string::npos)
        << m_strOut;

    EXPECT_EQ(Station({"--worklist-pick", "ACC999"}), 1) << m_strOut;
    EXPECT_NE(m_strOut.find("accession ACC999 is not on the worklist"), std::string::npos) << m_strOut;

    ris.Stop();
    EXPECT_EQ(Station({"--worklist"}), 1) << m_strOut;
    EXPECT_NE(m_strOut.find("Worklist server not reachable at 127.0.0.1:" + std::to_string(ris.Port())),
              std::string::npos)
        << m_strOut;
}

TEST_F(StationOnNetwork, KilledWhileSendingResendsAfterRestartWithOneInstanceEach) {
    COrthanc pacs(dir.file("pacs"));
    ASSERT_TRUE(pacs.Start());
    WriteIni("PACS_AET=PACS\nPACS_HOST=127.0.0.1\nPACS_PORT=" + std::to_string(pacs.DicomPort()) + "\n");
    constexpr int kFiles = 24;
    std::vector<std::string> args = {"--send"};
    for (int i = 0; i < kFiles; ++i) {
        const std::string strPath = dir.file("img" + std::to_string(i) + ".dcm");
        ASSERT_FALSE(MakeDicomFile(strPath, {}, 1024).empty());
        args.push_back("--send-file");
        args.push_back(strPath);
    }
    // The PACS is down when the images are made: they wait in the outbox.
    pacs.Stop();
    args.push_back("--send-timeout");
    args.push_back("1");
    EXPECT_EQ(Station(args), 1) << m_strOut;
    EXPECT_NE(m_strOut.find("PACS: unreachable, retrying in 1 s"), std::string::npos) << m_strOut;
    EXPECT_NE(m_strOut.find("they wait in the outbox for the next run"), std::string::npos) << m_strOut;
    ASSERT_TRUE(pacs.Start());
    CChild station;
    ASSERT_EQ(Station({"--send"}, &station), 0);
    // Killed as soon as the first image is in the PACS.
    const auto tEnd = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (pacs.CountInstances() < 1 && std::chrono::steady_clock::now() < tEnd)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    station.Kill();
    const int64_t nBefore = pacs.CountInstances();
    EXPECT_GE(nBefore, 1);
    const std::vector<std::string> waiting = ListFiles(dir.dir() + "Images/outbox");
    size_t nWaiting = 0;
    for (const std::string& s : waiting) nWaiting += s.find(".dcm") != std::string::npos && s[0] != '.';
    // An image the PACS stored just before the kill may wait as well: it is sent again.
    EXPECT_GE(nWaiting + static_cast<size_t>(nBefore), static_cast<size_t>(kFiles)) << "nothing lost";
    EXPECT_GE(nWaiting, 1u) << "killed too late to show anything";

    // Run again: what waits goes, nothing twice.
    EXPECT_EQ(Station({"--send"}), 0) << m_strOut;
    EXPECT_NE(m_strOut.find("every image acknowledged by the PACS"), std::string::npos) << m_strOut;
    EXPECT_EQ(pacs.CountInstances(), kFiles);
    EXPECT_EQ(ListFiles(dir.dir() + "Images/outbox/sent").size(), static_cast<size_t>(kFiles));
    std::printf("killed after %lld of %d instances, %zu files waited\n", static_cast<long long>(nBefore), kFiles,
                nWaiting);
}

// The whole chain: a worklist pick, an exposure on the simulated detector, its
// DICOM file through the outbox into the PACS with storage commitment.
TEST_F(StationOnNetwork, PickedWorklistItemsPatientAndStudyReachThePacs) {
    const std::string strToday = dicom::TodayDicomDate();
    CWorklistServer ris(dir.file("ris"));
    ASSERT_TRUE(ris.Start("RIS", {{"DOE^JANE", "PID001", "19700102", "F", "ACC001", "1.2.826.0.1.3680043.2.1125.7.1",
                                   "RP1", "Chest PA", "SPS1", "Chest", strToday, "0930", "DX"}}));
    const uint16_t nStationPort = FreePort();
    COrthanc pacs(dir.file("pacs"));
    COrthancOptions o;
    o.nStationPort = nStationPort;
    ASSERT_TRUE(pacs.Start(o));
    // The default configuration (simulated detector), in the test's folders.
    std::string strIni = ReadFile(ORVI_DEFAULT_INI);
    ASSERT_FALSE(strIni.empty());
    WriteFile(dir.file("ORVI2.ini"), strIni);
    const std::string strIniPath = dir.file("ORVI2.ini");
    WriteProfileText(strIniPath, "CONFIG", "IMAGE_PATH", dir.dir() + "Images/");
    WriteProfileText(strIniPath, "CONFIG", "CAL_PATH", dir.dir() + "Calibration/");
    WriteProfileText(strIniPath, "CONFIG", "CALIBRATION", "0");
    WriteProfileText(strIniPath, "CONFIG", "IMAGE_WIDTH", "512");
    WriteProfileText(strIniPath, "CONFIG", "IMAGE_HEIGHT", "512");
    WriteProfileText(strIniPath, "SIMULATOR", "FRAME_WIDTH", "512");
    WriteProfileText(strIniPath, "SIMULATOR", "FRAME_HEIGHT", "512");
    const std::pair<const char*, std::string> keys[] = {{"STATION_PORT", std::to_string(nStationPort)},
                                                        {"PACS_AET", "PACS"},
                                                        {"PACS_HOST", "127.0.0.1"},
                                                        {"PACS_PORT", std::to_string(pacs.DicomPort())},
                                                        {"COMMIT", "1"},
                                                        {"WORKLIST_AET", "RIS"},
                                                        {"WORKLIST_HOST", "127.0.0.1"},
                                                        {"WORKLIST_PORT", std::to_string(ris.Port())}};
    for (const auto& [szKey, strValue] : keys) WriteProfileText(strIniPath, "DICOM", szKey, strValue);

    EXPECT_EQ(Station({"--virtual-time", "--worklist-pick", "ACC001", "-n", "1", "--send"}), 0) << m_strOut;
    EXPECT_NE(m_strOut.find("every image acknowledged by the PACS"), std::string::npos) << m_strOut;
    const std::vector<std::string> tags = pacs.InstanceTags();
    ASSERT_EQ(tags.size(), 1u) << m_strOut;
    EXPECT_NE(tags[0].find("\"PatientID\" : \"PID001\""), std::string::npos) << tags[0];
    EXPECT_NE(tags[0].find("\"PatientName\" : \"DOE^JANE\""), std::string::npos) << tags[0];
    EXPECT_NE(tags[0].find("\"AccessionNumber\" : \"ACC001\""), std::string::npos) << tags[0];
    EXPECT_NE(tags[0].find("\"StudyInstanceUID\" : \"1.2.826.0.1.3680043.2.1125.7.1\""), std::string::npos) << tags[0];
    EXPECT_EQ(ListFiles(dir.dir() + "Images/outbox/sent").size(), 1u);
}

}  // namespace
}  // namespace orvi::test
