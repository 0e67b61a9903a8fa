// The simulated room end to end in virtual time: trigger mode 6 through the
// simulated boards of libPelkio.so as the program loads them ([SIMULATOR]
// BOARDS, no backend injected), the hand switch pressed by CHandSwitchDriver as
// orvi-station does, and the X-ray from the simulated generator.
#include "acquisition/BoardSimControls.h"
#include "acquisition/FrameFixture.h"
#include "acquisition/HandSwitchDriver.h"
#include "usbio/PelkioSim.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>

namespace orvi::test {
namespace {

// Every write that reached a board, with its time.
struct CWrite {
    uint64_t nMs;
    int32_t nBoard;
    uint8_t byOut1;
    uint8_t byOut2;
};

class WriteLog final : public ILampObserver {
public:
    explicit WriteLog(const CVirtualClock& clock) : m_clock(clock) {}
    void OnOutputs(uint8_t, uint8_t, int32_t) override {}
    void OnBoardWrite(int32_t nBoard, uint8_t byOut1, uint8_t byOut2, bool bWritten) override {
        if (bWritten) writes.push_back({m_clock.now(), nBoard, byOut1, byOut2});
    }
    std::vector<CWrite> writes;

private:
    const CVirtualClock& m_clock;
};

struct CRoomCase {
    const char* szName;
    int32_t nBoards;      // BOARDS
    int32_t nPressBoard;  // whose switch is pressed
    const char* szPlan;   // as --hand-switch
    int32_t nEnableMs;    // ENABLE_MS of the simulated detector
    bool bImage;          // an image is saved within 20 s
    std::vector<std::string> logged;
    std::vector<std::string> notLogged;
};

void PrintTo(const CRoomCase& c, std::ostream* os) { *os << c.szName; }

class RoomFixture : public FrameFixture {
protected:
    void TearDown() override {
        m_pDriver.reset();
        if (m_pFrame) m_pFrame->Board().RemoveObserver(&m_writes);
        FrameFixture::TearDown();
        CBoardSimControls::Lookup().SetBoards(0);
    }

    // The program's own start on the simulated boards; skipped where a real
    // board is plugged in, which the library rightly prefers.
    void StartRoom(int32_t nBoards, const std::string& strPlan, int32_t nPressBoard) {
        SetConfig("EXT_TRIGGER", "6");
        SetSim("BOARDS", std::to_string(nBoards));
        ASSERT_NO_FATAL_FAILURE(CreateWith(PelkioExports()));
        ASSERT_NO_FATAL_FAILURE(Connect());
        m_sim = CBoardSimControls::Lookup();
        if (!m_sim.InUse()) GTEST_SKIP() << "a real board is plugged in";
        ASSERT_EQ(Frame().BoardCount(), nBoards);
        m_pFrame->Board().AddObserver(&m_writes);
        CHandSwitchPlan plan;
        std::string strError;
        ASSERT_TRUE(ParseHandSwitchPlan(strPlan, plan, strError)) << strError;
        plan.nBoard = nPressBoard;
        m_pDriver = std::make_unique<CHandSwitchDriver>(Frame().Board(), m_clock, m_sim, plan);
        m_clock.advance_to(1000);
    }

    bool ImageSaved() const {
        const auto files = ImageFiles();
        return std::find(files.begin(), files.end(), "IMAGE.RAW") != files.end();
    }

