// Exposure sequences in virtual time: arming, the exposure-control reports,
// the simulated generator, dark frames, queued requests, closing and a lost
// link, and callbacks one at a time.
#include "orviacquire/SimFixture.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <ostream>
#include <utility>

namespace orvi::test {
namespace {

using Events = std::vector<std::string>;
using SequenceTest = SimFixture;

TEST_F(SequenceTest, DefaultExposureFollowsTheProgramsCountdown) {
    ORVIAcqHandle h = Open();
    m_bKeepFrames = true;
    EXPECT_EQ(Acquisition_StartAecReady(h), ORVIACQ_OK);
    EXPECT_TRUE(Take().empty());  // never inside the call
    m_clock.run_until_idle();
    // Enabled after the clear, X-ray half a second after a ready lamp at 12 s,
    // the frame after the readout.
    EXPECT_EQ(Take(), (Events{"500 A aec 1", "12500 A aec 999", "12800 A image"}));
    // An exposure: the open beam below the object is far above the dark level.
    EXPECT_GT(MeanOf(m_lastFrame, 256, 0, 200, 256, 56), 8000.0);
}

struct GeneratorCase {
    const char* szName;
    const char* szAutoFire;  // AUTO_FIRE_MS
    int32_t nExpTime;        // AecExpTime pushed before arming
    Events expected;
};

void PrintTo(const GeneratorCase& c, std::ostream* os) { *os << c.szName; }

class GeneratorTest : public SimFixture, public ::testing::WithParamInterface<GeneratorCase> {};

TEST_P(GeneratorTest, FiresWhenConfigured) {
    const GeneratorCase& c = GetParam();
    SetKey("AUTO_FIRE_MS", c.szAutoFire);
    SetKey("EXPOSURE_WINDOW_MS", "0");
    ORVIAcqHandle h = Open();
    Acquisition_SetDRConfigAecExpTime(h, c.nExpTime);
    Acquisition_DRConfigUpdateAll(h);
    Acquisition_SetComCallback(h, nullptr, nullptr);
    Acquisition_StartAecReady(h);
    m_clock.run_until_idle();
    EXPECT_EQ(Take(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, GeneratorTest,
    ::testing::Values(
        GeneratorCase{"FollowsTheExposureDelay", "-1", 2000, {"500 A aec 1", "10500 A aec 999", "10800 A image"}},
        GeneratorCase{
            "DelayBeyondTheCountdownFiresWhenEnabled", "-1", 20000, {"500 A aec 1", "500 A aec 999", "800 A image"}},
        GeneratorCase{"FixedTime", "3000", 2000, {"500 A aec 1", "3000 A aec 999", "3300 A image"}},
        GeneratorCase{"FixedTimeBeforeTheClearEnds", "100", 0, {"500 A aec 1", "500 A aec 999", "800 A image"}},
        GeneratorCase{"Never", "0", 0, {"500 A aec 1"}}),
    [](const auto& info) { return std::string(info.param.szName); });

TEST_F(SequenceTest, ArmingAgainRestartsTheExposureWindow) {
    SetKey("AUTO_FIRE_MS", "0");
    SetKey("EXPOSURE_WINDOW_MS", "3000");
    ORVIAcqHandle h = Open();
    Acquisition_StartAecReady(h);
    m_clock.advance(2000);
    Acquisition_StartAecReady(h);
    m_clock.run_until_idle();
    // The first window (500 + 3000) never ends: the second one does, without a frame.
    EXPECT_EQ(Take(), (Events{"500 A aec 1", "2500 A aec 1", "5500 A aec 999"}));
    // The detector is idle again: X-ray now is lost.
    EXPECT_EQ(AcquisitionSim_FireXray(h), 0);
}

TEST_F(SequenceTest, ArmingsOfARepeatSeriesKeepTheGeneratorsTime) {
    ORVIAcqHandle h = Open();
    for (int i = 0; i < 3; ++i) {
        Acquisition_StartAecReady(h);
        m_clock.advance(5000);
    }
    m_clock.run_until_idle();
    EXPECT_EQ(Take(), (Events{"500 A aec 1", "5500 A aec 1", "10500 A aec 1", "12500 A aec 999", "12800 A image"}));
}

TEST_F(SequenceTest, XrayByHandIsTakenWhenArmedAndLostOtherwise) {
    SetKey("AUTO_FIRE_MS", "0");
    ORVIAcqHandle h = Open();
    EXPECT_EQ(AcquisitionSim_FireXray(h), 0);  // idle: lost
    Acquisition_StartAecReady(h);
    m_clock.advance(1000);
    EXPECT_EQ(AcquisitionSim_FireXray(h), 1);
    EXPECT_EQ(Take(), (Events{"500 A aec 1"}));  // the report comes later, not inside the call
    m_clock.run_until_idle();
    EXPECT_EQ(Take(), (Events{"1000 A aec 999", "1300 A image"}));
    EXPECT_EQ(AcquisitionSim_FireXray(h), 0);
}

TEST_F(SequenceTest, XrayWhileThePanelClearsIsTakenOnceItIsReady) {
    SetKey("AUTO_FIRE_MS", "0");
    ORVIAcqHandle h = Open();
    Acquisition_StartAecReady(h);
    m_clock.advance(200);
    EXPECT_EQ(AcquisitionSim_FireXray(h), 1);
    m_clock.run_until_idle();
    EXPECT_EQ(Take(), (Events{"500 A aec 1", "500 A aec 999", "800 A image"}));
}

TEST_F(SequenceTest, XrayByHandEndsTheGeneratorsCount) {
    ORVIAcqHandle h = Open();  // the generator would fire at 12500
    Acquisition_StartAecReady(h);
    m_clock.advance(1000);
    AcquisitionSim_FireXray(h);
    m_clock.advance(4000);
    Acquisition_StartAecReady(h);  // a new arming from idle: a new count
    m_clock.run_until_idle();
    EXPECT_EQ(Take(), (Events{"500 A aec 1", "1000 A aec 999", "1300 A image", "5500 A aec 1", "17500 A aec 999",
                              "17800 A image"}));
}

// The room panel's countdown and orvi-station's --fire-after: the generator's
// time set by call, and what is left of it at each moment.
TEST_F(SequenceTest, TheGeneratorsTimeCanBeSetAndRead) {
    ORVIAcqHandle h = Open();
    EXPECT_EQ(AcquisitionSim_GetXrayDue(h), -1);  // not armed
    EXPECT_EQ(AcquisitionSim_SetAutoFire(h, -2), ORVIACQ_ERR_RANGE);
    EXPECT_EQ(AcquisitionSim_SetAutoFire(h, 3600001), ORVIACQ_ERR_RANGE);
    EXPECT_EQ(AcquisitionSim_SetAutoFire(0, 100), ORVIACQ_ERR_HANDLE);
    EXPECT_LT(AcquisitionSim_GetXrayDue(0), -1);

    ASSERT_EQ(AcquisitionSim_SetAutoFire(h, 2000), ORVIACQ_OK);
    Acquisition_StartAecReady(h);
    EXPECT_EQ(AcquisitionSim_GetXrayDue(h), 2000);
    m_clock.advance(1500);
    EXPECT_EQ(AcquisitionSim_GetXrayDue(h), 500);
    Acquisition_StartAecReady(h);  // arming again keeps the generator's time
    EXPECT_EQ(AcquisitionSim_GetXrayDue(h), 500);
    m_clock.run_until_idle();
    EXPECT_EQ(AcquisitionSim_GetXrayDue(h), -1);  // fired
    EXPECT_EQ(Take(), (Events{"500 A aec 1", "2000 A aec 1", "2000 A aec 999", "2300 A image"}));

    // By hand only: nothing counts; a shot by hand ends a count.
    AcquisitionSim_SetAutoFire(h, 0);
    Acquisition_StartAecReady(h);
    EXPECT_EQ(AcquisitionSim_GetXrayDue(h), -1);
    AcquisitionSim_FireXray(h);
    m_clock.run_until_idle();
    AcquisitionSim_SetAutoFire(h, -1);  // back to 12500 - AecExpTime, which is 0 here
    Acquisition_StartAecReady(h);
    EXPECT_EQ(AcquisitionSim_GetXrayDue(h), 12500);
    AcquisitionSim_FireXray(h);
    m_clock.run_until_idle();
    EXPECT_EQ(AcquisitionSim_GetXrayDue(h), -1);
}

TEST_F(SequenceTest, DarkFramesComeAfterTheirDelay) {
    ORVIAcqHandle h = Open();
    m_bKeepFrames = true;
    EXPECT_EQ(Acquisition_StartClearTimeAcquisition(h, 1000), ORVIACQ_OK);
    EXPECT_TRUE(Take().empty());
    m_clock.run_until_idle();
    EXPECT_EQ(Take(), (Events{"1300 A image"}));
    EXPECT_NEAR(MeanOf(m_lastFrame, 256, 0, 0, 256, 256), 1000.0, 60.0);  // no X-ray: the dark level
    EXPECT_EQ(Acquisition_StartAcquisition(h), ORVIACQ_OK);
    m_clock.run_until_idle();
    EXPECT_EQ(Take(), (Events{"1600 A image"}));
    EXPECT_NEAR(MeanOf(m_lastFrame, 256, 0, 0, 256, 256), 1000.0, 60.0);
}

TEST_F(SequenceTest, AFrameRequestEndsAnArmingAndStopsTheGenerator) {
    ORVIAcqHandle h = Open();
    Acquisition_StartAecReady(h);
    m_clock.advance(1000);
    Acquisition_StartClearTimeAcquisition(h, 0);
    m_clock.run_until_idle();
    EXPECT_EQ(Take(), (Events{"500 A aec 1", "1000 A aec 999", "1300 A image"}));
}

TEST_F(SequenceTest, AFrameRequestDuringTheClearEndsTheArmingQuietly) {
    ORVIAcqHandle h = Open();
    Acquisition_StartAecReady(h);
    m_clock.advance(100);
    Acquisition_StartAcquisition(h);
    m_clock.run_until_idle();
    EXPECT_EQ(Take(), (Events{"400 A image"}));
}

TEST_F(SequenceTest, RequestsWhileAFrameIsOnItsWayWaitTheirTurn) {
    SetKey("AUTO_FIRE_MS", "3000");
    ORVIAcqHandle h = Open();
    Acquisition_StartClearTimeAcquisition(h, 1000);
    Acquisition_StartAcquisition(h);
    Acquisition_StartAecReady(h);
    m_clock.run_until_idle();
    EXPECT_EQ(Take(), (Events{"1300 A image", "1600 A image", "2100 A aec 1", "4600 A aec 999", "4900 A image"}));

    Acquisition_StartAcquisition(h);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(Acquisition_StartAcquisition(h), ORVIACQ_OK);
    EXPECT_EQ(Acquisition_StartAcquisition(h), ORVIACQ_ERR_BUSY);
    m_clock.run_until_idle();
    EXPECT_EQ(m_nImages, 3 + 17);
}

TEST_F(SequenceTest, TheImageCallbackMayAskForTheNextFrame) {
    ORVIAcqHandle h = Open();
    int nDarks = 2;  // like a host that takes darks after its exposure
    m_onImage = [&](ORVIAcqHandle hCb, uint16_t*) {
        if (nDarks-- > 0) {
            EXPECT_EQ(Acquisition_StartClearTimeAcquisition(hCb, Acquisition_GetInnerDelayTime(hCb)), 0);
        }
    };
    Acquisition_StartAecReady(h);
    m_clock.run_until_idle();
    EXPECT_EQ(Take(), (Events{"500 A aec 1", "12500 A aec 999", "12800 A image", "14100 A image", "15400 A image"}));
}

TEST_F(SequenceTest, TwoDetectorsRunSideBySide) {
    ORVIAcqHandle hA = Open(0, kPortA, kAdapterA);
    ORVIAcqHandle hB = Open(1, kPortB, kAdapterB);
    Acquisition_StartAecReady(hA);
    Acquisition_StartClearTimeAcquisition(hB, 200);
    Acquisition_ReadDRConfig(hB);
    m_clock.run_until_idle();
    EXPECT_EQ(Take(), (Events{"50 B com 132", "500 A aec 1", "500 B image", "12500 A aec 999", "12800 A image"}));
}

TEST_F(SequenceTest, NothingOfAClosedDetectorRunsAfterClose) {
    ORVIAcqHandle h = Open();
    Acquisition_StartAecReady(h);
    Acquisition_ReadDRConfig(h);
    Acquisition_DRConfigUpdateAll(h);
    m_clock.advance(10);
    Close(h);
    m_clock.run_until_idle();
    EXPECT_TRUE(Take().empty());
}

TEST_F(SequenceTest, ACallbackMayCloseItsOwnDetector) {
    ORVIAcqHandle h = Open();
    m_onImage = [&](ORVIAcqHandle hCb, uint16_t*) {
        EXPECT_EQ(Acquisition_Close(hCb), ORVIACQ_OK);
        m_labels.erase(hCb);
    };
    Acquisition_StartAcquisition(h);
    Acquisition_StartAecReady(h);  // waits for the frame, then dies with the detector
    Acquisition_ReadDRConfig(h);
    m_clock.run_until_idle();
    EXPECT_EQ(Take(), (Events{"50 A com 132", "300 A image"}));
}

TEST_F(SequenceTest, ALostLinkLosesPendingWorkAndRefusesRequests) {
    ORVIAcqHandle h = Open();
    Acquisition_StartAecReady(h);
    m_clock.advance(1000);
    ASSERT_EQ(AcquisitionSim_DropLink(h), ORVIACQ_OK);
    EXPECT_EQ(Acquisition_StartAecReady(h), ORVIACQ_ERR_LINK);
    EXPECT_EQ(Acquisition_StartAcquisition(h), ORVIACQ_ERR_LINK);
    EXPECT_EQ(Acquisition_StartClearTimeAcquisition(h, 0), ORVIACQ_ERR_LINK);
    EXPECT_EQ(AcquisitionSim_FireXray(h), ORVIACQ_ERR_LINK);
    m_clock.run_until_idle();
    EXPECT_EQ(Take(), (Events{"500 A aec 1"}));
    Close(h);
    ORVIAcqHandle h2 = Open();  // a new open brings the detector back
    EXPECT_EQ(Acquisition_StartAcquisition(h2), ORVIACQ_OK);
    m_clock.run_until_idle();
    EXPECT_EQ(Take().size(), 1u);
}

// A host whose tasks run when it says so, and that may run them from inside a
// callback, as a modal message box's event loop does.
class ManualHost {
public:
    ORVIAcqDispatcher Dispatcher() {
        ORVIAcqDispatcher d{};
        d.pContext = this;
        d.now_ms = [](void* p) { return static_cast<ManualHost*>(p)->m_nNow; };
        d.post = [](void* p, uint32_t nDelay, ORVIAcqTask fn, void* pArg) {
            auto* self = static_cast<ManualHost*>(p);
            self->m_tasks.push_back({self->m_nNow + nDelay, fn, pArg});
        };
        return d;
    }
    // Moves the clock on and runs the tasks that are due, in the order posted.
    void Run(uint32_t nMs) {
        m_nNow += nMs;
        for (;;) {
            auto it = std::find_if(m_tasks.begin(), m_tasks.end(), [&](const Task& t) { return t.nDue <= m_nNow; });
            if (it == m_tasks.end()) return;
            const Task t = *it;
            m_tasks.erase(it);
            t.fn(t.pArg);
        }
    }
    // Runs every task posted so far at once, newest first, whatever its delay.
    void RunAllBackwards() {
        std::deque<Task> tasks;
        tasks.swap(m_tasks);
        for (auto it = tasks.rbegin(); it != tasks.rend(); ++it) it->fn(it->pArg);
    }
    size_t Queued() const { return m_tasks.size(); }

private:
    struct Task {
        uint32_t nDue;
        ORVIAcqTask fn;
        void* pArg;
    };
    uint32_t m_nNow = 0;
    std::deque<Task> m_tasks;
};

TEST(CallbackOrderTest, NoCallbackArrivesWhileAnotherRuns) {
    test::TempDir dir;
    ManualHost host;
    const ORVIAcqDispatcher d = host.Dispatcher();
    ASSERT_EQ(AcquisitionExt_SetDispatcher(&d), ORVIACQ_OK);
    ORVIAcqOpenRecord r{};
    ORVIAcqHandle hA = 0, hB = 0;
    WriteFile(dir.file("ORVI2.ini"), "[SIMULATOR]\nFRAME_WIDTH=64\nFRAME_HEIGHT=64\nREADOUT_MS=0\n");
    std::strncpy(r.szIniPath, dir.file("ORVI2.ini").c_str(), sizeof r.szIniPath - 1);
    ASSERT_EQ(Acquisition_Initialize(r, kPortA, kAdapterA, &hA), 0);
    r.nDetectorIndex = 1;
    ASSERT_EQ(Acquisition_Initialize(r, kPortB, kAdapterB, &hB), 0);

    struct State {
        ManualHost* pHost;
        int nDepth = 0, nMaxDepth = 0;
        std::vector<ORVIAcqHandle> order;
    } s{&host, 0, 0, {}};
    auto onImage = [](ORVIAcqHandle h, uint16_t*, void* p) {
        auto* st = static_cast<State*>(p);
        st->order.push_back(h);
        st->nMaxDepth = std::max(st->nMaxDepth, ++st->nDepth);
        if (st->order.size() == 1) st->pHost->Run(100);  // a modal loop inside the first callback
        --st->nDepth;
    };
    Acquisition_GigeAdapterObjectSetImageCallback(hA, onImage, &s);
    Acquisition_GigeAdapterObjectSetImageCallback(hB, onImage, &s);
    Acquisition_StartAcquisition(hA);
    Acquisition_StartAcquisition(hB);
    host.Run(0);  // A's frame; inside its callback B's wake-up is put off
    EXPECT_EQ(s.order, (std::vector<ORVIAcqHandle>{hA}));
    EXPECT_GT(host.Queued(), 0u);
    host.Run(10);
    EXPECT_EQ(s.order, (std::vector<ORVIAcqHandle>{hA, hB}));
    EXPECT_EQ(s.nMaxDepth, 1);
    Acquisition_Close(hA);
    Acquisition_Close(hB);
    EXPECT_EQ(AcquisitionExt_SetDispatcher(nullptr), ORVIACQ_OK);
}

TEST(CallbackOrderTest, WakeUpsMayComeEarlyAndInAnyOrder) {
    test::TempDir dir;
    ManualHost host;
    const ORVIAcqDispatcher d = host.Dispatcher();
    ASSERT_EQ(AcquisitionExt_SetDispatcher(&d), ORVIACQ_OK);
    WriteFile(dir.file("ORVI2.ini"), "[SIMULATOR]\nFRAME_WIDTH=64\nFRAME_HEIGHT=64\n");
    ORVIAcqOpenRecord r{};
    std::strncpy(r.szIniPath, dir.file("ORVI2.ini").c_str(), sizeof r.szIniPath - 1);
    ORVIAcqHandle h = 0;
    ASSERT_EQ(Acquisition_Initialize(r, kPortA, kAdapterA, &h), 0);
    std::vector<std::string> seen;
    Acquisition_SetComCallback(
        h,
        [](ORVIAcqHandle, int32_t, const uint8_t*, int32_t n, void* p) {
            static_cast<std::vector<std::string>*>(p)->push_back("com " + std::to_string(n));
        },
        &seen);
    Acquisition_GigeAdapterObjectSetImageCallback(
        h, [](ORVIAcqHandle, uint16_t*, void* p) { static_cast<std::vector<std::string>*>(p)->push_back("image"); },
        &seen);
    Acquisition_StartClearTimeAcquisition(h, 1000);  // due at 1300
    Acquisition_DRConfigUpdateAll(h);                // acknowledged at 50
    Acquisition_ReadDRConfig(h);                     // answered at 50, after the acknowledgement
    host.RunAllBackwards();                          // the frame's wake-up first, and far too early
    EXPECT_EQ(seen, (std::vector<std::string>{"com 8", "com 132", "image"}));
    Acquisition_Close(h);
    EXPECT_EQ(AcquisitionExt_SetDispatcher(nullptr), ORVIACQ_OK);
}

TEST_F(SequenceTest, TheHostsClockMayWrapAround) {
    ASSERT_EQ(UninstallLibraryDispatch(), ORVIACQ_OK);
    const uint64_t nStart = 0xFFFFFFFFull - 100;  // the 32-bit tick count wraps 101 ms from now
    CVirtualClock clock(nStart);
    ASSERT_EQ(InstallLibraryDispatch(clock), ORVIACQ_OK);
    ORVIAcqHandle hA = 0, hB = 0;
    ASSERT_EQ(Acquisition_Initialize(Record(0), kPortA, kAdapterA, &hA), ORVIACQ_OK);
    ASSERT_EQ(Acquisition_Initialize(Record(1), kPortB, kAdapterB, &hB), ORVIACQ_OK);
    struct Seen {
        CVirtualClock* pClock;
        std::vector<std::pair<ORVIAcqHandle, uint64_t>> frames;
    } seen{&clock, {}};
    auto onImage = [](ORVIAcqHandle h, uint16_t*, void* p) {
        auto* s = static_cast<Seen*>(p);
        s->frames.emplace_back(h, s->pClock->now() - 0xFFFFFFFFull + 100);
    };
    Acquisition_GigeAdapterObjectSetImageCallback(hA, onImage, &seen);
    Acquisition_GigeAdapterObjectSetImageCallback(hB, onImage, &seen);
    Acquisition_StartClearTimeAcquisition(hA, 1000);  // asked before the wrap, due after it
    clock.advance(200);
    Acquisition_StartClearTimeAcquisition(hB, 2000);  // asked after the wrap, due later still
    clock.run_until_idle();
    EXPECT_EQ(seen.frames, (std::vector<std::pair<ORVIAcqHandle, uint64_t>>{{hA, 1300}, {hB, 2500}}));
    Acquisition_Close(hA);
    Acquisition_Close(hB);
    ASSERT_EQ(UninstallLibraryDispatch(), ORVIACQ_OK);
    ASSERT_EQ(InstallLibraryDispatch(m_clock), ORVIACQ_OK);
}

}  // namespace
}  // namespace orvi::test
