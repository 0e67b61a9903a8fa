// The X-ray room dock on the station's window, in virtual time, on the
// simulated boards of libPelkio.so as the program loads them: the lamps along
// the mode 0 countdown, the hand switch by keyboard and mouse through a whole
// mode 6 exposure, the X-ray button, and a real board's written bytes.
#include "StationWindowFixture.h"
#include "acquisition/BoardSimControls.h"
#include "ui/ChildView.h"
#include "ui/RoomPanel.h"

#include <QLabel>
#include <QLineEdit>
#include <QTest>

namespace orvi::test {
namespace {

class RoomPanelTest : public StationWindow {
protected:
    void SetUp() override {
        StationWindow::SetUp();
        SetConfig("CALIBRATION", "0");  // no calibration files here
        m_bBoardLibrary = true;
    }
    void TearDown() override {
        StationWindow::TearDown();
        CBoardSimControls::Lookup().SetBoards(0);
    }
    // Create and Connect on the simulated board; false (and skipped) where a
    // real board is plugged in, which the library rightly prefers.
    bool StartRoom(int32_t nBoards = 1) {
        SetSim("BOARDS", std::to_string(nBoards));
        CreateAndConnect();
        if (!m_sim.InUse()) return false;
        Room()->Refresh();
        return true;
    }
    CRoomPanel* Room() { return Window().RoomPanel(); }
    CBoardView* Board0() { return Room()->Board(0); }
    std::string State() { return Room()->StateLabel()->text().toStdString(); }

    // Runs to t0 + nMs and lets the panel refresh.
    void At(uint64_t nMs) {
        m_clock.advance_to(m_nT0 + nMs);
        Room()->Refresh();
    }
    void Acquire() {
        m_nT0 = m_clock.now();
        Click(CToolDlgBar::IDC_ACQUISITION);
    }
    // The lamps of board 0 as "ERC" (lit) / "..." letters, checked against the
    // bytes the simulated board holds.
    std::string Lamps() {
        uint8_t by1 = 0, by2 = 0;
        EXPECT_TRUE(m_sim.Outputs(0, by1, by2));
        EXPECT_EQ(Board0()->EnableLamp()->IsLit(), (by1 & kOut1EnableLamp) == 0);
        EXPECT_EQ(Board0()->ReadyLamp()->IsLit(), (by1 & kOut1ReadyLamp) == 0);
        EXPECT_EQ(Board0()->ConnectionLamp()->IsLit(), (by1 & kOut1ConnectionLamp) == 0);
        std::string s;
        s += Board0()->EnableLamp()->IsLit() ? 'E' : '.';
        s += Board0()->ReadyLamp()->IsLit() ? 'R' : '.';
        s += Board0()->ConnectionLamp()->IsLit() ? 'C' : '.';
        return s;
    }
    HandStage Switch() { return static_cast<HandStage>(m_sim.HandSwitch(0)); }

