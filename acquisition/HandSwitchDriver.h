#pragma once
// An operator at the simulated hand switch, for scripts and tests: at the
// start of each exposure it presses the switch of a simulated board through to
// the second stage and lets go as the plan says.
//   tap      lets go as soon as the station shows it saw the second stage (the
//            expose output switched on), as an operator who taps the switch
//            through and lets go;
//   hold:MS  lets go MS milliseconds after the press, whatever happened (below
//            half a second the station does not arm);
//   none     never presses.
// It watches the outputs as a lamp observer and waits on the timer service, so
// it runs alike in real and in virtual time.
#include "acquisition/BoardProtocol.h"
#include "acquisition/BoardSimControls.h"
#include "acquisition/TimerService.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace orvi {

struct CHandSwitchPlan {
    enum class Kind { None, Tap, Hold };
    Kind kind = Kind::None;
    uint32_t nHoldMs = 0;  // Hold only
    int32_t nBoard = 0;    // the simulated board whose switch is pressed
};

// "tap", "hold:MS" (MS 0 to 3600000) or "none"; false with a message for
// anything else.
bool ParseHandSwitchPlan(const std::string& strText, CHandSwitchPlan& plan, std::string& strError);

class CHandSwitchDriver final : private ILampObserver {
public:
    CHandSwitchDriver(CBoardProtocol& board, ITimerService& timers, CBoardSimControls sim, CHandSwitchPlan plan);
    ~CHandSwitchDriver() override;
    CHandSwitchDriver(const CHandSwitchDriver&) = delete;
    CHandSwitchDriver& operator=(const CHandSwitchDriver&) = delete;

    // The exposure starts: press (unless the plan is none). False when the
    // board library has no such simulated board.
    bool Press();
    // Lets go now (the end of a run).
    void Release();
    bool Pressed() const { return m_bPressed; }
    // Presses so far.
    int32_t Presses() const { return m_nPresses; }
    // Called after every press (true) and release (false).
    void SetOnChange(std::function<void(bool bPressed)> fn) { m_fnChanged = std::move(fn); }

private:
    void OnOutputs(uint8_t byOut1, uint8_t byOut2, int32_t nBoardCount) override;
    void OnBoardWrite(int32_t, uint8_t, uint8_t, bool) override {}

    CBoardProtocol& m_board;
    ITimerService& m_timers;
    CBoardSimControls m_sim;
    CHandSwitchPlan m_plan;
    bool m_bPressed = false;
    int32_t m_nPresses = 0;
    std::function<void(bool)> m_fnChanged;
    // Timer tasks may outlive the driver; they hold this and check it.
    std::shared_ptr<CHandSwitchDriver*> m_pSelf;
};

}  // namespace orvi
