// The program's board protocol: the library calls of each operation, the
// pressed-tests, and the reports that reach the boards through the real
// libPelkio.so over the fake bus.
#include "acquisition/BoardProtocol.h"
#include "support/PelkioRecorder.h"
#include "usbio/HidBackend.h"
#include "usbio/sim/SimHidBus.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace orvi {
namespace {

using Calls = std::vector<std::string>;
using pelkio::sim::CSimHidBus;
using pelkio::sim::HandSwitch;

// --- The calls of each operation ----------------------------------------------

enum class Op { Startup, WriteOutputs, ReadInputs, ReadyTimeout, Shutdown };

struct CCallCase {
    const char* szName;
    Op op;
    int32_t nBoards;  // InitBoard's answer, or m_nBoardCount for operations without it
    Calls calls;
    uint8_t byOut1After;
    uint8_t byOut2After;
};

void PrintTo(const CCallCase& c, std::ostream* os) { *os << c.szName; }

class BoardCallsTest : public ::testing::TestWithParam<CCallCase> {};

// The bytes before each operation: enable and connection lamps lit, ready and
// expose outputs on.
constexpr uint8_t kOut1Before = 0xEB;
constexpr uint8_t kOut2Before = 0xCF;

TEST_P(BoardCallsTest, MakesExactlyTheseCalls) {
    const CCallCase& c = GetParam();
    test::PelkioRecorder rec;
    rec.nBoards = c.nBoards;
    CBoardProtocol board(rec.Api());
    board.m_nBoardCount = c.nBoards;
    g_byOut1 = kOut1Before;
    g_byOut2 = kOut2Before;

    switch (c.op) {
    case Op::Startup: board.StartupConfiguration(); break;
    case Op::WriteOutputs: board.WriteOutputs(); break;
    case Op::ReadInputs: board.ReadInputs(); break;
    case Op::ReadyTimeout: board.ReadyTimeout(); break;
    case Op::Shutdown: board.Shutdown(); break;
    }
    EXPECT_EQ(rec.calls, c.calls);
    EXPECT_EQ(board.m_nBoardCount, c.nBoards);
    EXPECT_EQ(g_byOut1, c.byOut1After);
    EXPECT_EQ(g_byOut2, c.byOut2After);
}

const char* const kConfigure0 = "PortConfigureEx(0, 0000, FFFF, FFFF, 00, 00)";
const char* const kConfigure1 = "PortConfigureEx(1, 0000, FFFF, FFFF, 00, 00)";
const char* const kOff0 = "PortWriteEx(0, 00, FF, FF, 00)";
const char* const kOff1 = "PortWriteEx(1, 00, FF, FF, 00)";
const char* const kBefore0 = "PortWriteEx(0, 00, CF, EB, 00)";
const char* const kBefore1 = "PortWriteEx(1, 00, CF, EB, 00)";

INSTANTIATE_TEST_SUITE_P(
    BoardProtocol, BoardCallsTest,
    ::testing::Values(
        CCallCase{"StartupNoBoard", Op::Startup, 0, {"InitBoard"}, 0xFF, 0xFF},
        CCallCase{"StartupOneBoard", Op::Startup, 1, {"InitBoard", kOff0, kConfigure0}, 0xFF, 0xFF},
        CCallCase{
            "StartupTwoBoards", Op::Startup, 2, {"InitBoard", kOff0, kConfigure0, kOff1, kConfigure1}, 0xFF, 0xFF},
        // Only exactly two boards get the second configuration.
        CCallCase{"StartupThreeBoards", Op::Startup, 3, {"InitBoard", kOff0, kConfigure0}, 0xFF, 0xFF},
        CCallCase{"WriteOutputsNoBoard", Op::WriteOutputs, 0, {"InitBoard"}, kOut1Before, kOut2Before},
        // Board 1 is written even when only one board was found.
        CCallCase{
            "WriteOutputsOneBoard", Op::WriteOutputs, 1, {"InitBoard", kBefore0, kBefore1}, kOut1Before, kOut2Before},
        CCallCase{"WriteOutputsThreeBoards",
                  Op::WriteOutputs,
                  3,
                  {"InitBoard", kBefore0, kBefore1},
                  kOut1Before,
                  kOut2Before},
        CCallCase{"ReadInputsOneBoard", Op::ReadInputs, 1, {"PortReadEx(0)"}, kOut1Before, kOut2Before},
        CCallCase{"ReadInputsNoBoard", Op::ReadInputs, 0, {"PortReadEx(0)", "PortReadEx(1)"}, kOut1Before, kOut2Before},
        CCallCase{
            "ReadInputsThreeBoards", Op::ReadInputs, 3, {"PortReadEx(0)", "PortReadEx(1)"}, kOut1Before, kOut2Before},
        CCallCase{"ReadyTimeoutBoardZeroOnly", Op::ReadyTimeout, 2, {kOff0}, 0xFF, 0xFF},
        CCallCase{"ShutdownNoBoard", Op::Shutdown, 0, {}, kOut1Before, kOut2Before},
        // Everything off on both boards; the bytes in memory stay.
        CCallCase{"ShutdownTwoBoards", Op::Shutdown, 2, {kOff0, kOff1}, kOut1Before, kOut2Before}),
    [](const ::testing::TestParamInfo<CCallCase>& info) { return std::string(info.param.szName); });

// --- Pressed-tests --------------------------------------------------------------

struct CPressCase {
    const char* szName;
    int32_t nBoards;
    test::PelkioRecorder::Read board0;
    test::PelkioRecorder::Read board1;
    bool bReady;
    bool bExpose;
};

void PrintTo(const CPressCase& c, std::ostream* os) { *os << c.szName; }

class PressedTest : public ::testing::TestWithParam<CPressCase> {};

TEST_P(PressedTest, ReadsTheHandSwitch) {
    const CPressCase& c = GetParam();
    test::PelkioRecorder rec;
    rec.reads[0] = c.board0;
    rec.reads[1] = c.board1;
    CBoardProtocol board(rec.Api());
    board.m_nBoardCount = c.nBoards;
    CHandSwitchState s = board.ReadInputs();
    EXPECT_EQ(s.bReady, c.bReady);
    EXPECT_EQ(s.bExpose, c.bExpose);
}

constexpr test::PelkioRecorder::Read kReleased{1, 0xFF};
constexpr test::PelkioRecorder::Read kReady{1, 0xFE};
constexpr test::PelkioRecorder::Read kExpose{1, 0xFC};
constexpr test::PelkioRecorder::Read kExposeBitOnly{1, 0xFD};
// No report: the library returns 0 and zeros, which would read as pressed.
constexpr test::PelkioRecorder::Read kNoReport{0, 0x00};

INSTANTIATE_TEST_SUITE_P(
    BoardProtocol, PressedTest,
    ::testing::Values(CPressCase{"OneBoardReleased", 1, kReleased, kReleased, false, false},
                      CPressCase{"OneBoardReady", 1, kReady, kReleased, true, false},
                      CPressCase{"OneBoardExpose", 1, kExpose, kReleased, true, true},
                      CPressCase{"StagesAreSeparateBits", 1, kExposeBitOnly, kReleased, false, true},
                      // With one board the second is not read, whatever it would say.
                      CPressCase{"OneBoardSecondNotRead", 1, kReleased, kExpose, false, false},
                      CPressCase{"TwoBoardsSecondPressed", 2, kReleased, kReady, true, false},
                      CPressCase{"TwoBoardsFirstExposes", 2, kExpose, kReleased, true, true},
                      CPressCase{"FailedReadIsReleased", 1, kNoReport, kReleased, false, false},
                      CPressCase{"FailedSecondReadIsReleased", 2, kReleased, kNoReport, false, false},
                      CPressCase{"FailedFirstReadSecondPressed", 2, kNoReport, kReady, true, false},
                      CPressCase{"NoBoardCountReadsBoth", 0, kNoReport, kReady, true, false}),
    [](const ::testing::TestParamInfo<CPressCase>& info) { return std::string(info.param.szName); });

// --- What a lamp observer sees --------------------------------------------------

class LampLog final : public ILampObserver {
public:
    void OnOutputs(uint8_t byOut1, uint8_t byOut2, int32_t nBoardCount) override {
        Add("outputs %02X %02X, %d board(s)", byOut1, byOut2, nBoardCount);
    }
    void OnBoardWrite(int32_t nBoard, uint8_t byOut1, uint8_t byOut2, bool bWritten) override {
        Add("board %d %02X %02X %s", nBoard, byOut1, byOut2, bWritten ? "written" : "failed");
    }
    Calls lines;

private:
    template <typename... Args>
    void Add(const char* szFormat, Args... args) {
        char sz[64];
        std::snprintf(sz, sizeof sz, szFormat, args...);
        lines.push_back(sz);
    }
};

TEST(LampObserver, SeesEveryOutputOperationBoardOrNoBoard) {
    test::PelkioRecorder rec;
    CBoardProtocol board(rec.Api());
    LampLog log;
    board.AddObserver(&log);
    board.AddObserver(&log);  // once only

    rec.nBoards = 0;
    board.StartupConfiguration();
    SetEnableLamp(true);
    board.WriteOutputs();
    board.ReadInputs();
    EXPECT_EQ(log.lines, (Calls{"outputs FF FF, 0 board(s)", "outputs FB FF, 0 board(s)"}));

    log.lines.clear();
    rec.nBoards = 1;
    board.WriteOutputs();
    board.ReadyTimeout();
    board.Shutdown();
    EXPECT_EQ(log.lines, (Calls{"outputs FB FF, 1 board(s)", "board 0 FB FF written", "board 1 FB FF failed",
                                "outputs FF FF, 1 board(s)", "board 0 FF FF written",  // ready time-out
                                "board 0 FF FF written", "board 1 FF FF failed"}));    // shut-down

    log.lines.clear();
    board.RemoveObserver(&log);
    board.WriteOutputs();
    EXPECT_TRUE(log.lines.empty());
}

// --- On the wire, through the real library ------------------------------------

class BoardWireTest : public ::testing::Test {
protected:
    void SetUp() override { PelkioSetBackend(&m_bus); }
    void TearDown() override { PelkioSetBackend(nullptr); }

