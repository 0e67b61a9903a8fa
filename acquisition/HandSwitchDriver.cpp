#include "acquisition/HandSwitchDriver.h"

#include <cerrno>
#include <cstdlib>

namespace orvi {

namespace {

constexpr uint32_t kMaxHoldMs = 3600000;

}  // namespace

bool ParseHandSwitchPlan(const std::string& strText, CHandSwitchPlan& plan, std::string& strError) {
    plan = CHandSwitchPlan{};
    if (strText == "none") return true;
    if (strText == "tap") {
        plan.kind = CHandSwitchPlan::Kind::Tap;
        return true;
    }
    const std::string strHold = "hold:";
    if (strText.rfind(strHold, 0) == 0) {
        const std::string strMs = strText.substr(strHold.size());
        char* pEnd = nullptr;
        errno = 0;
        const long long nMs = std::strtoll(strMs.c_str(), &pEnd, 10);
        const bool bDigits = !strMs.empty() && strMs.find_first_not_of("0123456789") == std::string::npos;
        if (bDigits && errno == 0 && *pEnd == '\0' && nMs >= 0 && nMs <= static_cast<long long>(kMaxHoldMs)) {
            plan.kind = CHandSwitchPlan::Kind::Hold;
            plan.nHoldMs = static_cast<uint32_t>(nMs);
            return true;
        }
        strError = "hold time \"" + strMs + "\" is not a number of milliseconds from 0 to 3600000";
        return false;
    }
    strError = "\"" + strText + "\" is not a hand-switch plan: tap, hold:MS or none";
    return false;
}

CHandSwitchDriver::CHandSwitchDriver(CBoardProtocol& board, ITimerService& timers, CBoardSimControls sim,
                                     CHandSwitchPlan plan)
    : m_board(board), m_timers(timers), m_sim(sim), m_plan(plan), m_pSelf(std::make_shared<CHandSwitchDriver*>(this)) {
    m_board.AddObserver(this);
}

CHandSwitchDriver::~CHandSwitchDriver() {
    *m_pSelf = nullptr;
    m_board.RemoveObserver(this);
}

bool CHandSwitchDriver::Press() {
    if (m_plan.kind == CHandSwitchPlan::Kind::None) return true;
    if (!m_sim.SetHandSwitch(m_plan.nBoard, HandStage::Expose)) return false;
    m_bPressed = true;
    ++m_nPresses;
    if (m_fnChanged) m_fnChanged(true);
    if (m_plan.kind == CHandSwitchPlan::Kind::Hold) {
        const int32_t nPress = m_nPresses;
        std::weak_ptr<CHandSwitchDriver*> pWeak = m_pSelf;
        m_timers.post(m_plan.nHoldMs, [pWeak, nPress] {
            auto p = pWeak.lock();
            // Only the press this task was started for: a later press has its own.
            if (p && *p && (*p)->m_nPresses == nPress) (*p)->Release();
        });
    }
    return true;
}

void CHandSwitchDriver::Release() {
    if (!m_bPressed) return;
    m_bPressed = false;
    m_sim.SetHandSwitch(m_plan.nBoard, HandStage::Released);
    if (m_fnChanged) m_fnChanged(false);
}

// The station switches the expose output on while it sees the second stage:
// then a tap has done its work. Let go from the timer service, not inside the
// station's own output step.
void CHandSwitchDriver::OnOutputs(uint8_t /*byOut1*/, uint8_t byOut2, int32_t /*nBoardCount*/) {
    if (!m_bPressed || m_plan.kind != CHandSwitchPlan::Kind::Tap || (byOut2 & kOut2ExposeOutput) != 0) return;
    const int32_t nPress = m_nPresses;
    std::weak_ptr<CHandSwitchDriver*> pWeak = m_pSelf;
    m_timers.post(0, [pWeak, nPress] {
        auto p = pWeak.lock();
        if (p && *p && (*p)->m_nPresses == nPress) (*p)->Release();
    });
}

}  // namespace orvi
