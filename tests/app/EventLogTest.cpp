#include "app/EventLog.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace orvi {
namespace {

using test::ReadFile;
using test::TempDir;

std::tm Tm(int nYear, int nMonth, int nDay, int nHour, int nMin, int nSec) {
    std::tm t{};
    t.tm_year = nYear - 1900;
    t.tm_mon = nMonth - 1;
    t.tm_mday = nDay;
    t.tm_hour = nHour;
    t.tm_min = nMin;
    t.tm_sec = nSec;
    return t;
}

TEST(EventLogFormat, DateTimeAndElapsedColumn) {
    const std::tm t = Tm(2026, 12, 6, 21, 41, 24);
    EXPECT_EQ(FormatLogLine(t, 3, "start ORVI"), "12-06-2026 21:41:24 [    3 ms] start ORVI\n");
    EXPECT_EQ(FormatLogLine(t, 99999, "x"), "12-06-2026 21:41:24 [99999 ms] x\n");
    EXPECT_EQ(FormatLogLine(t, 123456, "x"), "12-06-2026 21:41:24 [123456 ms] x\n");
    // The 32-bit difference prints as a signed number.
    EXPECT_EQ(FormatLogLine(Tm(2027, 1, 2, 3, 4, 5), 0xFFFFFFFFu, "y"), "01-02-2027 03:04:05 [   -1 ms] y\n");
}

TEST(EventLogFormat, LongMessageIsCutNeverOverrun) {
    std::string strLong(1000, 'a');
    std::string strLine = FormatLogLine(Tm(2026, 1, 1, 0, 0, 0), 0, strLong);
    EXPECT_EQ(strLine.size(), std::string("01-01-2026 00:00:00 [    0 ms] ").size() + kLogMessageBytes + 1);
    // A multi-byte character at the cut is dropped whole.
    std::string strWide = std::string(kLogMessageBytes - 1, 'b') + "\xC3\xA9";
    std::string strCut = FormatLogLine(Tm(2026, 1, 1, 0, 0, 0), 0, strWide);
    EXPECT_EQ(strCut.substr(strCut.size() - 3), "bb\n");
}

class EventLogFile : public ::testing::Test {
protected:
    void SetUp() override {
        SetLogPath(m_dir.file(kLogFileName));
        SetLogClock([this] { return m_nNow; });
    }
    void TearDown() override {
        SetLogClock(nullptr);
        SetLogPath(kLogFileName);
        g_bWriteLog = 0;
    }
    TempDir m_dir;
    uint32_t m_nNow = 1000;
};

TEST_F(EventLogFile, StartDeletesTheOldLogAndWritesStartLine) {
    test::WriteFile(LogPath(), "old run\n");
    DeleteLogFile();
    g_bWriteLog = 1;
    StartLog();
    m_nNow += 1234;
    WriteLog("Click connect");
    std::string strLog = ReadFile(LogPath());
    ASSERT_EQ(strLog.find("old run"), std::string::npos);
    auto nFirstEnd = strLog.find('\n');
    EXPECT_EQ(strLog.substr(20, nFirstEnd - 20), "[    0 ms] start ORVI");
    EXPECT_EQ(strLog.substr(nFirstEnd + 21), "[ 1234 ms] Click connect\n");
}

TEST_F(EventLogFile, LoggingOffWritesNothing) {
    DeleteLogFile();
    g_bWriteLog = 0;
    StartLog();
    WriteLog("nothing");
    EXPECT_FALSE(std::filesystem::exists(LogPath()));
}

TEST_F(EventLogFile, UnopenableLogDropsTheLine) {
    SetLogPath(m_dir.file("missing-folder/ORVI_LOG.txt"));
    g_bWriteLog = 1;
    WriteLog("dropped");  // must not crash or throw
    EXPECT_FALSE(std::filesystem::exists(LogPath()));
}

}  // namespace
}  // namespace orvi
