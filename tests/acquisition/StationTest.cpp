// orvi-station's run on the simulated detector in virtual time: the lines it
// prints and its exit codes.
#include "app/EventLog.h"
#include "app/Profile.h"
#include "station/StationRun.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <sys/wait.h>

namespace orvi::test {
namespace {

class Station : public ::testing::Test {
protected:
    void SetUp() override {
        SetLogPath(m_dir.file(kLogFileName));
        WriteFile(m_dir.file("ORVI2.ini"), "[CONFIG]\nIMAGE_PATH=" + m_dir.dir() + "img/\nCAL_PATH=" + m_dir.dir() +
                                               "cal/\nIMAGE_NAME=IMAGE.RAW\nIMAGE_WIDTH=256\nIMAGE_HEIGHT=256\n"
                                               "COM_NAME_1=SIMCOM1\nADAPTER_NAME_1=Simulated GigE Adapter 1\n"
                                               "[SIMULATOR]\nFRAME_WIDTH=256\nFRAME_HEIGHT=256\n");
        m_plan.strProgramDir = m_dir.dir();
        m_plan.strLockDir = m_dir.dir();
        m_plan.bVirtualTime = true;
    }
    void TearDown() override {
        SetLogPath(kLogFileName);
        g_bWriteLog = 0;
    }
    int Run() { return RunStation(m_plan, m_out); }
    bool Printed(const std::string& strText) const { return m_out.str().find(strText) != std::string::npos; }
    size_t Count(const std::string& strText) const {
        size_t nCount = 0;
        const std::string strAll = m_out.str();
        for (size_t n = strAll.find(strText); n != std::string::npos; n = strAll.find(strText, n + 1)) ++nCount;
        return nCount;
    }

