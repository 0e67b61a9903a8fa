// The main frame's connection and commands on the simulated detector: which
// slots open, what each failure says, the panel, the board, the lamps, the
// adapter keys, the library corrections, Open File and destruction.
#include "acquisition/FrameFixture.h"
#include "app/Profile.h"
#include "imaging/MessageFiles.h"
#include "imaging/RawFile.h"
#include "orviacquire/ORVIAcquireLib.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <ostream>

namespace orvi::test {
namespace {

using Lines = std::vector<std::string>;

// A line "<ms> <call>" with this call, at any time.
bool HasCall(const Lines& lines, const std::string& strCall) {
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& s) {
        return s.size() > strCall.size() && s.compare(s.size() - strCall.size(), strCall.size(), strCall) == 0 &&
               s[s.size() - strCall.size() - 1] == ' ';
    });
}

class Connection : public FrameFixture {
protected:
    void SetUp() override {
        FrameFixture::SetUp();
        m_rec.nBoards = 1;
    }
    std::string Ini(const std::string& strKey) { return ReadProfileText(m_strIni, "CONFIG", strKey, "<none>", 512); }
};

// ---- The connection matrix ---------------------------------------------------------

struct CConnectCase {
    const char* szName;
    bool bSecondDetector;    // DETECTOR_NAME_2 set
    const char* szFailureA;  // INIT_FAILURE_1
    const char* szFailureB;  // INIT_FAILURE_2
    Lines messages;
    char cCurrent;  // 'A', 'B' or 0: which handle is current
    bool bSelectorShown;
    bool bPanelConnected;
    bool bConnectedAsA;  // lamp, parameters, message file, Save adapter
};

void PrintTo(const CConnectCase& c, std::ostream* os) { *os << c.szName; }

class ConnectionMatrix : public Connection, public ::testing::WithParamInterface<CConnectCase> {};

TEST_P(ConnectionMatrix, OpensTheConfiguredSlots) {
    const CConnectCase& c = GetParam();
    if (c.bSecondDetector) SetConfig("DETECTOR_NAME_2", "Detector B");
    SetSim("INIT_FAILURE_1", c.szFailureA);
    SetSim("INIT_FAILURE_2", c.szFailureB);
    Create();
    ClearBoard();
    Frame().OnConnect();
    m_clock.advance(100);

    CMainFrame& f = Frame();
    EXPECT_EQ(m_ui.texts(), c.messages);
    EXPECT_EQ(f.DetectorA() != 0, std::string(c.szFailureA) == "0");
    EXPECT_EQ(f.DetectorB() != 0, c.bSecondDetector && std::string(c.szFailureB) == "0");
    const uint32_t hExpected = c.cCurrent == 'A' ? f.DetectorA() : c.cCurrent == 'B' ? f.DetectorB() : 0;
    EXPECT_EQ(f.Detector(), hExpected);
    EXPECT_EQ(f.Panel().bDetectorSelectorVisible, c.bSelectorShown);
    EXPECT_EQ(f.Panel().bAcquisition, c.bPanelConnected);
    EXPECT_EQ(f.Panel().bConnect, !c.bPanelConnected);

    // Only detector A's success lights the connection lamp, pushes the
    // parameters, announces itself and saves the adapters.
    const Lines calls = BoardCalls();
    EXPECT_EQ(HasCall(calls, "PortWriteEx(0, 00, FF, EF, 00)"), c.bConnectedAsA);
    EXPECT_EQ(std::filesystem::exists(m_strImageDir + "Connection success.txt"), c.bConnectedAsA);
    EXPECT_EQ(Logged("Detector 2 Connect & initialization"), c.bConnectedAsA);
    EXPECT_EQ(Ini("SELECT_ADAPTER"), c.bConnectedAsA ? "0" : "<none>");
    EXPECT_TRUE(Logged("Click connect"));
}

