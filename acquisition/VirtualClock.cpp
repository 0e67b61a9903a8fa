#include "acquisition/VirtualClock.h"

#include <algorithm>
#include <stdexcept>

namespace orvi {

CVirtualClock::CVirtualClock(uint64_t nStartMs) : m_nNow(nStartMs) {}

void CVirtualClock::set_handler(TimerHandler fnHandler) { m_queue.SetHandler(std::move(fnHandler)); }

void CVirtualClock::start(uint32_t nId, int32_t nPeriodMs) { m_queue.Start(nId, nPeriodMs, m_nNow); }

void CVirtualClock::stop(uint32_t nId) { m_queue.Stop(nId); }

bool CVirtualClock::is_running(uint32_t nId) const { return m_queue.IsRunning(nId); }

int32_t CVirtualClock::period_of(uint32_t nId) const { return m_queue.PeriodOf(nId); }

uint32_t CVirtualClock::now_ms() const { return static_cast<uint32_t>(m_nNow); }

void CVirtualClock::sleep_ms(uint32_t nMs) { m_nNow += nMs; }

void CVirtualClock::post(uint32_t nDelayMs, std::function<void()> fnTask) {
    m_queue.Post(m_nNow + nDelayMs, std::move(fnTask));
}

bool CVirtualClock::next_due(uint64_t& nDueMs) const { return m_queue.NextDue(nDueMs); }

void CVirtualClock::advance_to(uint64_t nTimeMs) {
    if (m_bRunning) throw std::logic_error("CVirtualClock::advance called from an event handler");
    m_bRunning = true;
    while (m_queue.RunNext(nTimeMs, m_nNow)) {}
    m_bRunning = false;
    m_nNow = std::max(m_nNow, nTimeMs);
}

void CVirtualClock::advance(uint64_t nMs) { advance_to(m_nNow + nMs); }

bool CVirtualClock::run_until_idle(uint64_t nLimitMs) {
    uint64_t nEnd = m_nNow + nLimitMs;
    uint64_t nDue;
    while (next_due(nDue) && nDue <= nEnd) advance_to(std::max(nDue, m_nNow));
    return !next_due(nDue);
}

}  // namespace orvi
