// The trigger modes end to end in virtual time: the timers, lamps and log
// lines of manual/auto, repeat and hand-switch exposures on the simulated
// detector, to the millisecond.
#include "acquisition/FrameFixture.h"
#include "imaging/MessageFiles.h"
#include "orviacquire/ORVIAcquireLib.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace orvi::test {
namespace {

using Times = std::vector<uint64_t>;
using Lines = std::vector<std::string>;
using pelkio::sim::HandSwitch;

bool Contains(const Lines& lines, const std::string& strLine) {
    return std::find(lines.begin(), lines.end(), strLine) != lines.end();
}

// Board 0 writes between two times (relative to the Acquisition).
Lines Board0Writes(const Lines& writes, uint64_t nFrom, uint64_t nTo) {
    Lines v;
    for (const std::string& s : writes) {
        const uint64_t t = std::stoull(s.substr(0, s.find(' ')));
        if (t >= nFrom && t <= nTo && s.find("PortWriteEx(0,") != std::string::npos) v.push_back(s);
    }
    return v;
}

class TriggerTimeline : public FrameFixture {
protected:
    void SetUp() override {
        FrameFixture::SetUp();
        m_rec.nBoards = 1;
    }
    // No X-ray unless a test fires it, and an armed detector waits for ever.
    void NoImage() {
        SetSim("AUTO_FIRE_MS", "0");
        SetSim("EXPOSURE_WINDOW_MS", "0");
    }
};

// ---- Modes 0 and 1 ---------------------------------------------------------------

TEST_F(TriggerTimeline, ManualModeCountsDownAt11sAndLightsTheReadyLampAt12s) {
    NoImage();
    Start();
    Acquire();
    RunTo(m_clock.now() + 20000);

    EXPECT_EQ(Since("Click Acqusition"), Times{0});
    EXPECT_EQ(Since("Exposure enable [E] Delay time: 1000(ms)"), Times{500});
    EXPECT_EQ(Since("Detector 2 ready"), Times{500});
    EXPECT_EQ(Since("Left 1 second for exposure"), Times{11000});
    EXPECT_EQ(Since("TIMER_EXP_DELAY ON"), Times{12000});
    EXPECT_EQ(Since("Delay - ready on "), Times{12000});
    // Enable lamp at 500; it blinks every 100 ms of the last second; at 12 s the
    // ready lamp lights (E7), then the countdown's end puts both out (EF).
    EXPECT_EQ(Board0Writes(BoardWrites(), 0, 20000),
              (Lines{"500 PortWriteEx(0, 00, FF, EB, 00)", "11100 PortWriteEx(0, 00, FF, EF, 00)",
                     "11200 PortWriteEx(0, 00, FF, EB, 00)", "11300 PortWriteEx(0, 00, FF, EF, 00)",
                     "11400 PortWriteEx(0, 00, FF, EB, 00)", "11500 PortWriteEx(0, 00, FF, EF, 00)",
                     "11600 PortWriteEx(0, 00, FF, EB, 00)", "11700 PortWriteEx(0, 00, FF, EF, 00)",
                     "11800 PortWriteEx(0, 00, FF, EB, 00)", "11900 PortWriteEx(0, 00, FF, EF, 00)",
                     "12000 PortWriteEx(0, 00, FF, E7, 00)", "12000 PortWriteEx(0, 00, FF, EF, 00)"}));
    EXPECT_TRUE(Contains(ImageFiles(), "Detector 2 ready.txt"));
    EXPECT_FALSE(m_clock.is_running(TIMER_COUNTDOWN));
    EXPECT_FALSE(m_clock.is_running(TIMER_EXP_DELAY));
}

TEST_F(TriggerTimeline, ExposureDelayShiftsTheCountdownAndTheReadyLamp) {
    NoImage();
    SetConfig("EXP_DELAY", "2500");
    Start();
    Acquire();
    RunTo(m_clock.now() + 20000);
    EXPECT_EQ(Since("Left 1 second for exposure"), Times{8500});
    EXPECT_EQ(Since("TIMER_EXP_DELAY ON"), Times{9500});
    EXPECT_EQ(Since("Delay - ready on "), Times{9500});
}

// EXP_DELAY of 11000 or more leaves no time before the countdown (and from
// 12000 none before the ready lamp): those steps fall due at once, the log says
// so, and the timer service never sees a negative period.
TEST_F(TriggerTimeline, PeriodsThatComeOutNegativeStartAtOnce) {
    NoImage();
    SetConfig("EXP_DELAY", "12500");
    Start();
    Acquire();
    EXPECT_EQ(m_clock.period_of(TIMER_EXP_DELAY), 0);
    EXPECT_EQ(m_clock.period_of(TIMER_PRE_EXPOSURE), 0);
    RunTo(m_clock.now() + 3000);
    EXPECT_EQ(Since("Timer 811 period -500 ms: started at once"), Times{0});
    EXPECT_EQ(Since("Timer 804 period -1500 ms: started at once"), Times{0});
    EXPECT_EQ(Since("TIMER_EXP_DELAY ON"), Times{0});
    EXPECT_EQ(Since("Left 1 second for exposure"), Times{0});
    EXPECT_EQ(Since("Delay - ready on "), Times{1000});
}

TEST_F(TriggerTimeline, ExposureDisabledLightsTheReadyLampAndTheImageEndsTheSequence) {
    Start();  // the generator fires 12500 ms after the arming
    Acquire();
    RunTo(m_clock.now() + 20000);
    EXPECT_EQ(Since("Ready LED ON (Not 6:USB mode),Atfer AecInfoCallback"), Times{12500});
    EXPECT_EQ(Since("Exposure disable [R] Delay time: 1000(ms)"), Times{12500});
    EXPECT_EQ(Since("Receive Image data"), Times{12800});
    EXPECT_EQ(Since("Processing finished."), Times{15000});  // after 900 ms and a dark of 1000 + 300
    EXPECT_EQ(m_ui.pane(4).back(), "Done");
}

// ---- Mode 7 ------------------------------------------------------------------

TEST_F(TriggerTimeline, RepeatSeriesArmsFiveTimesAndEndsAt25s) {
    NoImage();
    SetConfig("EXT_TRIGGER", "7");
    Start();
    Acquire();
    RunTo(m_clock.now() + 30000);

    EXPECT_EQ(Since("Repeat mode, Acqusition start"), Times{0});
    // Every arming is reported enabled 500 ms later.
    EXPECT_EQ(Since("Exposure enable [E] Delay time: 1000(ms)"), (Times{500, 5500, 10500, 15500, 20500}));
    EXPECT_EQ(Since("Prepare[Trigger 7 mode]  "), (Times{5000, 10000, 15000, 20000}));
    EXPECT_EQ(Since("Left 1 second for exposure"), (Times{2000, 7000, 12000, 17000, 22000}));
    EXPECT_EQ(Since("Delay - ready on "), (Times{3000, 8000, 13000, 18000, 23000}));
    EXPECT_EQ(Since("Trigger 7 mode End"), Times{25000});
    EXPECT_EQ(Frame().Sequencer().RepeatLeft(), 5);
    EXPECT_FALSE(m_clock.is_running(TIMER_REPEAT));
    // The countdown's end lights the ready lamp in this mode; the series' end
    // puts the lamps out.
    EXPECT_TRUE(Contains(BoardWrites(), "3000 PortWriteEx(0, 00, FF, E7, 00)"));
    EXPECT_EQ(Board0Writes(BoardWrites(), 25000, 25000), Lines{"25000 PortWriteEx(0, 00, FF, EF, 00)"});

    // A later Acquisition arms five times again.
    Acquire();
    RunTo(m_clock.now() + 30000);
    EXPECT_EQ(Since("Prepare[Trigger 7 mode]  "), (Times{5000, 10000, 15000, 20000}));
    EXPECT_EQ(Since("Trigger 7 mode End"), Times{25000});
}

TEST_F(TriggerTimeline, AnImageInterruptsTheSeriesWithoutReloadingTheCounter) {
    NoImage();
    SetConfig("EXT_TRIGGER", "7");
    SetConfig("CALIBRATION", "0");
    Start();
    Acquire();
    FireAt(m_clock.now() + 6700);  // the image arrives 7 s after the Acquisition
    RunTo(m_clock.now() + 30000);
    EXPECT_EQ(Since("Receive Image data"), Times{7000});
    EXPECT_EQ(Since("Prepare[Trigger 7 mode]  "), Times{5000});
    EXPECT_EQ(Since("Trigger 7 mode End"), Times{});
    EXPECT_EQ(Frame().Sequencer().RepeatLeft(), 4);
    EXPECT_TRUE(Contains(ImageFiles(), "IMAGE.RAW"));

    Acquire();
    RunTo(m_clock.now() + 30000);
    EXPECT_EQ(Since("Prepare[Trigger 7 mode]  "), (Times{5000, 10000, 15000}));
    EXPECT_EQ(Since("Trigger 7 mode End"), Times{20000});
    EXPECT_EQ(Frame().Sequencer().RepeatLeft(), 5);
}

// ---- Mode 6: the hand switch on the real library over the fake bus -------------------

class HandSwitchTimeline : public TriggerTimeline {
protected:
    void StartUsb(int nBoards) {
        SetConfig("EXT_TRIGGER", "6");
        SetConfig("CALIBRATION", "0");
        SetSim("AUTO_FIRE_MS", "0");
        for (int i = 0; i < nBoards; ++i) m_bus.AddBoard("board " + std::to_string(i));
        Start(true);
    }
    void SwitchAt(uint64_t nRelMs, int nBoard, HandSwitch state, bool bFire = false) {
        m_clock.post(static_cast<uint32_t>(m_nT0 + nRelMs - m_clock.now()), [this, nBoard, state, bFire] {
            m_bus.SetHandSwitch(nBoard, state);
            if (bFire) AcquisitionSim_FireXray(Frame().Detector());
        });
    }
    // The same, scheduled before the Acquisition (t = 0 is the next Acquire()).
    void Plan(uint64_t nRelMs, int nBoard, HandSwitch state, bool bFire = false) {
        m_nT0 = m_clock.now();
        SwitchAt(nRelMs, nBoard, state, bFire);
    }
};

TEST_F(HandSwitchTimeline, ATapShorterThanHalfASecondDoesNotArm) {
    StartUsb(1);
    Plan(100, 0, HandSwitch::Ready);
    Plan(300, 0, HandSwitch::Released);
    Acquire();
    RunTo(m_clock.now() + 2000);
    EXPECT_EQ(Since("Manual mode, Click Acqusition "), Times{0});
    EXPECT_EQ(Since("TIMER_MANUAL_READ::Pressed ready "), Times{100});
    EXPECT_EQ(Since("TIMER_MANUAL_READ_2::release ready "), Times{600});
    EXPECT_EQ(Since("TIMER_MANUAL_READ_2::Prepare "), Times{});
    EXPECT_FALSE(Logged("Exposure enable [E] Delay time: 1000(ms)"));
    EXPECT_EQ(m_clock.period_of(TIMER_MANUAL_READ), kManualReadMs);  // polling goes on
    // While pressed, the ready output and the ready lamp follow the switch.
    EXPECT_TRUE(Contains(BoardWrites(), "100 PortWriteEx(0, 00, EF, E7, 00)"));
    EXPECT_TRUE(Contains(BoardWrites(), "325 PortWriteEx(0, 00, FF, EF, 00)"));
}

TEST_F(HandSwitchTimeline, HeldButNeverEnabledSwitchesBoard0OffAfter3s) {
    SetSim("ENABLE_MS", "60000");
    StartUsb(1);
    Plan(100, 0, HandSwitch::Ready);
    Acquire();
    RunTo(m_clock.now() + 5000);
    EXPECT_EQ(Since("TIMER_MANUAL_READ_2::Prepare "), Times{600});
    const Lines calls = BoardCalls();
    // At 3.6 s: both bytes 0xFF to board 0 only, without an enumeration.
    auto it = std::find(calls.begin(), calls.end(), "3600 PortWriteEx(0, 00, FF, FF, 00)");
    ASSERT_NE(it, calls.end());
    EXPECT_NE(*(it - 1), "3600 InitBoard");
    EXPECT_EQ(it + 1, calls.end());  // idle afterwards: no polling, no further write
    EXPECT_EQ(g_byOut1, 0xFF);
    EXPECT_EQ(g_byOut2, 0xFF);
}

TEST_F(HandSwitchTimeline, HoldExposeAndReleaseTakesTheImage) {
    StartUsb(1);
    Plan(100, 0, HandSwitch::Ready);
    Plan(1500, 0, HandSwitch::Expose, true);
    Plan(1700, 0, HandSwitch::Released);
    Acquire();
    RunTo(m_clock.now() + 6000);
    EXPECT_EQ(Since("TIMER_MANUAL_READ_2::Prepare "), Times{600});
    EXPECT_EQ(Since("Start TIMER_MANUAL_EXP ,Atfer AecInfoCallback"), Times{1100});
    EXPECT_EQ(Since("Receive Image data"), Times{1800});
    EXPECT_EQ(Since("Processing finished."), Times{4000});
    EXPECT_TRUE(Frame().Sequencer().Exposed());
    // Expose output and enable lamp follow the second stage.
    EXPECT_TRUE(Contains(BoardWrites(), "1500 PortWriteEx(0, 00, CF, E3, 00)"));
    // The release stops the polling: nothing runs until the next Acquisition.
    for (uint32_t nId : {TIMER_MANUAL_READ, TIMER_MANUAL_READ_2, TIMER_MANUAL_EXP, TIMER_READY_TIMEOUT})
        EXPECT_FALSE(m_clock.is_running(nId)) << nId;
    EXPECT_TRUE(Contains(ImageFiles(), "IMAGE.RAW"));
}

TEST_F(HandSwitchTimeline, ReleasedBeforeExposingPollsAgain) {
    StartUsb(1);
    Plan(100, 0, HandSwitch::Ready);
    Plan(1300, 0, HandSwitch::Released);
    Acquire();
    RunTo(m_clock.now() + 1400);
    EXPECT_EQ(Since("Start TIMER_MANUAL_EXP ,Atfer AecInfoCallback"), Times{1100});
    EXPECT_FALSE(m_clock.is_running(TIMER_MANUAL_EXP));
    EXPECT_EQ(m_clock.period_of(TIMER_MANUAL_READ), kManualReadMs);
    EXPECT_FALSE(Frame().Sequencer().Exposed());
}

TEST_F(HandSwitchTimeline, ReleasedWhenTheDetectorReportsEnabledPollsAgain) {
    SetSim("ENABLE_MS", "1000");
    StartUsb(1);
    Plan(100, 0, HandSwitch::Ready);
    Plan(1000, 0, HandSwitch::Released);
    Acquire();
    RunTo(m_clock.now() + 1700);
    EXPECT_EQ(Since("Release ready ,Atfer AecInfoCallback"), Times{1600});
    EXPECT_FALSE(m_clock.is_running(TIMER_READY_TIMEOUT));
    EXPECT_EQ(m_clock.period_of(TIMER_MANUAL_READ), kManualReadMs);
}

TEST_F(HandSwitchTimeline, TheSwitchOnEitherOfTwoBoardsCounts) {
    StartUsb(2);
    Plan(100, 1, HandSwitch::Ready);
    Acquire();
    RunTo(m_clock.now() + 700);
    EXPECT_EQ(Since("TIMER_MANUAL_READ::Pressed ready "), Times{100});
    EXPECT_EQ(Since("TIMER_MANUAL_READ_2::Prepare "), Times{600});
    // Both boards are read and both receive the same bytes.
    EXPECT_TRUE(Contains(BoardCalls(), "100 PortReadEx(1)"));
    EXPECT_TRUE(Contains(BoardWrites(), "100 PortWriteEx(1, 00, EF, E7, 00)"));
}

TEST_F(HandSwitchTimeline, WithoutABoardPollingStops) {
    StartUsb(0);
    Acquire();
    RunTo(m_clock.now() + 500);
    EXPECT_EQ(Since("USB is disconnected"), Times{25});
    EXPECT_FALSE(m_clock.is_running(TIMER_MANUAL_READ));
}

// ---- Dark, callbacks and the watchdog ----------------------------------------------

// Disconnect while an exposure is pending: its timers stop with the
// connection. Nothing is written to the board or the log afterwards, and pane
// 4 no longer offers the exposure.
class DisconnectPending : public TriggerTimeline, public ::testing::WithParamInterface<const char*> {};

TEST_P(DisconnectPending, StopsTheExposuresTimers) {
    NoImage();
    SetConfig("EXT_TRIGGER", GetParam());
    Start();
    Acquire();
    RunTo(m_clock.now() + 600);  // armed: "Exposure enable [E] ..." in pane 4 (modes 1 and 7)
    Frame().OnDisconnect();
    ClearBoard();
    const size_t nLogLines = Log().size();
    RunTo(m_clock.now() + 60000);
    EXPECT_EQ(BoardCalls(), Lines{});
    const Lines log = Log();
    EXPECT_EQ(Lines(log.begin() + ptrdiff_t(nLogLines), log.end()), Lines{});
    for (uint32_t nId : {TIMER_COUNTDOWN, TIMER_PRE_EXPOSURE, TIMER_EXP_DELAY, TIMER_REPEAT, TIMER_MANUAL_READ,
                         TIMER_MANUAL_READ_2, TIMER_MANUAL_EXP, TIMER_READY_TIMEOUT})
        EXPECT_FALSE(m_clock.is_running(nId)) << nId;
    ASSERT_FALSE(m_ui.pane(4).empty());
    EXPECT_EQ(m_ui.pane(4).back(), "");
}

INSTANTIATE_TEST_SUITE_P(Modes, DisconnectPending, ::testing::Values("1", "7", "6"),
                         [](const auto& info) { return std::string("Mode") + info.param; });

TEST_F(TriggerTimeline, DarkGreysFiveButtonsAndCloseForOneAndAHalfSeconds) {
    SetSim("READOUT_MS", "5000");  // the dark frame itself comes after the window
    Start();
    CMainFrame& f = Frame();
    m_nT0 = m_clock.now();
    f.OnDark();
    const CPanelState& p = f.Panel();
    EXPECT_FALSE(p.bOpenConfig || p.bDisconnect || p.bAcquisition || p.bDark || p.bNoClear);
    EXPECT_TRUE(p.bSaveAdapter && p.bMakeCalibration && p.bOffsetSelector && p.bDetectorSelector);
    EXPECT_FALSE(f.CanClose());
    RunTo(m_nT0 + 1499);
    EXPECT_FALSE(f.Panel().bAcquisition);
    EXPECT_FALSE(f.CanClose());
    RunTo(m_nT0 + 1500);
    EXPECT_TRUE(f.Panel().bOpenConfig && f.Panel().bDisconnect && f.Panel().bAcquisition && f.Panel().bDark &&
                f.Panel().bNoClear);
    EXPECT_FALSE(f.Panel().bConnect);
    EXPECT_TRUE(f.CanClose());
    EXPECT_EQ(m_ui.closeEnabled, (std::vector<bool>{false, true}));
}

TEST_F(TriggerTimeline, ExposureControlStatesAndTheirStatusLine) {
    Start();
    Frame().OnAecInfo(Handle(), 2);
    EXPECT_EQ(TimesOf(" Delay time: 1000(ms)"), Times{1000});
    EXPECT_EQ(m_ui.pane(4), Lines{" Delay time: 1000(ms)"});
    // A busy frame keeps the lamps as they are.
    Frame().Sequencer().SetImageBusy(true);
    Frame().OnAecInfo(Handle(), ORVIACQ_AEC_ENABLED);
    Frame().OnAecInfo(Handle(), ORVIACQ_AEC_DISABLED);
    EXPECT_EQ(BoardWrites(), Lines{});
    EXPECT_EQ(m_ui.pane(4), (Lines{" Delay time: 1000(ms)", "Exposure enable [E] Delay time: 1000(ms)",
                                   "Exposure disable [R] Delay time: 1000(ms)"}));
}

TEST_F(TriggerTimeline, ParameterPacketsNeedTheirChecksum) {
    Start();
    std::vector<uint8_t> packet(ORVIACQ_PACKET_SIZE, 0);
    packet[10] = 0x5A;
    packet[131] = 0x5A;  // the right sum
    Frame().OnOpenConfig();
    const int nChanged = m_ui.nConfigChanged;
    Frame().OnComPacket(Handle(), packet.data(), ORVIACQ_PACKET_SIZE - 1);  // 131 bytes: ignored
    EXPECT_EQ(m_ui.nConfigChanged, nChanged);
    Frame().OnComPacket(Handle(), packet.data(), ORVIACQ_PACKET_SIZE);
    EXPECT_EQ(m_ui.nConfigChanged, nChanged + 1);
    packet[131] = 0x5B;
    Frame().OnComPacket(Handle(), packet.data(), ORVIACQ_PACKET_SIZE);
    EXPECT_EQ(m_ui.texts(), Lines{kChecksumError});
    EXPECT_EQ(m_ui.nConfigChanged, nChanged + 1);
}

TEST_F(TriggerTimeline, TheWatchdogEndsTheProgramUnlessAnImageIsOnItsWay) {
    Start();
    CreateEmptyFile(m_strImageDir, "Image coming.txt");
    m_clock.start(TIMER_RUNNING, 10);  // no step starts it; the handler is complete
    Frame().Sequencer().SetImageBusy(true);
    RunTo(m_clock.now() + 10);
    EXPECT_TRUE(Logged("Get data within 'RUNNING TIMER'"));
    EXPECT_EQ(m_ui.exitCodes, std::vector<int>{});
    EXPECT_FALSE(m_clock.is_running(TIMER_RUNNING));

    Frame().Sequencer().SetImageBusy(false);
    m_clock.start(TIMER_RUNNING, 10);
    RunTo(m_clock.now() + 10);
    EXPECT_TRUE(Logged("Never get data within'RUNNING TIMER', Exit program"));
    EXPECT_EQ(m_ui.exitCodes, std::vector<int>{0});
    EXPECT_FALSE(Contains(ImageFiles(), "Image coming.txt"));
    EXPECT_FALSE(Contains(ImageFiles(), "Connection success.txt"));
    EXPECT_EQ(g_byOut1, 0xFF);
}

// ---- Status pane 0: what the station waits for ----------------------------------------

// Pane 0's text at a time after the Acquisition.
class PaneTimeline : public HandSwitchTimeline {
protected:
    std::string Pane0At(uint64_t nRelMs) {
        RunTo(m_nT0 + nRelMs);
        const Lines texts = m_ui.pane(0);
        return texts.empty() ? "<none>" : texts.back();
    }
    // Every text pane 0 showed from nFirst on, in order.
    Lines Pane0From(size_t nFirst) const {
        const Lines all = m_ui.pane(0);
        return Lines(all.begin() + std::min(nFirst, all.size()), all.end());
    }
    static bool IsSavedAt(const std::string& s, const std::string& strFile) {
        // "Saved IMAGE.RAW 14:03:22"
        const std::string strHead = "Saved " + strFile + " ";
        return s.size() == strHead.size() + 8 && s.compare(0, strHead.size(), strHead) == 0 && s[s.size() - 3] == ':' &&
               s[s.size() - 6] == ':';
    }
};

TEST_F(PaneTimeline, ManualModeCountsDownEachSecondToTheReadyLamp) {
    NoImage();
    Start();
    Acquire();
    EXPECT_EQ(Pane0At(0), "X-ray in 12 s");
    EXPECT_EQ(Pane0At(999), "X-ray in 12 s");
    EXPECT_EQ(Pane0At(1000), "X-ray in 11 s");
    EXPECT_EQ(Pane0At(11000), "X-ray in 1 s");
    EXPECT_EQ(Pane0At(12000), kProgressXrayNow);
    EXPECT_FALSE(m_clock.is_running(TIMER_PROGRESS));
    Lines expected;
    for (int n = 12; n >= 1; --n) expected.push_back("X-ray in " + std::to_string(n) + " s");
    expected.push_back(kProgressXrayNow);
    EXPECT_EQ(m_ui.pane(0), expected);
    // The countdown and ready times of the exposure stay as they were.
    EXPECT_EQ(Since("Left 1 second for exposure"), Times{11000});
    EXPECT_EQ(Since("TIMER_EXP_DELAY ON"), Times{12000});
}

TEST_F(PaneTimeline, AnExposureGoesFromCountdownToSavedWithEachDark) {
    SetConfig("EXP_DELAY", "1000");
    SetConfig("REPEAT_GER_DARK", "3");
    Start();  // the generator fires 11500 ms after the arming
    Acquire();
    EXPECT_EQ(Pane0At(0), "X-ray in 11 s");
    RunTo(m_nT0 + 30000);
    const Lines texts = m_ui.pane(0);
    ASSERT_GE(texts.size(), 8u);
    // After the countdown: X-ray, readout, three darks, the correction, the file.
    EXPECT_EQ(Lines(texts.end() - 7, texts.end() - 1), (Lines{kProgressXrayNow, kProgressReading, "Dark 1 of 3",
                                                              "Dark 2 of 3", "Dark 3 of 3", kProgressCorrecting}));
    EXPECT_TRUE(IsSavedAt(texts.back(), "IMAGE.RAW")) << texts.back();
    EXPECT_EQ(m_ui.pane(4).back(), "Done");
    EXPECT_FALSE(Frame().WaitingForXray());
    EXPECT_FALSE(m_clock.is_running(TIMER_PROGRESS));
}

TEST_F(PaneTimeline, ADetectorThatStopsWaitingWithoutAnXrayIsSaidToHaveNoImage) {
    NoImage();
    SetSim("EXPOSURE_WINDOW_MS", "5000");  // enabled at 500, gives up at 5500
    Start();
    Acquire();
    EXPECT_EQ(Pane0At(5499), "X-ray in 7 s");
    EXPECT_EQ(Pane0At(5500), kProgressReading);
    EXPECT_EQ(Pane0At(8499), kProgressReading);
    EXPECT_EQ(Pane0At(8500), kProgressNoImage);
    EXPECT_FALSE(Frame().WaitingForXray());
    EXPECT_FALSE(m_clock.is_running(TIMER_PROGRESS));
    // The next Acquisition is a fresh one, not "already waiting".
    Frame().OnAcquisition();
    EXPECT_EQ(m_ui.pane(0).back(), "X-ray in 12 s");
}

TEST_F(PaneTimeline, AcquisitionWhileArmedSaysSoAndArmsAgain) {
    NoImage();
    Start();
    Acquire();
    RunTo(m_nT0 + 3000);
    m_ui.status.clear();
    Frame().OnAcquisition();  // 3 s later
    EXPECT_EQ(m_ui.pane(0), Lines{kProgressAlreadyWaiting});
    // The countdown starts over from the second arming.
    EXPECT_EQ(Pane0At(3999), kProgressAlreadyWaiting);
    EXPECT_EQ(Pane0At(4000), "X-ray in 11 s");
    RunTo(m_nT0 + 16000);
    EXPECT_EQ(Since("Click Acqusition"), (Times{0, 3000}));
    EXPECT_EQ(Since("TIMER_EXP_DELAY ON"), Times{15000});
    EXPECT_EQ(m_ui.pane(0).back(), kProgressXrayNow);
}

TEST_F(PaneTimeline, RepeatSeriesCountsItsArmingsAndTheTimeToTheNext) {
    NoImage();
    SetConfig("EXT_TRIGGER", "7");
    Start();
    Acquire();
    EXPECT_EQ(Pane0At(0), "Series 1 of 5, next in 5 s");
    EXPECT_EQ(Pane0At(1000), "Series 1 of 5, next in 4 s");
    EXPECT_EQ(Pane0At(4000), "Series 1 of 5, next in 1 s");
    EXPECT_EQ(Pane0At(5000), "Series 2 of 5, next in 5 s");
    EXPECT_EQ(Pane0At(6000), "Series 2 of 5, next in 4 s");
    EXPECT_EQ(Pane0At(20000), "Series 5 of 5, ends in 5 s");
    EXPECT_EQ(Pane0At(24000), "Series 5 of 5, ends in 1 s");
    EXPECT_EQ(Pane0At(25000), kProgressSeriesEnded);
    EXPECT_FALSE(m_clock.is_running(TIMER_PROGRESS));
    EXPECT_EQ(Since("Prepare[Trigger 7 mode]  "), (Times{5000, 10000, 15000, 20000}));
    EXPECT_EQ(Since("Trigger 7 mode End"), Times{25000});
    // Each second once: 5 texts a cycle, then the end.
    EXPECT_EQ(m_ui.pane(0).size(), 26u);
}

TEST_F(PaneTimeline, HandSwitchModeAsksForTheSwitchUntilTheImageIsSaved) {
    StartUsb(1);
    Plan(100, 0, HandSwitch::Ready);
    Plan(1500, 0, HandSwitch::Expose, true);
    Plan(1700, 0, HandSwitch::Released);
    Acquire();
    EXPECT_EQ(Pane0At(0), kProgressPressSwitch);
    EXPECT_EQ(Pane0At(599), kProgressPressSwitch);
    EXPECT_EQ(Pane0At(600), kProgressSwitchArmed);
    RunTo(m_nT0 + 6000);
    const Lines texts = m_ui.pane(0);
    ASSERT_FALSE(texts.empty());
    EXPECT_TRUE(IsSavedAt(texts.back(), "IMAGE.RAW")) << texts.back();
    EXPECT_NE(std::find(texts.begin(), texts.end(), "Dark 1 of 1"), texts.end());
    EXPECT_FALSE(m_clock.is_running(TIMER_PROGRESS));
}

TEST_F(PaneTimeline, ReleasingBeforeArmingAsksForTheSwitchAgain) {
    StartUsb(1);
    Plan(100, 0, HandSwitch::Ready);
    Plan(300, 0, HandSwitch::Released);
    Acquire();
    RunTo(m_nT0 + 2000);
    // Asked once: the release does not change what the operator has to do.
    EXPECT_EQ(m_ui.pane(0), Lines{kProgressPressSwitch});
}

}  // namespace
}  // namespace orvi::test