INSTANTIATE_TEST_SUITE_P(
    Slots, ConnectionMatrix,
    ::testing::Values(
        CConnectCase{"AOnly", false, "0", "0", {}, 'A', false, true, true},
        CConnectCase{"AAndB", true, "0", "0", {}, 'A', true, true, true},
        CConnectCase{
            "AFailsNetworkBOpens", true, "-2", "0", {"A: Gigabit Network connection failed!"}, 'B', false, true, false},
        CConnectCase{"AFailsComNoB", false, "-1", "0", {"A: Initialization com failed!"}, 0, false, false, false},
        CConnectCase{"AAdapterBSpeed",
                     true,
                     "-3",
                     "-4",
                     {"A: Initialization adapter failed!", "B: Gigabit Network connection speed not 1000!"},
                     0,
                     false,
                     false,
                     false},
        CConnectCase{
            "BFailsAOpens", true, "0", "-2", {"B: Gigabit Network connection failed!"}, 'A', false, true, true}),
    [](const ::testing::TestParamInfo<CConnectCase>& info) { return std::string(info.param.szName); });

TEST_F(Connection, PushesTheExposureDelayAndTheFixedParameters) {
    SetConfig("EXP_DELAY", "2500");
    Start();
    EXPECT_EQ(Acquisition_GetDRConfigAecExpTime(Handle()), 2500);
    EXPECT_EQ(Acquisition_GetDRConfigPGA(Handle()), 5);
    EXPECT_EQ(Acquisition_GetDRConfigSetDelayTime(Handle()), 1000);
    EXPECT_EQ(Acquisition_GetDRConfigIntegrate(Handle()), 100);
    EXPECT_EQ(Acquisition_GetDRConfigAecMode(Handle()), 1);
}

// ---- The adapter dialog ----------------------------------------------------------------

TEST_F(Connection, CancelledAdapterDialogOpensNothing) {
    Create();
    Frame().OnShowNetworkWindow();
    EXPECT_TRUE(Frame().Panel().bShowNetworkTicked);
    EXPECT_EQ(m_app.m_imageStore.m_bShowNetworkWindow, 1);
    Frame().OnConnect();
    EXPECT_EQ(m_ui.nAdapterDialogs, 1);
    EXPECT_EQ(m_ui.texts(), Lines{});
    EXPECT_EQ(Frame().DetectorA(), 0u);
    EXPECT_TRUE(Frame().Panel().bConnect);
}

TEST_F(Connection, AdapterDialogChoiceOpensAndIsSavedInTheProgramFolder) {
    SetConfig("COM_NAME_1", "");
    SetConfig("ADAPTER_NAME_1", "");
    Create();
    Frame().OnShowNetworkWindow();
    // The second slot's names are ignored without a second detector.
    m_ui.adapterChoice = CAdapterChoice{"Simulated GigE Adapter 2", "Simulated GigE Adapter 1", "SIMCOM2", "SIMCOM1"};
    // The working folder is not the program folder: the keys still go to the program's file.
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(m_strCalDir);
    Frame().OnConnect();
    std::filesystem::current_path(cwd);
    EXPECT_EQ(m_ui.texts(), Lines{});
    EXPECT_NE(Frame().DetectorA(), 0u);
    EXPECT_EQ(Frame().DetectorB(), 0u);
    EXPECT_EQ(m_app.m_imageStore.m_strComName1, "SIMCOM2");
    EXPECT_EQ(Ini("ADAPTER_NAME_1"), "Simulated GigE Adapter 2");
    EXPECT_EQ(Ini("COM_NAME_1"), "SIMCOM2");
    EXPECT_EQ(Ini("SELECT_ADAPTER"), "1");
    EXPECT_FALSE(std::filesystem::exists(m_strCalDir + "ORVI2.ini"));
}

TEST_F(Connection, AdapterDialogWithEmptyNamesOpensNothing) {
    Create();
    Frame().OnShowNetworkWindow();
    m_ui.adapterChoice = CAdapterChoice{};
    Frame().OnConnect();
    EXPECT_EQ(m_ui.texts(), Lines{});
    EXPECT_EQ(Frame().DetectorA(), 0u);
    EXPECT_EQ(Frame().Detector(), 0u);
}