    CBoardSimControls m_sim;
    WriteLog m_writes{m_clock};
    std::unique_ptr<CHandSwitchDriver> m_pDriver;
};

class RoomTest : public RoomFixture, public ::testing::WithParamInterface<CRoomCase> {};

TEST_P(RoomTest, ModeSixThroughTheSimulatedBoard) {
    const CRoomCase& c = GetParam();
    SetSim("ENABLE_MS", std::to_string(c.nEnableMs));
    ASSERT_NO_FATAL_FAILURE(StartRoom(c.nBoards, c.szPlan, c.nPressBoard));
    if (IsSkipped()) return;
    Acquire();
    ASSERT_TRUE(m_pDriver->Press());
    RunTo(m_nT0 + 20000);

    EXPECT_EQ(ImageSaved(), c.bImage);
    for (const std::string& s : c.logged) EXPECT_TRUE(Logged(s)) << s;
    for (const std::string& s : c.notLogged) EXPECT_FALSE(Logged(s)) << s;
    EXPECT_FALSE(m_pDriver->Pressed());
    EXPECT_EQ(m_sim.HandSwitch(c.nPressBoard), static_cast<int32_t>(HandStage::Released));

    // Every simulated board kept what the station wrote to it last.
    for (int32_t b = 0; b < c.nBoards; ++b) {
        uint8_t by1 = 0, by2 = 0;
        ASSERT_TRUE(m_sim.Outputs(b, by1, by2));
        auto last = std::find_if(m_writes.writes.rbegin(), m_writes.writes.rend(),
                                 [b](const CWrite& w) { return w.nBoard == b; });
        ASSERT_NE(last, m_writes.writes.rend());
        EXPECT_EQ(by1, last->byOut1);
        EXPECT_EQ(by2, last->byOut2);
        if (c.bImage) {
            EXPECT_EQ(by1, kOut1OnlyConnection) << "board " << b;
            EXPECT_EQ(by2, kOutAllOff) << "board " << b;
        }
    }
    // The pressed switch lit the ready lamp and switched the ready output on, on every board.
    for (int32_t b = 0; b < c.nBoards; ++b)
        EXPECT_TRUE(std::any_of(m_writes.writes.begin(), m_writes.writes.end(),
                                [b](const CWrite& w) {
                                    return w.nBoard == b && (w.byOut1 & kOut1ReadyLamp) == 0 &&
                                           (w.byOut2 & kOut2ReadyOutput) == 0;
                                }))
            << "board " << b;
}

const char* const kPressed = "TIMER_MANUAL_READ::Pressed ready ";
const char* const kArmed = "TIMER_MANUAL_READ_2::Prepare ";
const char* const kReleasedEarly = "TIMER_MANUAL_READ_2::release ready ";
const char* const kExposing = "Start TIMER_MANUAL_EXP ,Atfer AecInfoCallback";

INSTANTIATE_TEST_SUITE_P(
    Room, RoomTest,
    ::testing::Values(CRoomCase{"Tap", 1, 0, "tap", 500, true, {kPressed, kArmed, kExposing}, {kReleasedEarly}},
                      CRoomCase{"Hold", 1, 0, "hold:2000", 500, true, {kPressed, kArmed, kExposing}, {kReleasedEarly}},
                      CRoomCase{"ReleasedEarly", 1, 0, "hold:300", 500, false, {kPressed, kReleasedEarly}, {kArmed}},
                      CRoomCase{
                          "TapOnTheSecondOfTwoBoards", 2, 1, "tap", 500, true, {kPressed, kArmed, kExposing}, {}}),
    [](const ::testing::TestParamInfo<CRoomCase>& info) { return std::string(info.param.szName); });

// Held, but the detector takes 5 s to report enabled: 3 s after the arming
// board 0 is switched off, board 1 keeps its lamps; held on, the exposure still
// comes once the detector is enabled.
TEST_F(RoomFixture, HeldWithoutEnableSwitchesBoardZeroOff) {
    SetSim("ENABLE_MS", "5000");
    ASSERT_NO_FATAL_FAILURE(StartRoom(2, "hold:8000", 0));
    if (IsSkipped()) return;
    Acquire();
    ASSERT_TRUE(m_pDriver->Press());
    RunTo(m_nT0 + 2000);
    ASSERT_TRUE(Logged(kArmed));
    const uint64_t nArmed = Since(kArmed).at(0);
    uint8_t by1 = 0, by2 = 0;
    m_sim.Outputs(0, by1, by2);
    EXPECT_EQ(by1 & kOut1ReadyLamp, 0) << "ready lamp lit while held";

    RunTo(m_nT0 + nArmed + kReadyTimeoutMs + 10);
    m_sim.Outputs(0, by1, by2);
    EXPECT_EQ(by1, kOutAllOff);
    EXPECT_EQ(by2, kOutAllOff);
    m_sim.Outputs(1, by1, by2);
    EXPECT_EQ(by1 & kOut1ReadyLamp, 0) << "board 1 is not written by the time-out";

    RunTo(m_nT0 + 20000);
    EXPECT_TRUE(Logged(kExposing));
    EXPECT_TRUE(ImageSaved());
}

TEST(HandSwitchPlan, ParsesTapHoldAndNoneAndRefusesTheRest) {
    CHandSwitchPlan plan;
    std::string strError;
    ASSERT_TRUE(ParseHandSwitchPlan("hold:1500", plan, strError));
    EXPECT_EQ(plan.kind, CHandSwitchPlan::Kind::Hold);
    EXPECT_EQ(plan.nHoldMs, 1500u);
    ASSERT_TRUE(ParseHandSwitchPlan("tap", plan, strError));
    EXPECT_EQ(plan.kind, CHandSwitchPlan::Kind::Tap);
    ASSERT_TRUE(ParseHandSwitchPlan("none", plan, strError));
    EXPECT_EQ(plan.kind, CHandSwitchPlan::Kind::None);
    for (const char* sz :
         {"", "hold", "hold:", "hold:-5", "hold:12x", "hold:3600001", "hold:99999999999999999999", "TAP", "press"}) {
        EXPECT_FALSE(ParseHandSwitchPlan(sz, plan, strError)) << sz;
        EXPECT_FALSE(strError.empty()) << sz;
    }
}

}  // namespace
}  // namespace orvi::test