    TempDir m_dir;
    CStationPlan m_plan;
    std::ostringstream m_out;
};

TEST_F(Station, CalibratesMakesTheMapAndTakesThreeExposures) {
    m_plan.bCalibrate = true;
    m_plan.bOpenBeam = true;
    m_plan.bMakeBpm = true;
    m_plan.nExposures = 3;
    m_plan.nTriggerMode = 7;
    EXPECT_EQ(Run(), kStationOk) << m_out.str();
    EXPECT_TRUE(Printed("saved: " + m_dir.dir() + "cal/BPM.RAW"));
    EXPECT_TRUE(Printed("exposure 3 of 3, trigger mode 7"));
    size_t nImages = 0;
    for (size_t n = m_out.str().find("saved: " + m_dir.dir() + "img/IMAGE.RAW"); n != std::string::npos;
         n = m_out.str().find("saved: " + m_dir.dir() + "img/IMAGE.RAW", n + 1))
        ++nImages;
    EXPECT_EQ(nImages, 3u);
    EXPECT_EQ(ListFiles(m_dir.dir() + "cal").size(), 3u);  // BPM, one bright, one dark
}

TEST_F(Station, EveryExposureIsAlsoADicomFileOfThePatientGiven) {
    WriteProfileText(m_dir.file("ORVI2.ini"), "CONFIG", "CALIBRATION", "0");
    m_plan.nExposures = 2;
    m_plan.patient.strPatientName = "Doe^Jane";
    m_plan.patient.strPatientId = "P-1";
    EXPECT_EQ(Run(), kStationOk) << m_out.str();
    const std::vector<std::string> files = ListFiles(m_dir.dir() + "img/dicom");
    ASSERT_EQ(files.size(), 2u) << m_out.str();
    for (const std::string& strName : files) {
        EXPECT_TRUE(Printed("saved: " + m_dir.dir() + "img/dicom/" + strName));
        EXPECT_NE(ReadFile(m_dir.dir() + "img/dicom/" + strName).find("Doe^Jane"), std::string::npos);
    }
    EXPECT_TRUE(Printed("exposure index: EI "));
}

TEST_F(Station, StopsAtTheFirstMessageBox) {
    WriteProfileText(m_dir.file("ORVI2.ini"), "SIMULATOR", "INIT_FAILURE_1", "-2");
    m_plan.nExposures = 1;
    EXPECT_EQ(Run(), kStationFailed);
    EXPECT_TRUE(Printed("message (ORVI Manager): A: Gigabit Network connection failed!"));
    EXPECT_FALSE(Printed("exposure 1"));
}

// A message that does not end the sequence is printed and the run goes on:
// the exposure is saved, and the exit code says that something was shown.
TEST_F(Station, GoesOnAfterAMessageThatDoesNotEndTheExposure) {
    WriteProfileText(m_dir.file("ORVI2.ini"), "CONFIG", "DOSE_INDICATOR", "1");
    std::filesystem::create_directories(m_dir.dir() + "img/doseindicator.txt");  // blocked
    WriteFile(m_dir.dir() + "img/doseindicator.txt/x", "");
    m_plan.nExposures = 2;
    EXPECT_EQ(Run(), kStationFailed);
    EXPECT_TRUE(Printed("message (ORVI Manager): Message file creation fail!!"));
    EXPECT_TRUE(Printed("exposure 2 of 2"));
    EXPECT_TRUE(Printed("saved: " + m_dir.dir() + "img/IMAGE.RAW"));
}

TEST_F(Station, AnImageFolderThatCannotBeUsedEndsTheRun) {
    WriteFile(m_dir.dir() + "img", "a file where the folder should be");
    m_plan.nExposures = 2;
    EXPECT_EQ(Run(), kStationFailed);
    EXPECT_TRUE(Printed("exposure 1 of 2"));
    EXPECT_FALSE(Printed("exposure 2 of 2"));
}

TEST_F(Station, AStepThatNeverEndsFails) {
    // A repeat series far longer than the step may take, and no X-ray.
    WriteProfileText(m_dir.file("ORVI2.ini"), "SIMULATOR", "AUTO_FIRE_MS", "0");
    WriteProfileText(m_dir.file("ORVI2.ini"), "CONFIG", "REPEAT_NUMBER", "100000");
    m_plan.nExposures = 1;
    m_plan.nTriggerMode = 7;
    m_plan.nStepTimeoutS = 60;
    EXPECT_EQ(Run(), kStationFailed);
    EXPECT_TRUE(Printed("exposure 1 did not end within 60 s")) << m_out.str();
}

// A step that stopped on its own says so, with the last thing the station
// said, instead of claiming it ran out of time.
TEST_F(Station, AStepWithNothingLeftToWaitForSaysWhatHappened) {
    struct Case {
        const char* szName;
        int32_t nTriggerMode;
        const char* szLast;
    };
    for (const Case& c : {Case{"mode 6 without a board", 6, "(last: USB is disconnected)"},
                          // The detector's exposure window (30 s) closes without X-ray.
                          Case{"a series without X-ray", 7, "(last: Exposure disable [R]"},
                          // Status pane 0 says so 3 s after the detector stopped waiting.
                          Case{"armed, no X-ray", 1, "(last: No image came: press Acquisition again)"}}) {
        WriteProfileText(m_dir.file("ORVI2.ini"), "SIMULATOR", "AUTO_FIRE_MS", "0");
        m_plan.nExposures = 1;
        m_plan.nTriggerMode = c.nTriggerMode;
        m_plan.nStepTimeoutS = 60;
        std::ostringstream out;
        EXPECT_EQ(RunStation(m_plan, out), kStationFailed) << c.szName;
        const std::string strOut = out.str();
        EXPECT_NE(strOut.find(std::string("exposure 1 stopped: nothing left to wait for ") + c.szLast),
                  std::string::npos)
            << c.szName << "\n"
            << strOut;
        EXPECT_EQ(strOut.find("did not end within"), std::string::npos) << c.szName;
    }
}

TEST_F(Station, CannotStartWithoutItsConfiguration) {
    m_plan.strProgramDir = m_dir.dir() + "nowhere/";
    EXPECT_EQ(Run(), kStationCannotStart);
    EXPECT_TRUE(Printed("ORVI2.ini don`t exist."));
    CSingleInstance other;
    ASSERT_TRUE(other.Acquire(kInstanceMutexName, m_dir.dir()));
    m_plan.strProgramDir = m_dir.dir();
    std::ostringstream out;
    EXPECT_EQ(RunStation(m_plan, out), kStationCannotStart);
    EXPECT_NE(out.str().find("Application is already running."), std::string::npos);
}

// Trigger mode 6 on the simulated board: the operator taps the switch through
// for the bright frame and each exposure, the generator fires after its own time.
TEST_F(Station, TappedHandSwitchTakesEveryExposureInModeSix) {
    WriteProfileText(m_dir.file("ORVI2.ini"), "SIMULATOR", "BOARDS", "1");
    m_plan.bCalibrate = true;
    m_plan.bOpenBeam = true;
    m_plan.bMakeBpm = true;
    m_plan.nTriggerMode = 6;
    m_plan.nExposures = 2;
    m_plan.bHandSwitch = true;
    m_plan.handSwitch.kind = CHandSwitchPlan::Kind::Tap;
    m_plan.nFireAfterMs = 3000;
    const int nResult = Run();
    if (Printed("unplug a real board")) GTEST_SKIP() << "a real board is plugged in";
    EXPECT_EQ(nResult, kStationOk) << m_out.str();
    EXPECT_EQ(Count("saved: " + m_dir.dir() + "img/IMAGE.RAW"), 2u) << m_out.str();
    EXPECT_EQ(Count("hand switch pressed through"), 3u);
    EXPECT_EQ(Count("hand switch let go"), 3u);
    EXPECT_TRUE(Printed("saved: " + m_dir.dir() + "cal/BPM.RAW"));
    EXPECT_TRUE(Printed("generator: X-ray 3000 ms after each arming"));
}

TEST_F(Station, HandSwitchNeedsTheSimulatedBoard) {
    WriteProfileText(m_dir.file("ORVI2.ini"), "SIMULATOR", "BOARDS", "0");
    m_plan.nTriggerMode = 6;
    m_plan.nExposures = 1;
    m_plan.bHandSwitch = true;
    m_plan.handSwitch.kind = CHandSwitchPlan::Kind::Hold;
    m_plan.handSwitch.nHoldMs = 2000;
    EXPECT_EQ(Run(), kStationFailed);
    EXPECT_TRUE(Printed("--hand-switch needs the simulated board")) << m_out.str();
    EXPECT_FALSE(Printed("exposure 1"));
}

// The command line itself, as a script would run it.
TEST_F(Station, CommandLineTapsTwoExposuresInVirtualTime) {
    WriteProfileText(m_dir.file("ORVI2.ini"), "SIMULATOR", "BOARDS", "1");
    WriteProfileText(m_dir.file("ORVI2.ini"), "CONFIG", "CALIBRATION", "0");
    // The single-instance lock in the test's own folder, away from other runs.
    const std::string strCommand = "XDG_RUNTIME_DIR='" + m_dir.dir() + "' '" ORVI_STATION_EXE "' --program-dir '" +
                                   m_dir.dir() + "' -t 6 --hand-switch tap -n 2 --virtual-time 2>&1";
    FILE* pPipe = popen(strCommand.c_str(), "r");
    ASSERT_NE(pPipe, nullptr);
    char sz[512];
    while (std::fgets(sz, sizeof sz, pPipe) != nullptr) m_out << sz;
    const int nStatus = pclose(pPipe);
    if (Printed("unplug a real board")) GTEST_SKIP() << "a real board is plugged in";
    EXPECT_EQ(WEXITSTATUS(nStatus), kStationOk) << m_out.str();
    EXPECT_EQ(Count("saved: " + m_dir.dir() + "img/IMAGE.RAW"), 2u) << m_out.str();
    EXPECT_TRUE(Printed("exposure 2 of 2, trigger mode 6"));

    m_out.str("");
    pPipe = popen(("'" ORVI_STATION_EXE "' --hand-switch hold:soon 2>&1"), "r");
    ASSERT_NE(pPipe, nullptr);
    while (std::fgets(sz, sizeof sz, pPipe) != nullptr) m_out << sz;
    EXPECT_NE(WEXITSTATUS(pclose(pPipe)), kStationOk);
    EXPECT_TRUE(Printed("hold time \"soon\" is not a number of milliseconds")) << m_out.str();
}

}  // namespace
}  // namespace orvi::test
