// The real libPelkio.so over the fake bus: enumeration, the bytes of every
// command, board numbering, time-outs and what follows them.
#include "usbio/HidBackend.h"
#include "usbio/Pelkio.h"
#include "usbio/PelkioSim.h"
#include "usbio/sim/SimHidBus.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace pelkio::sim {
namespace {

using Wire = std::vector<std::string>;

class PelkioTest : public ::testing::Test {
protected:
    void SetUp() override { PelkioSetBackend(&m_bus); }
    void TearDown() override { PelkioSetBackend(nullptr); }

    // Enumerates, then forgets what the bus saw so far.
    void Init(int32_t nExpected) {
        ASSERT_EQ(InitBoard(), nExpected);
        m_bus.ClearWire();
    }
    std::vector<std::string> Opened() const {
        std::vector<std::string> v;
        for (const std::string& s : m_bus.Wire())
            if (s.rfind("open ", 0) == 0) v.push_back(s);
        return v;
    }

    CSimHidBus m_bus;
};

// --- Enumeration --------------------------------------------------------------

struct CDeviceSpec {
    std::string strName;
    uint16_t nVendorId = PELKIO_VENDOR_ID;
    uint16_t nProductId = PELKIO_PRODUCT_ID;
    bool bOpenFails = false;
    bool bListedTwice = false;
};

struct CEnumCase {
    const char* szName;
    std::vector<CDeviceSpec> devices;
    std::vector<std::string> boards;  // the boards found, in board-number order
    Wire opened;                      // the open lines on the bus
};

void PrintTo(const CEnumCase& c, std::ostream* os) { *os << c.szName; }

std::vector<CDeviceSpec> Boards(const std::string& strNames) {
    std::vector<CDeviceSpec> v;
    for (char c : strNames) v.push_back({std::string(1, c)});
    return v;
}

Wire OpenLines(const std::string& strNames) {
    Wire v;
    for (char c : strNames) v.push_back("open " + std::string(1, c));
    return v;
}

std::vector<std::string> Names(const std::string& strNames) {
    std::vector<std::string> v;
    for (char c : strNames) v.emplace_back(1, c);
    return v;
}

class EnumerationTest : public PelkioTest, public ::testing::WithParamInterface<CEnumCase> {};

TEST_P(EnumerationTest, FindsAndNumbersTheBoards) {
    const CEnumCase& c = GetParam();
    std::vector<int> ids;
    for (const CDeviceSpec& d : c.devices) {
        int id = m_bus.AddDevice(d.strName, d.nVendorId, d.nProductId);
        m_bus.SetOpenFails(id, d.bOpenFails);
        if (d.bListedTwice) m_bus.ListAgain(id);
        ids.push_back(id);
    }

    EXPECT_EQ(InitBoard(), static_cast<int32_t>(c.boards.size()));
    EXPECT_EQ(Opened(), c.opened);

    // Board n is the n-th board found: a write to it reaches that device.
    for (size_t n = 0; n < c.boards.size(); ++n)
        EXPECT_EQ(PortWriteEx(static_cast<int32_t>(n), 0x40 + static_cast<int32_t>(n), 0, 0, 0), 1);
    for (size_t i = 0; i < c.devices.size(); ++i) {
        const std::string& strName = c.devices[i].strName;
        auto it = std::find(c.boards.begin(), c.boards.end(), strName);
        std::vector<std::vector<uint8_t>> written = m_bus.Written(ids[i]);
        if (it == c.boards.end()) {
            EXPECT_TRUE(written.empty()) << strName;
            continue;
        }
        ASSERT_EQ(written.size(), 1u) << strName;
        EXPECT_EQ(written[0][2], 0x40 + (it - c.boards.begin())) << strName;
    }
    // A board number past those found fails without touching the bus.
    m_bus.ClearWire();
    EXPECT_EQ(PortWriteEx(static_cast<int32_t>(c.boards.size()), 1, 2, 3, 4), 0);
    EXPECT_TRUE(m_bus.Wire().empty());
}

std::vector<CDeviceSpec> WithOthers() {
    return {{"A"}, {"X", PELKIO_VENDOR_ID, 0x0003}, {"Y", 0x1234, PELKIO_PRODUCT_ID}, {"B"}};
}

INSTANTIATE_TEST_SUITE_P(
    Pelkio, EnumerationTest,
    ::testing::Values(CEnumCase{"None", {}, {}, {}}, CEnumCase{"One", Boards("A"), Names("A"), OpenLines("A")},
                      CEnumCase{"Two", Boards("AB"), Names("AB"), OpenLines("AB")},
                      // The eleventh board is left alone: it is never opened.
                      CEnumCase{"ElevenStopAtTen", Boards("ABCDEFGHIJK"), Names("ABCDEFGHIJ"), OpenLines("ABCDEFGHIJ")},
                      // Devices with other ids are neither opened nor numbered.
                      CEnumCase{"OtherIdsPassedOver", WithOthers(), Names("AB"), OpenLines("AB")},
                      // A node without access does not take a number; the next board does.
                      CEnumCase{"UnopenableSkipped",
                                {{"A", PELKIO_VENDOR_ID, PELKIO_PRODUCT_ID, true}, {"B"}},
                                Names("B"),
                                Wire{"open A failed", "open B"}},
                      // One device listed twice (two collections of one node) is one board.
                      CEnumCase{"ListedTwiceIsOneBoard",
                                {{"A", PELKIO_VENDOR_ID, PELKIO_PRODUCT_ID, false, true}, {"B"}},
                                Names("AB"),
                                OpenLines("AB")}),
    [](const ::testing::TestParamInfo<CEnumCase>& info) { return std::string(info.param.szName); });

TEST_F(PelkioTest, ReEnumerationReleasesWhatTheLastOneOpened) {
    int a = m_bus.AddBoard("A");
    int b = m_bus.AddBoard("B");
    Init(2);
    EXPECT_EQ(InitBoard(), 2);
    EXPECT_EQ(m_bus.Wire(), (Wire{"close A", "close B", "enumerate", "open A", "open B"}));
    EXPECT_EQ(m_bus.Opens(a), 2);
    EXPECT_EQ(m_bus.Closes(a), 1);
    EXPECT_EQ(m_bus.Closes(b), 1);
}

TEST_F(PelkioTest, SwitchingTheBackendClosesTheOpenBoards) {
    int a = m_bus.AddBoard("A");
    Init(1);
    CSimHidBus other;
    other.AddBoard("Z");
    PelkioSetBackend(&other);
    EXPECT_EQ(m_bus.Closes(a), 1);
    EXPECT_EQ(PortWrite(1, 2, 3, 4), 0);  // the table starts empty
    EXPECT_EQ(InitBoard(), 1);
    EXPECT_EQ(other.Wire(), (Wire{"enumerate", "open Z"}));
    PelkioSetBackend(&m_bus);
    EXPECT_EQ(other.Closes(0), 1);
}

// --- The bytes of every command -----------------------------------------------

struct CCommandCase {
    const char* szName;
    std::function<int32_t()> fnCall;
    int32_t nResult;
    Wire wire;
};

void PrintTo(const CCommandCase& c, std::ostream* os) { *os << c.szName; }

class CommandBytesTest : public PelkioTest, public ::testing::WithParamInterface<CCommandCase> {};

// The board's input report: data bytes FE 21 32 43 54 65 76 87 after report id
// 0, FE for the ready stage pressed.
TEST_P(CommandBytesTest, SendsExactlyTheseReports) {
    int a = m_bus.AddBoard("A");
    m_bus.SetInputData(a, {0xFF, 0x21, 0x32, 0x43, 0x54, 0x65, 0x76, 0x87});
    m_bus.SetHandSwitch(a, HandSwitch::Ready);
    Init(1);
    EXPECT_EQ(GetParam().fnCall(), GetParam().nResult);
    EXPECT_EQ(m_bus.Wire(), GetParam().wire);
}

const char* const kReadRequest = "write A 00 03 00 00 00 00 00 00 00";
const char* const kReport = "read A 00 FE 21 32 43 54 65 76 87";

INSTANTIATE_TEST_SUITE_P(
    Pelkio, CommandBytesTest,
    ::testing::Values(CCommandCase{"ConfigureExample",
                                   [] { return PortConfigure(0x1234, 0xABCD, 0x00FF, 7, 9); },
                                   1,
                                   {"write A 00 01 34 12 CD AB FF 00 00", "write A 00 02 09 07 CD AB FF 00 00"}},
                      // p1..p3 keep their low 16 bits, p4 and p5 their low 8.
                      CCommandCase{"ConfigureCutsArguments",
                                   [] { return PortConfigureEx(0, 0x7FFF1234, -1, 0x10000, 0x107, 0x209); },
                                   1,
                                   {"write A 00 01 34 12 FF FF 00 00 00", "write A 00 02 09 07 FF FF 00 00 00"}},
                      // The start-up configuration of the station.
                      CCommandCase{"ConfigureAllPorts",
                                   [] { return PortConfigureEx(0, 0, 0xFFFF, 0xFFFF, 0, 0); },
                                   1,
                                   {"write A 00 01 00 00 FF FF FF FF 00", "write A 00 02 00 00 FF FF FF FF 00"}},
                      CCommandCase{"Write",
                                   [] { return PortWrite(0x11, 0x22, 0x33, 0x44); },
                                   1,
                                   {"write A 00 04 11 22 33 44 00 00 00"}},
                      CCommandCase{"WriteCutsArguments",
                                   [] { return PortWriteEx(0, 0x1FF, -2, 0x100, 0x12345); },
                                   1,
                                   {"write A 00 04 FF FE 00 45 00 00 00"}},
                      CCommandCase{"Read",
                                   [] {
                                       uint8_t o[5];
                                       return PortRead(&o[0], &o[1], &o[2], &o[3], &o[4]);
                                   },
                                   1,
                                   {kReadRequest, kReport}},
                      // Command 5 carries d1, d2 and bytes 3 to 7 of the report just read.
                      CCommandCase{"Port1Write",
                                   [] { return Port1Write(0x1AB, 0xCD); },
                                   1,
                                   {kReadRequest, kReport, "write A 00 05 AB CD 32 43 54 65 76"}}),
    [](const ::testing::TestParamInfo<CCommandCase>& info) { return std::string(info.param.szName); });

TEST_F(PelkioTest, ReadReturnsBytesOneToFiveOfTheReport) {
    int a = m_bus.AddBoard("A");
    m_bus.SetInputData(a, {0xFF, 0x21, 0x32, 0x43, 0x54, 0x65});
    m_bus.SetHandSwitch(a, HandSwitch::Expose);
    Init(1);
    uint8_t o[5] = {};
    EXPECT_EQ(PortRead(&o[0], &o[1], &o[2], &o[3], &o[4]), 1);
    EXPECT_EQ(std::vector<uint8_t>(o, o + 5), (std::vector<uint8_t>{0xFC, 0x21, 0x32, 0x43, 0x54}));

    // Values the caller does not want may be null.
    uint8_t o2 = 0;
    EXPECT_EQ(PortReadEx(0, nullptr, &o2, nullptr, nullptr, nullptr), 1);
    EXPECT_EQ(o2, 0x21);
}

TEST_F(PelkioTest, TheExFormsReachTheSecondBoardAndThePlainFormsTheFirst) {
    m_bus.AddBoard("A");
    int b = m_bus.AddBoard("B");
    m_bus.SetHandSwitch(b, HandSwitch::Ready);
    Init(2);

    EXPECT_EQ(PortWriteEx(1, 1, 2, 3, 4), 1);
    EXPECT_EQ(PortWrite(5, 6, 7, 8), 1);
    EXPECT_EQ(PortConfigureEx(1, 1, 2, 3, 4, 5), 1);
    uint8_t o[5] = {};
    EXPECT_EQ(PortReadEx(1, &o[0], &o[1], &o[2], &o[3], &o[4]), 1);
    EXPECT_EQ(o[0], 0xFE);
    EXPECT_EQ(Port1WriteEx(1, 9, 9), 1);
    EXPECT_EQ(m_bus.Wire(), (Wire{"write B 00 04 01 02 03 04 00 00 00", "write A 00 04 05 06 07 08 00 00 00",
                                  "write B 00 01 01 00 02 00 03 00 00", "write B 00 02 05 04 02 00 03 00 00",
                                  "write B 00 03 00 00 00 00 00 00 00", "read B 00 FE 00 00 00 00 00 00 00",
                                  "write B 00 03 00 00 00 00 00 00 00", "read B 00 FE 00 00 00 00 00 00 00",
                                  "write B 00 05 09 09 00 00 00 00 00"}));
}

TEST_F(PelkioTest, BoardNumbersOutsideTheTableFailAtOnce) {
    m_bus.AddBoard("A");
    Init(1);
    for (int32_t nBoard : {-1, PELKIO_MAX_BOARDS, 0x7FFFFFFF}) {
        uint8_t o1 = 0xAA;
        EXPECT_EQ(PortWriteEx(nBoard, 1, 2, 3, 4), 0) << nBoard;
        EXPECT_EQ(PortConfigureEx(nBoard, 1, 2, 3, 4, 5), 0) << nBoard;
        EXPECT_EQ(PortReadEx(nBoard, &o1, nullptr, nullptr, nullptr, nullptr), 0) << nBoard;
        EXPECT_EQ(o1, 0) << nBoard;
        EXPECT_EQ(Port1WriteEx(nBoard, 1, 2), 0) << nBoard;
    }
    EXPECT_TRUE(m_bus.Wire().empty());
}

// --- Time limit, closed boards, re-enumeration --------------------------------

TEST_F(PelkioTest, AWriteTimesOutAtTheLimitAndTheBoardIsClosedOnce) {
    int a = m_bus.AddBoard("A");
    uint64_t nWaited = 0;
    m_bus.SetWaitHook([&](uint32_t nMs) { nWaited += nMs; });
    Init(1);
    m_bus.SetWriteLatency(a, kNever);

    EXPECT_EQ(PortWrite(1, 2, 3, 4), 0);
    EXPECT_EQ(m_bus.ElapsedMs(), uint64_t{PELKIO_TIMEOUT_MS});
    EXPECT_EQ(nWaited, uint64_t{PELKIO_TIMEOUT_MS});
    EXPECT_EQ(m_bus.Wire(), (Wire{"write A 00 04 01 02 03 04 00 00 00 timed out", "close A"}));

    // The closed board fails at once; nothing is sent and nothing closed again.
    m_bus.ClearWire();
    EXPECT_EQ(PortWrite(1, 2, 3, 4), 0);
    EXPECT_EQ(PortConfigure(1, 2, 3, 4, 5), 0);
    EXPECT_EQ(m_bus.ElapsedMs(), uint64_t{PELKIO_TIMEOUT_MS});
    EXPECT_TRUE(m_bus.Wire().empty());

    // The next enumeration opens it afresh.
    m_bus.SetWriteLatency(a, 0);
    EXPECT_EQ(InitBoard(), 1);
    EXPECT_EQ(PortWrite(1, 2, 3, 4), 1);
    EXPECT_EQ(m_bus.Closes(a), 1);
    EXPECT_EQ(m_bus.Opens(a), 2);
}

TEST_F(PelkioTest, ABoardAnsweringAtTheLimitIsInTime) {
    int a = m_bus.AddBoard("A");
    m_bus.SetWriteLatency(a, PELKIO_TIMEOUT_MS);
    m_bus.SetReadLatency(a, PELKIO_TIMEOUT_MS);
    Init(1);
    uint8_t o1 = 0;
    EXPECT_EQ(PortRead(&o1, nullptr, nullptr, nullptr, nullptr), 1);
    EXPECT_EQ(o1, 0xFF);
    EXPECT_EQ(m_bus.ElapsedMs(), uint64_t{2 * PELKIO_TIMEOUT_MS});
    EXPECT_EQ(m_bus.Closes(a), 0);
}

TEST_F(PelkioTest, AReadTimesOutWithZerosAndTheNextReadFindsTheNewBoard) {
    int a = m_bus.AddBoard("A");
    m_bus.SetReadLatency(a, kNever);
    m_bus.SetHandSwitch(a, HandSwitch::Expose);
    Init(1);

    uint8_t o[5] = {0xAA, 0xAA, 0xAA, 0xAA, 0xAA};
    EXPECT_EQ(PortRead(&o[0], &o[1], &o[2], &o[3], &o[4]), 0);
    EXPECT_EQ(std::vector<uint8_t>(o, o + 5), std::vector<uint8_t>(5, 0));
    EXPECT_EQ(m_bus.ElapsedMs(), uint64_t{PELKIO_TIMEOUT_MS});
    EXPECT_EQ(m_bus.Wire(), (Wire{kReadRequest, "read A timed out", "close A"}));

    // A goes away and another board comes: the read request to the closed
    // entry fails at once, the read enumerates and asks the new board.
    m_bus.Unplug(a);
    int b = m_bus.AddBoard("B");
    m_bus.SetHandSwitch(b, HandSwitch::Ready);
    m_bus.ClearWire();
    EXPECT_EQ(PortRead(&o[0], &o[1], &o[2], &o[3], &o[4]), 1);
    EXPECT_EQ(o[0], 0xFE);
    EXPECT_EQ(m_bus.Wire(),
              (Wire{"enumerate", "open B", "write B 00 03 00 00 00 00 00 00 00", "read B 00 FE 00 00 00 00 00 00 00"}));
    EXPECT_EQ(m_bus.Closes(a), 1);
    EXPECT_EQ(m_bus.ElapsedMs(), uint64_t{PELKIO_TIMEOUT_MS});
}

TEST_F(PelkioTest, AReadOfAClosedBoardWithNoBoardLeftReturnsZero) {
    int a = m_bus.AddBoard("A");
    Init(1);
    m_bus.Unplug(a);
    uint8_t o1 = 0xAA;
    EXPECT_EQ(PortRead(&o1, nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(o1, 0);
    EXPECT_EQ(m_bus.Wire(), (Wire{"write A 00 03 00 00 00 00 00 00 00 failed", "close A", "enumerate"}));
    EXPECT_EQ(m_bus.ElapsedMs(), 0u);
}

TEST_F(PelkioTest, AnUnpluggedBoardFailsAtOnceAndIsFoundAgainWhenItComesBack) {
    int a = m_bus.AddBoard("A");
    Init(1);
    std::string strOldPath = m_bus.PathOf(a);
    m_bus.Unplug(a);
    EXPECT_EQ(PortWrite(1, 2, 3, 4), 0);
    EXPECT_EQ(m_bus.ElapsedMs(), 0u);
    EXPECT_EQ(InitBoard(), 0);

    m_bus.Plug(a);
    EXPECT_NE(m_bus.PathOf(a), strOldPath);
    EXPECT_EQ(InitBoard(), 1);
    EXPECT_EQ(PortWrite(1, 2, 3, 4), 1);
    EXPECT_EQ(m_bus.Opens(a), 2);
    EXPECT_EQ(m_bus.Closes(a), 1);
}

TEST_F(PelkioTest, ConfigureStopsAfterAFailedFirstCommand) {
    int a = m_bus.AddBoard("A");
    Init(1);
    m_bus.SetWriteLatency(a, kNever);
    EXPECT_EQ(PortConfigure(0x1234, 0xABCD, 0x00FF, 7, 9), 0);
    EXPECT_EQ(m_bus.Wire(), (Wire{"write A 00 01 34 12 CD AB FF 00 00 timed out", "close A"}));
    EXPECT_EQ(m_bus.ElapsedMs(), uint64_t{PELKIO_TIMEOUT_MS});
}

TEST_F(PelkioTest, Port1WriteWithoutAReportWritesNothing) {
    int a = m_bus.AddBoard("A");
    m_bus.SetReadLatency(a, kNever);
    Init(1);
    EXPECT_EQ(Port1Write(1, 2), 0);
    EXPECT_EQ(m_bus.Wire(), (Wire{kReadRequest, "read A timed out", "close A"}));
}

// --- The simulated boards behind the real ones ----------------------------------

class PelkioSimTest : public PelkioTest {
protected:
    void TearDown() override {
        PelkioSim_SetBoards(0);
        PelkioTest::TearDown();
    }
};

TEST_F(PelkioSimTest, SimulatedBoardsStandInOnlyWhileNoRealBoardOpens) {
    EXPECT_EQ(PelkioSim_SetBoards(5), PELKIO_SIM_MAX_BOARDS);  // brought into range
    EXPECT_EQ(InitBoard(), 2);
    EXPECT_EQ(PelkioSim_InUse(), 1);

    // A real board that cannot be opened does not count; one that opens wins.
    int a = m_bus.AddBoard("A");
    m_bus.SetOpenFails(a, true);
    EXPECT_EQ(InitBoard(), 2);
    EXPECT_EQ(PelkioSim_InUse(), 1);
    m_bus.SetOpenFails(a, false);
    EXPECT_EQ(InitBoard(), 1);
    EXPECT_EQ(PelkioSim_InUse(), 0);
    EXPECT_EQ(PortWriteEx(0, 0, 0xEF, 0xE7, 0), 1);
    EXPECT_EQ(m_bus.Written(a).size(), 1u);
    uint8_t by1 = 0, by2 = 0;
    EXPECT_EQ(PelkioSim_GetOutputs(0, &by1, &by2), 0);  // the simulated board got nothing

    // Unplugged: the simulated boards are back at the next enumeration.
    m_bus.Unplug(a);
    EXPECT_EQ(InitBoard(), 2);
    EXPECT_EQ(PelkioSim_InUse(), 1);
}

TEST_F(PelkioSimTest, ASimulatedBoardKeepsItsOutputsAndAnswersWithItsHandSwitch) {
    PelkioSim_SetBoards(2);
    ASSERT_EQ(InitBoard(), 2);
    uint8_t by1 = 0, by2 = 0;
    EXPECT_EQ(PelkioSim_GetOutputs(1, &by1, &by2), 0);
    EXPECT_EQ(by1, 0xFF);
    EXPECT_EQ(by2, 0xFF);
    EXPECT_EQ(PortWriteEx(1, 0, 0xEF, 0xE7, 0), 1);
    EXPECT_EQ(PelkioSim_GetOutputs(1, &by1, &by2), 1);
    EXPECT_EQ(by1, 0xE7);
    EXPECT_EQ(by2, 0xEF);
    EXPECT_EQ(PelkioSim_GetOutputs(0, nullptr, nullptr), 0);

    struct {
        int32_t nStage;
        uint8_t byInput;
    } const stages[] = {{PELKIO_SIM_READY, 0xFE}, {PELKIO_SIM_EXPOSE, 0xFC}, {PELKIO_SIM_RELEASED, 0xFF}};
    for (const auto& s : stages) {
        ASSERT_EQ(PelkioSim_SetHandSwitch(1, s.nStage), 1);
        EXPECT_EQ(PelkioSim_GetHandSwitch(1), s.nStage);
        uint8_t o[5] = {0, 0, 0, 0, 0};
        EXPECT_EQ(PortReadEx(1, &o[0], &o[1], &o[2], &o[3], &o[4]), 1);
        EXPECT_EQ(o[0], s.byInput) << s.nStage;
        EXPECT_EQ(PortReadEx(0, &o[0], &o[1], &o[2], &o[3], &o[4]), 1);
        EXPECT_EQ(o[0], 0xFF) << "board 0 keeps its own switch";
    }
}

TEST_F(PelkioSimTest, BadBoardsAndStagesAreRefused) {
    EXPECT_EQ(PelkioSim_SetHandSwitch(0, PELKIO_SIM_READY), 0);  // none simulated
    EXPECT_EQ(PelkioSim_GetHandSwitch(0), -1);
    PelkioSim_SetBoards(1);
    EXPECT_EQ(PelkioSim_Boards(), 1);
    EXPECT_EQ(PelkioSim_SetHandSwitch(1, PELKIO_SIM_READY), 0);
    EXPECT_EQ(PelkioSim_SetHandSwitch(-1, PELKIO_SIM_READY), 0);
    EXPECT_EQ(PelkioSim_SetHandSwitch(0, 3), 0);
    EXPECT_EQ(PelkioSim_GetHandSwitch(0), PELKIO_SIM_RELEASED);
    EXPECT_EQ(PelkioSim_GetOutputs(7, nullptr, nullptr), 0);
    // Fewer boards while the simulated ones are open: the old handles go first.
    ASSERT_EQ(InitBoard(), 1);
    EXPECT_EQ(PelkioSim_SetBoards(0), 0);
    EXPECT_EQ(PelkioSim_InUse(), 0);
    EXPECT_EQ(PortWriteEx(0, 0, 0xFF, 0xFF, 0), 0);
    EXPECT_EQ(InitBoard(), 0);
}

}  // namespace
}  // namespace pelkio::sim