    CBoardSimControls m_sim = CBoardSimControls::Lookup();
    uint64_t m_nT0 = 0;
};

TEST_F(RoomPanelTest, LampsFollowTheModeZeroCountdown) {
    SetConfig("EXT_TRIGGER", "0");
    if (!StartRoom()) GTEST_SKIP() << "a real board is plugged in";
    EXPECT_TRUE(Room()->isVisibleTo(&Window()));
    EXPECT_EQ(Lamps(), "..C");
    EXPECT_EQ(State(), "Idle: press Acquisition");

    Acquire();
    At(600);  // the detector reported enabled at 500 ms
    EXPECT_EQ(Lamps(), "E.C");
    EXPECT_EQ(State(), "Detector enabled");
    EXPECT_EQ(Room()->GeneratorLabel()->text().toStdString(), "Generator: X-ray in 11.9 s");
    EXPECT_EQ(Board0()->BytesLabel()->text().toStdString(), "written 00 FF EB 00");

    // The countdown from 11 s: the enable lamp blinks at every 100 ms tick.
    std::string strBlink;
    for (uint64_t t = 11050; t < 12000; t += 100) {
        At(t);
        strBlink += Lamps()[0];
        if (t == 11350) {
            EXPECT_EQ(State(), "Countdown: 0.7 s");
        }
    }
    EXPECT_EQ(strBlink, "E.E.E.E.E.");
    // At 12 s the exposure-delay timer lights the ready lamp and the
    // countdown's end, due at the same moment and run after it, puts it out.
    At(12050);
    EXPECT_EQ(Lamps(), "..C");
    EXPECT_EQ(State(), "Waiting for the X-ray");
    At(12600);  // X-ray at 12.5 s: exposure disabled lights the ready lamp
    EXPECT_EQ(Lamps(), ".RC");
    EXPECT_EQ(State(), "READY for X-ray");

    At(16000);  // the X-ray came at 12.5 s; the image and its dark are in
    EXPECT_EQ(Lamps(), "..C");
    EXPECT_EQ(Board0()->OutputsLabel()->text().toStdString(), "Outputs: ready off, expose off");
    EXPECT_EQ(State(), "Idle: press Acquisition");
}

TEST_F(RoomPanelTest, KeyboardAndMouseWorkTheHandSwitchThroughAModeSixExposure) {
    SetConfig("EXT_TRIGGER", "6");
    if (!StartRoom()) GTEST_SKIP() << "a real board is plugged in";
    CChildView* pView = Window().View();
    pView->setFocus();
    Acquire();

    QTest::keyPress(pView, Qt::Key_Space);
    EXPECT_EQ(Switch(), HandStage::Ready);
    At(100);
    EXPECT_EQ(State(), "First stage: keep holding");
    EXPECT_TRUE(Board0()->HandSwitch()->ReadyButton()->isDown());
    At(1100);  // armed at 525 ms, enabled at 1025 ms
    EXPECT_EQ(State(), "Detector ready: press through");
    EXPECT_EQ(Lamps(), ".RC");

    QTest::keyPress(pView, Qt::Key_Shift, Qt::ShiftModifier);
    EXPECT_EQ(Switch(), HandStage::Expose);
    At(1200);
    EXPECT_EQ(State(), "Second stage: EXPOSE");
    EXPECT_EQ(Lamps(), "ERC");
    EXPECT_EQ(Board0()->OutputsLabel()->text().toStdString(), "Outputs: ready ON, expose ON");
    EXPECT_TRUE(Board0()->HandSwitch()->ExposeButton()->isDown());

    QTest::keyRelease(pView, Qt::Key_Space, Qt::ShiftModifier);
    QTest::keyRelease(pView, Qt::Key_Shift);
    EXPECT_EQ(Switch(), HandStage::Released);
    At(1300);
    EXPECT_EQ(State(), "Switch released: waiting for the X-ray");
    At(16000);
    EXPECT_EQ(Lamps(), "..C");
    EXPECT_TRUE(std::filesystem::exists(m_strImageDir + "IMAGE.RAW"));

    // The mouse holds a stage while its button is down.
    QTest::mousePress(Board0()->HandSwitch()->ExposeButton(), Qt::LeftButton);
    EXPECT_EQ(Switch(), HandStage::Expose);
    QTest::mouseRelease(Board0()->HandSwitch()->ExposeButton(), Qt::LeftButton);
    EXPECT_EQ(Switch(), HandStage::Released);

    // Typing a blank into a text field is not the hand switch.
    auto* pEdit = Window().findChild<QLineEdit*>();
    ASSERT_NE(pEdit, nullptr);
    pEdit->setFocus();
    QTest::keyPress(pEdit, Qt::Key_Space);
    EXPECT_EQ(Switch(), HandStage::Released);
}

TEST_F(RoomPanelTest, XrayButtonFiresTheGeneratorNow) {
    SetSim("AUTO_FIRE_MS", "0");  // never by itself
    if (!StartRoom()) GTEST_SKIP() << "a real board is plugged in";
    Room()->XrayButton()->click();
    EXPECT_EQ(Room()->XrayResultLabel()->text().toStdString(), "X-ray lost: the detector was not armed.");
    Acquire();
    At(1000);
    EXPECT_EQ(Room()->GeneratorLabel()->text().toStdString(), "Generator: idle");
    Room()->XrayButton()->click();
    EXPECT_EQ(Room()->XrayResultLabel()->text().toStdString(), "X-ray fired.");
    At(1010);
    EXPECT_EQ(Lamps(), ".RC");  // exposure disabled at once: the ready lamp
    At(5000);
    EXPECT_TRUE(std::filesystem::exists(m_strImageDir + "IMAGE.RAW"));
}

// A real board (here the recorder answering as one): the dock shows the bytes
// written to it and offers no hand switch.
TEST_F(RoomPanelTest, ARealBoardShowsTheBytesWrittenToIt) {
    m_bBoardLibrary = false;
    m_rec.nBoards = 2;
    CreateAndConnect();
    Room()->Refresh();
    for (int b = 0; b < 2; ++b) {
        CBoardView* pBoard = Room()->Board(b);
        EXPECT_TRUE(pBoard->isVisibleTo(Room()));
        EXPECT_FALSE(pBoard->HandSwitch()->isVisibleTo(pBoard));
        EXPECT_EQ(pBoard->BytesLabel()->text().toStdString(), "written 00 FF EF 00");
        EXPECT_TRUE(pBoard->ConnectionLamp()->IsLit());
        EXPECT_FALSE(pBoard->ReadyLamp()->IsLit());
    }
}

}  // namespace
}  // namespace orvi::test