// ---- Disconnect, close and destruction --------------------------------------------------

TEST_F(Connection, DisconnectClosesBothAndGreysThePanel) {
    SetConfig("DETECTOR_NAME_2", "Detector B");
    Start();
    const uint32_t hA = Frame().DetectorA();
    Frame().OnDisconnect();
    EXPECT_EQ(Frame().DetectorA(), 0u);
    EXPECT_EQ(Frame().DetectorB(), 0u);
    EXPECT_EQ(Frame().Detector(), hA);           // keeps its old value
    EXPECT_EQ(Acquisition_ReadDRConfig(hA), 0);  // closed
    const CPanelState& p = Frame().Panel();
    EXPECT_TRUE(p.bConnect);
    EXPECT_FALSE(p.bDisconnect || p.bDark || p.bNoClear || p.bOpenConfig || p.bAcquisition || p.bSaveAdapter ||
                 p.bMakeCalibration || p.bOffsetSelector || p.bDetectorSelector);
    EXPECT_TRUE(p.bDetectorSelectorVisible);
    // Connect again.
    Frame().OnConnect();
    EXPECT_NE(Frame().DetectorA(), 0u);
}

TEST_F(Connection, CreationConfiguresTheBoardAndDestructionSwitchesItOff) {
    Create();
    EXPECT_EQ(BoardCalls(), (Lines{"0 InitBoard", "0 PortWriteEx(0, 00, FF, FF, 00)",
                                   "0 PortConfigureEx(0, 0000, FFFF, FFFF, 00, 00)"}));
    Connect();
    Frame().CalibrationDialog().OnInitDialog();
    m_clock.start(TIMER_BLINK, 500);
    ClearBoard();
    const uint32_t hA = Frame().DetectorA();
    m_pFrame.reset();  // without the close step: the detector is closed too
    EXPECT_EQ(Lines(m_rec.calls.end() - 2, m_rec.calls.end()),
              (Lines{"PortWriteEx(0, 00, FF, FF, 00)", "PortWriteEx(1, 00, FF, FF, 00)"}));
    EXPECT_FALSE(m_clock.is_running(TIMER_BLINK));
    EXPECT_EQ(Acquisition_ReadDRConfig(hA), 0);
    EXPECT_EQ(CMainFrame::Current(), nullptr);
    m_clock.run_until_idle(5000);  // nothing of the frame runs any more
}

TEST_F(Connection, CloseDisconnects) {
    Start();
    Frame().OnClose();
    EXPECT_EQ(Frame().DetectorA(), 0u);
    EXPECT_TRUE(Frame().Panel().bConnect);
}

// ---- Library corrections and the selectors -------------------------------------------------

TEST_F(Connection, GainAndDefectTicksFollowTheLibrary) {
    SetSim("MISSING_CORRECTION", "GAIN");
    Start();
    CMainFrame& f = Frame();
    f.OnGain();
    EXPECT_EQ(m_ui.texts(), Lines{kCorrectFileFailed});
    EXPECT_FALSE(f.Panel().bGainTicked);
    f.OnDefect();
    EXPECT_TRUE(f.Panel().bDefectTicked);
    f.OnDefect();
    EXPECT_FALSE(f.Panel().bDefectTicked);
    EXPECT_EQ(m_ui.texts(), Lines{kCorrectFileFailed});  // switching off never complains
}

