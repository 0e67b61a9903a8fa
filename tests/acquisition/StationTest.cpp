// orvi-station's run on the simulated detector in virtual time: the lines it
// prints and its exit codes.
#include "app/EventLog.h"
#include "app/Profile.h"
#include "station/StationRun.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <sstream>

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

TEST_F(Station, StopsAtTheFirstMessageBox) {
    WriteProfileText(m_dir.file("ORVI2.ini"), "SIMULATOR", "INIT_FAILURE_1", "-2");
    m_plan.nExposures = 1;
    EXPECT_EQ(Run(), kStationFailed);
    EXPECT_TRUE(Printed("message (ORVI Manager): A: Gigabit Network connection failed!"));
    EXPECT_FALSE(Printed("exposure 1"));
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
                          Case{"armed, no X-ray", 1, "(last: Exposure disable [R]"}}) {
        WriteProfileText(m_dir.file("ORVI2.ini"), "SIMULATOR", "AUTO_FIRE_MS", "0");
        m_plan.nExposures = 1;
        m_plan.nTriggerMode = c.nTriggerMode;
        m_plan.nStepTimeoutS = 60;
        std::ostringstream out;
        EXPECT_EQ(RunStation(m_plan, out), kStationFailed) << c.szName;
        const std::string strOut = out.str();
        EXPECT_NE(strOut.find(std::string("exposure 1 stopped: nothing left to wait for ") + c.szLast),
                  std::string::npos)
            << c.szName << "\n" << strOut;
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

}  // namespace
}  // namespace orvi::test
