#include "UiTestSupport.h"
#include "app/EventLog.h"
#include "support/PelkioRecorder.h"
#include "support/TestSupport.h"
#include "ui/Station.h"

#include <gtest/gtest.h>

namespace orvi {
namespace {

using test::TempDir;
using test::WriteFile;

class StationStartup : public ::testing::Test {
protected:
    void SetUp() override { SetLogPath(m_dir.file(kLogFileName)); }
    void TearDown() override { SetLogPath(kLogFileName); }
    TempDir m_dir;
    TempDir m_lockDir;
    // The board is recorded: no test reaches a real board.
    test::PelkioRecorder m_rec;
};

TEST_F(StationStartup, MissingIniEndsWithCodeZeroBeforeTheWindowShows) {
    test::MessageBoxCloser closer;
    CStation station{m_rec.Api()};
    EXPECT_EQ(station.Start(m_dir.dir(), m_lockDir.path().string()), 0);
    EXPECT_EQ(closer.texts, std::vector<std::string>{"ORVI2.ini don`t exist."});
    EXPECT_EQ(closer.captions, std::vector<std::string>{"ORVI Manager"});
    ASSERT_NE(station.Window(), nullptr);
    EXPECT_FALSE(station.Window()->isVisible());
}

TEST_F(StationStartup, ImpossibleSizeEndsWithAMessageNamingTheKey) {
    WriteFile(m_dir.file("ORVI2.ini"), "[CONFIG]\nIMAGE_HEIGHT=4096\n");
    test::MessageBoxCloser closer;
    CStation station{m_rec.Api()};
    EXPECT_EQ(station.Start(m_dir.dir(), m_lockDir.path().string()), 1);
    EXPECT_EQ(closer.texts,
              std::vector<std::string>{"IMAGE_HEIGHT is 4096 in ORVI2.ini; it must be between 1 and 3072."});
    EXPECT_FALSE(station.Window()->isVisible());
}

TEST_F(StationStartup, GoodConfigurationShowsTheTitledWindowAndRefusesASecondCopy) {
    WriteFile(m_dir.file("ORVI2.ini"),
              "[CONFIG]\nIMAGE_PATH=" + m_dir.file("img") + "\nCAL_PATH=" + m_dir.file("cal") + "\n");
    test::MessageBoxCloser closer;
    CStation first{m_rec.Api()};
    ASSERT_EQ(first.Start(m_dir.dir(), m_lockDir.path().string()), std::nullopt);
    EXPECT_TRUE(first.Window()->isVisible());
    EXPECT_EQ(first.Window()->windowTitle().toStdString(), "ORVI Manager2 ver 8.0.2.3");
    EXPECT_TRUE(first.Window()->windowState() & Qt::WindowMaximized);
    EXPECT_EQ(first.App().m_imageStore.m_nWidth, 3072);
    EXPECT_EQ(m_rec.calls.front(), "InitBoard") << "the board of the test, not the machine's";

    CStation second{m_rec.Api()};
    EXPECT_EQ(second.Start(m_dir.dir(), m_lockDir.path().string()), 0);
    EXPECT_EQ(closer.texts, std::vector<std::string>{"Application is already running."});
    EXPECT_EQ(second.Window(), nullptr);
}

}  // namespace
}  // namespace orvi
