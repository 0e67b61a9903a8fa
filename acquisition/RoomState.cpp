#include "acquisition/RoomState.h"

#include "acquisition/MainFrame.h"

#include <cstdio>

namespace orvi {

namespace {

std::string Seconds(int32_t nMs) {
    char sz[32];
    std::snprintf(sz, sizeof sz, "%d.%d s", nMs / 1000, (nMs % 1000) / 100);
    return sz;
}

}  // namespace

CRoomFacts RoomFactsOf(CMainFrame& frame) {
    const ITimerService& t = frame.Timers();
    CRoomFacts facts;
    facts.bConnected = frame.Detector() != 0;
    facts.nTriggerMode = frame.TriggerMode();
    facts.bImageBusy = frame.Sequencer().ImageBusy();
    facts.bCountdown = t.is_running(TIMER_COUNTDOWN);
    facts.nCountdownTicks = frame.Sequencer().Countdown();
    facts.bArmed = t.is_running(TIMER_PRE_EXPOSURE) || t.is_running(TIMER_EXP_DELAY);
    facts.bPolling = t.is_running(TIMER_MANUAL_READ);
    facts.bConfirming = t.is_running(TIMER_MANUAL_READ_2);
    facts.bWaitEnable = t.is_running(TIMER_READY_TIMEOUT);
    facts.bExposing = t.is_running(TIMER_MANUAL_EXP);
    facts.bExposed = frame.Sequencer().Exposed();
    facts.byOut1 = g_byOut1;
    facts.byOut2 = g_byOut2;
    return facts;
}

CRoomState DescribeRoom(const CRoomFacts& f) {
    const bool bReadyLamp = (f.byOut1 & kOut1ReadyLamp) == 0;
    const bool bEnableLamp = (f.byOut1 & kOut1EnableLamp) == 0;
    const bool bExposeOutput = (f.byOut2 & kOut2ExposeOutput) == 0;
    if (!f.bConnected) return {"Not connected", RoomTone::Idle};
    if (f.bImageBusy) return {"Image arrived: processing", RoomTone::Busy};
    if (f.bCountdown)
        return {"Countdown: " + Seconds(f.nCountdownTicks > 0 ? f.nCountdownTicks * kCountdownTickMs : 0),
                RoomTone::Wait};
    if (f.nTriggerMode == kTriggerUsb) {
        if (f.bExposing)
            return bExposeOutput ? CRoomState{"Second stage: EXPOSE", RoomTone::Xray}
                                 : CRoomState{"Detector ready: press through", RoomTone::Ready};
        if (f.bWaitEnable) return {"Arming the detector: keep holding", RoomTone::Wait};
        if (f.bConfirming) return {"First stage: keep holding", RoomTone::Wait};
        if (f.bPolling) return {"Waiting for the hand switch", RoomTone::Idle};
        if (f.bExposed && f.nXrayDueMs >= 0) return {"Switch released: waiting for the X-ray", RoomTone::Wait};
        return {"Idle: Acquisition, then the hand switch", RoomTone::Idle};
    }
    if (bReadyLamp) return {"READY for X-ray", RoomTone::Ready};
    if (bEnableLamp) return {"Detector enabled", RoomTone::Wait};
    if (f.bArmed) return {"Armed: countdown to come", RoomTone::Wait};
    if (f.nXrayDueMs >= 0) return {"Waiting for the X-ray", RoomTone::Wait};
    return {"Idle: press Acquisition", RoomTone::Idle};
}

std::string DescribeGenerator(bool bConnected, int32_t nDueMs) {
    if (!bConnected) return "Generator: no detector";
    if (nDueMs < 0) return "Generator: idle";
    return "Generator: X-ray in " + Seconds(nDueMs);
}

}  // namespace orvi
