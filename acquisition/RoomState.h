#pragma once
// What the room panel says in words: the state of the exposure sequence as an
// operator reads it at a glance, from the controller's timers and the outputs
// it drives, and what the simulated generator is about to do.
#include <cstdint>
#include <string>

namespace orvi {

class CMainFrame;

struct CRoomFacts {
    bool bConnected = false;
    int32_t nTriggerMode = 0;
    bool bImageBusy = false;      // a frame arrived, its sequence runs
    bool bCountdown = false;      // the one-second countdown runs
    int32_t nCountdownTicks = 0;  // its 100 ms ticks left
    bool bArmed = false;          // modes 0, 1, 7: armed, the countdown is still to come
    bool bPolling = false;        // mode 6: waiting for the hand switch
    bool bConfirming = false;     // mode 6: first stage seen, half a second to hold it
    bool bWaitEnable = false;     // mode 6: armed by the switch, waiting for the detector
    bool bExposing = false;       // mode 6: the detector is enabled, the switch is read
    bool bExposed = false;        // mode 6: the second stage was seen in this exposure
    int32_t nXrayDueMs = -1;      // the simulated generator fires in this time (-1: not counting)
    uint8_t byOut1 = 0xFF;
    uint8_t byOut2 = 0xFF;
};

// How the words are shown: the colour of the state line.
enum class RoomTone { Idle, Wait, Ready, Xray, Busy };

struct CRoomState {
    std::string strWords;
    RoomTone tone = RoomTone::Idle;
};

// The controller's state as facts, read from its timers and flags.
CRoomFacts RoomFactsOf(CMainFrame& frame);

CRoomState DescribeRoom(const CRoomFacts& facts);

// The simulated generator: nDueMs from AcquisitionSim_GetXrayDue (-1: not
// counting).
std::string DescribeGenerator(bool bConnected, int32_t nDueMs);

}  // namespace orvi