TEST_F(Connection, OffsetSelector) {
    SetSim("MISSING_CORRECTION", "OFFSET");
    Start();
    CMainFrame& f = Frame();
    f.OnOffsetSelChange(1);  // PREV: the library refuses the file
    EXPECT_EQ(m_ui.texts(), Lines{kOffsetFileFailed});
    EXPECT_EQ(f.Panel().nOffsetSelection, 0);
    EXPECT_EQ(m_ui.nFocusMakeCalibration, 0);
    f.OnOffsetSelChange(2);  // POST
    EXPECT_EQ(f.Panel().nOffsetSelection, 2);
    EXPECT_EQ(m_ui.nFocusMakeCalibration, 1);
    EXPECT_EQ(m_ui.texts().size(), 1u);
}

TEST_F(Connection, DetectorSelectorSwitchesTheCurrentDetectorAndClearsTheCorrections) {
    SetConfig("DETECTOR_NAME_2", "Detector B");
    Start();
    CMainFrame& f = Frame();
    f.OnGain();
    f.OnOffsetSelChange(2);
    ASSERT_TRUE(f.Panel().bGainTicked);
    f.OnDetectorSelChange(1);
    EXPECT_EQ(f.Detector(), f.DetectorB());
    EXPECT_FALSE(f.Panel().bGainTicked);
    EXPECT_EQ(f.Panel().nOffsetSelection, 0);
    f.OnDetectorSelChange(0);
    EXPECT_EQ(f.Detector(), f.DetectorA());
    EXPECT_EQ(m_ui.texts(), Lines{});
}

// ---- Open Config ----------------------------------------------------------------------

TEST_F(Connection, OpenConfigTwiceShowsTheSameDialogAndReadsTwice) {
    Start();
    CMainFrame& f = Frame();
    f.OnOpenConfig();
    const CTarsoConfigDlg* pDlg = f.ConfigDialog();
    ASSERT_NE(pDlg, nullptr);
    EXPECT_EQ(pDlg->m_strVersion, "");  // empty until the detector answers
    m_clock.advance(100);
    EXPECT_EQ(m_ui.nConfigChanged, 1);
    EXPECT_EQ(pDlg->m_strVersion, "8.1.2.3");
    f.OnOpenConfig();
    m_clock.advance(100);
    EXPECT_EQ(f.ConfigDialog(), pDlg);
    EXPECT_EQ(m_ui.nShowConfig, 2);
    EXPECT_EQ(m_ui.nConfigChanged, 2);

    // A spoiled packet is reported and does not refresh.
    AcquisitionSim_SendCorruptPacket(Handle());
    m_clock.advance(100);
    EXPECT_EQ(m_ui.texts(), Lines{kChecksumError});
    EXPECT_EQ(m_ui.nConfigChanged, 2);

    // Exit destroys it; the port is told.
    f.ConfigDialog()->OnExit();
    EXPECT_EQ(f.ConfigDialog(), nullptr);
    EXPECT_EQ(m_ui.nConfigDestroyed, 1);
}

TEST_F(Connection, OpenConfigWithoutADetectorSaysSo) {
    Create();
    Frame().OnOpenConfig();
    EXPECT_EQ(m_ui.texts(), Lines{kSendReadError});
}

// ---- Open File -------------------------------------------------------------------------

TEST_F(Connection, OpenFileShowsWhatTheFileHoldsAndZeroesTheRest) {
    Create();
    std::string strBytes;
    for (uint16_t v : {1000, 2000, 3000}) strBytes += std::string{char(v & 0xFF), char(v >> 8)};
    WriteFile(m_strImageDir + "short.raw", strBytes);
    Frame().OnFileOpen(m_strImageDir + "short.raw");
    const std::vector<uint16_t>& shown = m_app.m_imageStore.m_pFrame1;
    EXPECT_EQ(shown[0], 1000);
    EXPECT_EQ(shown[2], 3000);
    EXPECT_EQ(shown[3], 0);
    EXPECT_EQ(shown.back(), 0);
    EXPECT_EQ(Frame().FileOpenInitialPath(), m_strImageDir);

    Frame().OnFileOpen(m_strImageDir + "missing.raw");
    EXPECT_EQ(m_ui.texts(), Lines{kFileOpenFail});
}

}  // namespace
}  // namespace orvi::test
