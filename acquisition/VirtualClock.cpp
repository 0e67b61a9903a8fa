#include "acquisition/VirtualClock.h"

#include <algorithm>
#include <stdexcept>

namespace orvi {

CVirtualClock::CVirtualClock(uint64_t nStartMs) : m_nNow(nStartMs) {}

void CVirtualClock::set_handler(TimerHandler fnHandler) { m_fnHandler = std::move(fnHandler); }

void CVirtualClock::start(uint32_t nId, int32_t nPeriodMs) {
    // A non-positive period is due at once; see TimerService.h.
    uint64_t nDue = m_nNow + static_cast<uint64_t>(std::max<int32_t>(nPeriodMs, 0));
    m_timers[nId] = Timer{nDue, m_nSeq++, nPeriodMs};
}

void CVirtualClock::stop(uint32_t nId) { m_timers.erase(nId); }

bool CVirtualClock::is_running(uint32_t nId) const { return m_timers.count(nId) != 0; }

int32_t CVirtualClock::period_of(uint32_t nId) const {
    auto it = m_timers.find(nId);
    return it == m_timers.end() ? -1 : it->second.nPeriod;
}

uint32_t CVirtualClock::now_ms() const { return static_cast<uint32_t>(m_nNow); }

void CVirtualClock::sleep_ms(uint32_t nMs) { m_nNow += nMs; }

void CVirtualClock::post(uint32_t nDelayMs, std::function<void()> fnTask) {
    m_tasks.push_back(Task{m_nNow + nDelayMs, m_nSeq++, std::move(fnTask)});
}

bool CVirtualClock::next_due(uint64_t& nDueMs) const {
    bool bAny = false;
    uint64_t nBest = 0;
    for (const auto& [id, t] : m_timers)
        if (!bAny || t.nDue < nBest) nBest = t.nDue, bAny = true;
    for (const auto& t : m_tasks)
        if (!bAny || t.nDue < nBest) nBest = t.nDue, bAny = true;
    nDueMs = nBest;
    return bAny;
}

// Runs the earliest event due at or before nLimit; false when there is none.
bool CVirtualClock::RunNext(uint64_t nLimit) {
    const Timer* pBestTimer = nullptr;
    uint32_t nBestId = 0;
    size_t nBestTask = m_tasks.size();
    uint64_t nDue = 0, nSeq = 0;
    auto better = [&](uint64_t d, uint64_t s) {
        return (pBestTimer == nullptr && nBestTask == m_tasks.size()) || d < nDue ||
               (d == nDue && s < nSeq);
    };
    for (const auto& [id, t] : m_timers)
        if (t.nDue <= nLimit && better(t.nDue, t.nSeq)) {
            pBestTimer = &t, nBestId = id, nBestTask = m_tasks.size();
            nDue = t.nDue, nSeq = t.nSeq;
        }
    for (size_t i = 0; i < m_tasks.size(); ++i)
        if (m_tasks[i].nDue <= nLimit && better(m_tasks[i].nDue, m_tasks[i].nSeq)) {
            pBestTimer = nullptr, nBestTask = i;
            nDue = m_tasks[i].nDue, nSeq = m_tasks[i].nSeq;
        }
    if (pBestTimer == nullptr && nBestTask == m_tasks.size()) return false;

    m_nNow = std::max(m_nNow, nDue);
    if (pBestTimer != nullptr) {
        Timer& t = m_timers[nBestId];
        // The next expiry is scheduled before the handler runs, so a handler that
        // stops or restarts its own timer has the last word.
        t.nDue = m_nNow + static_cast<uint64_t>(std::max(t.nPeriod, kMinTimerPeriodMs));
        t.nSeq = m_nSeq++;
        if (m_fnHandler) m_fnHandler(nBestId);
    } else {
        std::function<void()> fn = std::move(m_tasks[nBestTask].fn);
        m_tasks.erase(m_tasks.begin() + static_cast<std::ptrdiff_t>(nBestTask));
        if (fn) fn();
    }
    return true;
}

void CVirtualClock::advance_to(uint64_t nTimeMs) {
    if (m_bRunning) throw std::logic_error("CVirtualClock::advance called from an event handler");
    m_bRunning = true;
    while (RunNext(nTimeMs)) {
    }
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
