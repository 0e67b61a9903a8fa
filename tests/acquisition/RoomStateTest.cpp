// The room panel's words for the state of an exposure, from the controller's
// timers and outputs.
#include "acquisition/BoardProtocol.h"
#include "acquisition/RoomState.h"

#include <gtest/gtest.h>

#include <functional>
#include <ostream>

namespace orvi {
namespace {

struct CWordsCase {
    const char* szName;
    std::function<void(CRoomFacts&)> fnFacts;  // changes from a connected, idle mode 0
    const char* szWords;
    RoomTone tone;
};

void PrintTo(const CWordsCase& c, std::ostream* os) { *os << c.szName; }

class RoomWords : public ::testing::TestWithParam<CWordsCase> {};

TEST_P(RoomWords, SayWhatTheOperatorWaitsFor) {
    CRoomFacts facts;
    facts.bConnected = true;
    facts.byOut1 = kOut1OnlyConnection;
    GetParam().fnFacts(facts);
    const CRoomState state = DescribeRoom(facts);
    EXPECT_EQ(state.strWords, GetParam().szWords);
    EXPECT_EQ(state.tone, GetParam().tone);
}

constexpr uint8_t kEnableLit = kOut1OnlyConnection & ~kOut1EnableLamp;
constexpr uint8_t kReadyLit = kOut1OnlyConnection & ~kOut1ReadyLamp;
constexpr uint8_t kExposeOn = kOutAllOff & ~(kOut2ReadyOutput | kOut2ExposeOutput);

INSTANTIATE_TEST_SUITE_P(
    Room, RoomWords,
    ::testing::Values(
        CWordsCase{"NotConnected", [](CRoomFacts& f) { f.bConnected = false; }, "Not connected", RoomTone::Idle},
        CWordsCase{"Idle", [](CRoomFacts&) {}, "Idle: press Acquisition", RoomTone::Idle},
        CWordsCase{"Armed", [](CRoomFacts& f) { f.bArmed = true; }, "Armed: countdown to come", RoomTone::Wait},
        CWordsCase{"Enabled", [](CRoomFacts& f) { f.byOut1 = kEnableLit; }, "Detector enabled", RoomTone::Wait},
        CWordsCase{"CountdownWinsOverTheBlinkingLamp",
                   [](CRoomFacts& f) {
                       f.bCountdown = true;
                       f.nCountdownTicks = 3;
                       f.byOut1 = kEnableLit;
                   },
                   "Countdown: 0.3 s", RoomTone::Wait},
        CWordsCase{"ReadyLamp", [](CRoomFacts& f) { f.byOut1 = kReadyLit; }, "READY for X-ray", RoomTone::Ready},
        CWordsCase{"GeneratorCounting", [](CRoomFacts& f) { f.nXrayDueMs = 400; }, "Waiting for the X-ray",
                   RoomTone::Wait},
        CWordsCase{"ImageBusy",
                   [](CRoomFacts& f) {
                       f.bImageBusy = true;
                       f.bCountdown = true;
                   },
                   "Image arrived: processing", RoomTone::Busy},
        CWordsCase{"HandSwitchIdle", [](CRoomFacts& f) { f.nTriggerMode = 6; },
                   "Idle: Acquisition, then the hand switch", RoomTone::Idle},
        CWordsCase{"HandSwitchPolled",
                   [](CRoomFacts& f) {
                       f.nTriggerMode = 6;
                       f.bPolling = true;
                       f.byOut1 = kReadyLit;  // the ready lamp follows the switch, the words follow the timers
                   },
                   "Waiting for the hand switch", RoomTone::Idle},
        CWordsCase{"FirstStageConfirming",
                   [](CRoomFacts& f) {
                       f.nTriggerMode = 6;
                       f.bPolling = true;
                       f.bConfirming = true;
                   },
                   "First stage: keep holding", RoomTone::Wait},
        CWordsCase{"ArmingBySwitch",
                   [](CRoomFacts& f) {
                       f.nTriggerMode = 6;
                       f.bWaitEnable = true;
                   },
                   "Arming the detector: keep holding", RoomTone::Wait},
        CWordsCase{"EnabledFirstStageOnly",
                   [](CRoomFacts& f) {
                       f.nTriggerMode = 6;
                       f.bExposing = true;
                   },
                   "Detector ready: press through", RoomTone::Ready},
        CWordsCase{"SecondStage",
                   [](CRoomFacts& f) {
                       f.nTriggerMode = 6;
                       f.bExposing = true;
                       f.byOut2 = kExposeOn;
                   },
                   "Second stage: EXPOSE", RoomTone::Xray},
        CWordsCase{"ReleasedAfterExposing",
                   [](CRoomFacts& f) {
                       f.nTriggerMode = 6;
                       f.bExposed = true;
                       f.nXrayDueMs = 9000;
                   },
                   "Switch released: waiting for the X-ray", RoomTone::Wait}),
    [](const ::testing::TestParamInfo<CWordsCase>& info) { return std::string(info.param.szName); });

TEST(RoomWords, GeneratorCountsDownInTenthsOfASecond) {
    EXPECT_EQ(DescribeGenerator(false, 500), "Generator: no detector");
    EXPECT_EQ(DescribeGenerator(true, -1), "Generator: idle");
    EXPECT_EQ(DescribeGenerator(true, 11999), "Generator: X-ray in 11.9 s");
    EXPECT_EQ(DescribeGenerator(true, 0), "Generator: X-ray in 0.0 s");
}

}  // namespace
}  // namespace orvi