    int Add(const std::string& strName) { return m_bus.AddBoard(strName); }

    static std::string WriteLine(const std::string& strBoard, uint8_t byOut2, uint8_t byOut1) {
        uint8_t report[9] = {0, 4, 0, byOut2, byOut1, 0, 0, 0, 0};
        return "write " + strBoard + " " + pelkio::sim::HexBytes(report, sizeof report);
    }

    CSimHidBus m_bus;
    CBoardProtocol m_board;  // the real exports
};

const char* const kConfigA1 = "write A 00 01 00 00 FF FF FF FF 00";
const char* const kConfigA2 = "write A 00 02 00 00 FF FF FF FF 00";
const char* const kConfigB1 = "write B 00 01 00 00 FF FF FF FF 00";
const char* const kConfigB2 = "write B 00 02 00 00 FF FF FF FF 00";

TEST_F(BoardWireTest, StartupConfiguresBoardZeroAndASecondOnlyWhenExactlyTwo) {
    Add("A");
    m_board.StartupConfiguration();
    EXPECT_EQ(m_bus.Wire(), (Calls{"enumerate", "open A", WriteLine("A", 0xFF, 0xFF), kConfigA1, kConfigA2}));

    Add("B");
    m_bus.ClearWire();
    m_board.StartupConfiguration();
    EXPECT_EQ(m_board.m_nBoardCount, 2);
    EXPECT_EQ(m_bus.Wire(), (Calls{"close A", "enumerate", "open A", "open B", WriteLine("A", 0xFF, 0xFF), kConfigA1,
                                   kConfigA2, WriteLine("B", 0xFF, 0xFF), kConfigB1, kConfigB2}));
}

// Each row of the change table: the bits it changes, then WriteOutputs sends
// both bytes to board 0 and board 1.
struct CChangeCase {
    const char* szName;
    uint8_t byOut1Before;
    uint8_t byOut2Before;
    std::function<void()> fnChange;
    uint8_t byOut1;
    uint8_t byOut2;
};

void PrintTo(const CChangeCase& c, std::ostream* os) { *os << c.szName; }

class ChangeRowTest : public BoardWireTest, public ::testing::WithParamInterface<CChangeCase> {};

TEST_P(ChangeRowTest, SendsTheNewBytesToBothBoards) {
    const CChangeCase& c = GetParam();
    Add("A");
    Add("B");
    m_board.StartupConfiguration();
    m_bus.ClearWire();
    g_byOut1 = c.byOut1Before;
    g_byOut2 = c.byOut2Before;

    c.fnChange();
    m_board.WriteOutputs();

    EXPECT_EQ(g_byOut1, c.byOut1);
    EXPECT_EQ(g_byOut2, c.byOut2);
    EXPECT_EQ(m_bus.Wire(), (Calls{"close A", "close B", "enumerate", "open A", "open B",
                                   WriteLine("A", c.byOut2, c.byOut1), WriteLine("B", c.byOut2, c.byOut1)}));
}

INSTANTIATE_TEST_SUITE_P(
    BoardProtocol, ChangeRowTest,
    ::testing::Values(
        CChangeCase{"ConnectSucceeded", 0xFF, 0xFF, [] { SetConnectionLamp(true); }, 0xEF, 0xFF},
        CChangeCase{"ExposureEnabled", 0xE7, 0xFF,
                    [] {
                        SetEnableLamp(true);
                        SetReadyLamp(false);
                    },
                    0xEB, 0xFF},
        CChangeCase{"ExposureDisabled", 0xEB, 0xFF,
                    [] {
                        SetReadyLamp(true);
                        SetEnableLamp(false);
                    },
                    0xE7, 0xFF},
        CChangeCase{"ExposureEnabledSwitchReleased", 0xE3, 0xCF, [] { ReleaseSwitchOutputs(); }, 0xEF, 0xFF},
        CChangeCase{"PollingReadyPressed", 0xEF, 0xFF,
                    [] {
                        SetReadyOutput(true);
                        SetReadyLamp(true);
                    },
                    0xE7, 0xEF},
        CChangeCase{"PollingReadyReleased", 0xE7, 0xEF,
                    [] {
                        SetReadyOutput(false);
                        SetReadyLamp(false);
                    },
                    0xEF, 0xFF},
        CChangeCase{"ExposurePollingExposePressed", 0xE7, 0xEF,
                    [] {
                        SetReadyOutput(true);
                        SetReadyLamp(true);
                        SetExposeOutput(true);
                        SetEnableLamp(true);
                    },
                    0xE3, 0xCF},
        CChangeCase{"SwitchReleasedDuringExposurePolling", 0xE3, 0xCF, [] { ReleaseSwitchOutputs(); }, 0xEF, 0xFF},
        CChangeCase{"CountdownTickLights", 0xEF, 0xFF, [] { SetEnableLamp(true); }, 0xEB, 0xFF},
        CChangeCase{"CountdownTickPutsOut", 0xEB, 0xFF, [] { SetEnableLamp(false); }, 0xEF, 0xFF},
        CChangeCase{"CountdownEndRepeatMode", 0xEB, 0xFF,
                    [] {
                        SetReadyLamp(true);
                        SetEnableLamp(false);
                    },
                    0xE7, 0xFF},
        CChangeCase{"CountdownEndOtherModes", 0xEB, 0xFF,
                    [] {
                        SetReadyLamp(false);
                        SetEnableLamp(false);
                    },
                    0xEF, 0xFF},
        CChangeCase{"ExposureDelayTimer", 0xEB, 0xFF,
                    [] {
                        SetReadyLamp(true);
                        SetEnableLamp(false);
                    },
                    0xE7, 0xFF},
        CChangeCase{"RepeatSeriesEnds", 0xE3, 0xFF, [] { g_byOut1 |= 0x0C; }, 0xEF, 0xFF},
        CChangeCase{"BlinkPutsConnectionOut", 0xE3, 0xFF,
                    [] {
                        SetConnectionLamp(false);
                        SetEnableLamp(false);
                        SetReadyLamp(false);
                    },
                    0xFF, 0xFF},
        CChangeCase{"BlinkLightsConnection", 0xFF, 0xFF, [] { SetConnectionLamp(true); }, 0xEF, 0xFF},
        CChangeCase{"FrameArrives", 0xE3, 0xCF,
                    [] {
                        g_byOut2 = kOutAllOff;
                        ReleaseSwitchOutputs();
                    },
                    0xEF, 0xFF},
        CChangeCase{"ProcessingFinished", 0xFF, 0xFF,
                    [] {
                        g_byOut2 = kOutAllOff;
                        g_byOut1 = kOut1OnlyConnection;
                    },
                    0xEF, 0xFF}),
    [](const ::testing::TestParamInfo<CChangeCase>& info) { return std::string(info.param.szName); });

TEST_F(BoardWireTest, AfterConnectAndAFinishedImageOnlyTheConnectionLampIsLit) {
    Add("A");
    m_board.StartupConfiguration();
    SetConnectionLamp(true);  // Connect
    m_board.WriteOutputs();
    SetEnableLamp(true);  // an exposure was enabled
    m_board.WriteOutputs();
    g_byOut2 = kOutAllOff;  // the frame arrives
    ReleaseSwitchOutputs();
    m_board.WriteOutputs();
    m_bus.ClearWire();
    g_byOut2 = kOutAllOff;  // processing finished
    g_byOut1 = kOut1OnlyConnection;
    m_board.WriteOutputs();

    EXPECT_EQ(g_byOut1, 0xEF);
    EXPECT_EQ(g_byOut2, 0xFF);
    EXPECT_EQ(m_bus.Wire(), (Calls{"close A", "enumerate", "open A", WriteLine("A", 0xFF, 0xEF)}));
}

TEST_F(BoardWireTest, ReadyTimeoutSwitchesBoardZeroOffWithoutEnumerating) {
    Add("A");
    Add("B");
    m_board.StartupConfiguration();
    g_byOut1 = 0xE7;
    g_byOut2 = 0xEF;
    m_board.WriteOutputs();
    m_bus.ClearWire();

    m_board.ReadyTimeout();
    EXPECT_EQ(g_byOut1, 0xFF);
    EXPECT_EQ(g_byOut2, 0xFF);
    EXPECT_EQ(m_bus.Wire(), (Calls{WriteLine("A", 0xFF, 0xFF)}));
}

TEST_F(BoardWireTest, ShutdownSwitchesBothBoardsOffAndKeepsTheBytes) {
    Add("A");
    Add("B");
    m_board.StartupConfiguration();
    g_byOut1 = kOut1OnlyConnection;
    m_board.WriteOutputs();
    m_bus.ClearWire();

    m_board.Shutdown();
    EXPECT_EQ(g_byOut1, kOut1OnlyConnection);
    EXPECT_EQ(m_bus.Wire(), (Calls{WriteLine("A", 0xFF, 0xFF), WriteLine("B", 0xFF, 0xFF)}));
}

TEST_F(BoardWireTest, WithOneBoardTheWriteToBoardOneFailsWithoutEffect) {
    int a = Add("A");
    // Spy on the real exports to see board 1's call and its result.
    Calls calls;
    std::vector<int32_t> results;
    CPelkioApi real = PelkioExports();
    CPelkioApi spy = real;
    spy.PortWriteEx = [&](int32_t b, int32_t d1, int32_t d2, int32_t d3, int32_t d4) {
        calls.push_back("PortWriteEx(" + std::to_string(b) + ")");
        results.push_back(real.PortWriteEx(b, d1, d2, d3, d4));
        return results.back();
    };
    CBoardProtocol board(spy);
    board.StartupConfiguration();
    m_bus.ClearWire();
    calls.clear();
    results.clear();

    SetConnectionLamp(true);
    board.WriteOutputs();
    EXPECT_EQ(calls, (Calls{"PortWriteEx(0)", "PortWriteEx(1)"}));
    EXPECT_EQ(results, (std::vector<int32_t>{1, 0}));
    EXPECT_EQ(m_bus.Wire(), (Calls{"close A", "enumerate", "open A", WriteLine("A", 0xFF, 0xEF)}));
    // Board 0 was closed only by the enumeration, and stays usable.
    EXPECT_EQ(m_bus.Closes(a), 1);
    EXPECT_EQ(m_bus.Opens(a), 2);
    board.ReadyTimeout();
    EXPECT_EQ(m_bus.Wire().back(), WriteLine("A", 0xFF, 0xFF));
}

TEST_F(BoardWireTest, AThirdBoardIsNeverAddressed) {
    Add("A");
    Add("B");
    int c = Add("C");
    m_bus.SetHandSwitch(c, HandSwitch::Expose);
    m_board.StartupConfiguration();
    EXPECT_EQ(m_board.m_nBoardCount, 3);
    SetConnectionLamp(true);
    m_board.WriteOutputs();
    CHandSwitchState s = m_board.ReadInputs();
    m_board.ReadyTimeout();
    m_board.Shutdown();

    EXPECT_FALSE(s.bReady);
    EXPECT_TRUE(m_bus.Written(c).empty());
    // Only board 0 was configured.
    std::vector<std::string> configs;
    for (const std::string& s2 : m_bus.Wire())
        if (s2.find(" 00 01 00 00 FF FF") != std::string::npos) configs.push_back(s2);
    EXPECT_EQ(configs, (Calls{kConfigA1}));
}

TEST_F(BoardWireTest, TheSwitchOnEitherBoardCounts) {
    Add("A");
    int b = Add("B");
    m_board.StartupConfiguration();
    m_bus.SetHandSwitch(b, HandSwitch::Ready);
    m_bus.ClearWire();

    CHandSwitchState s = m_board.ReadInputs();
    EXPECT_TRUE(s.bReady);
    EXPECT_FALSE(s.bExpose);
    EXPECT_EQ(m_bus.Wire(), (Calls{"write A 00 03 00 00 00 00 00 00 00", "read A 00 FF 00 00 00 00 00 00 00",
                                   "write B 00 03 00 00 00 00 00 00 00", "read B 00 FE 00 00 00 00 00 00 00"}));
}

TEST_F(BoardWireTest, ASilentBoardReadsAsReleased) {
    int a = Add("A");
    m_board.StartupConfiguration();
    // The switch is pressed, but no report comes back in time.
    m_bus.SetHandSwitch(a, HandSwitch::Expose);
    m_bus.SetReadLatency(a, pelkio::sim::kNever);

    CHandSwitchState s = m_board.ReadInputs();
    EXPECT_FALSE(s.bReady);
    EXPECT_FALSE(s.bExpose);
    EXPECT_EQ(m_bus.ElapsedMs(), uint64_t{PELKIO_TIMEOUT_MS});
}

}  // namespace
}  // namespace orvi
