#include "acquisition/EventLoopTimerService.h"

#include <algorithm>
#include <thread>

namespace orvi {

CEventLoopTimerService::CEventLoopTimerService() : m_start(Clock::now()) {}

uint64_t CEventLoopTimerService::Now() const {
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - m_start).count());
}

void CEventLoopTimerService::set_handler(TimerHandler fnHandler) { m_fnHandler = std::move(fnHandler); }

void CEventLoopTimerService::start(uint32_t nId, int32_t nPeriodMs) {
    m_timers[nId] = Timer{Now() + static_cast<uint64_t>(std::max<int32_t>(nPeriodMs, 0)), m_nSeq++, nPeriodMs};
}

void CEventLoopTimerService::stop(uint32_t nId) { m_timers.erase(nId); }

bool CEventLoopTimerService::is_running(uint32_t nId) const { return m_timers.count(nId) != 0; }

uint32_t CEventLoopTimerService::now_ms() const { return static_cast<uint32_t>(Now()); }

void CEventLoopTimerService::sleep_ms(uint32_t nMs) { std::this_thread::sleep_for(std::chrono::milliseconds(nMs)); }

void CEventLoopTimerService::post(uint32_t nDelayMs, std::function<void()> fnTask) {
    m_tasks.push_back(Task{Now() + nDelayMs, m_nSeq++, std::move(fnTask)});
}

bool CEventLoopTimerService::NextDue(uint64_t& nDue) const {
    bool bAny = false;
    for (const auto& [id, t] : m_timers)
        if (!bAny || t.nDue < nDue) nDue = t.nDue, bAny = true;
    for (const Task& t : m_tasks)
        if (!bAny || t.nDue < nDue) nDue = t.nDue, bAny = true;
    return bAny;
}

bool CEventLoopTimerService::RunDue() {
    const uint64_t nNow = Now();
    // The earliest due event; equal times in the order they were scheduled.
    bool bFound = false, bIsTimer = false;
    uint32_t nTimerId = 0;
    size_t nTask = 0;
    uint64_t nDue = 0, nSeq = 0;
    for (const auto& [id, t] : m_timers)
        if (t.nDue <= nNow && (!bFound || t.nDue < nDue || (t.nDue == nDue && t.nSeq < nSeq))) {
            bFound = bIsTimer = true;
            nTimerId = id, nDue = t.nDue, nSeq = t.nSeq;
        }
    for (size_t i = 0; i < m_tasks.size(); ++i) {
        const Task& t = m_tasks[i];
        if (t.nDue <= nNow && (!bFound || t.nDue < nDue || (t.nDue == nDue && t.nSeq < nSeq))) {
            bFound = true, bIsTimer = false;
            nTask = i, nDue = t.nDue, nSeq = t.nSeq;
        }
    }
    if (!bFound) return false;
    if (bIsTimer) {
        Timer& t = m_timers[nTimerId];
        t.nDue = nNow + static_cast<uint64_t>(std::max(t.nPeriod, kMinTimerPeriodMs));
        t.nSeq = m_nSeq++;
        if (m_fnHandler) m_fnHandler(nTimerId);
    } else {
        std::function<void()> fn = std::move(m_tasks[nTask].fn);
        m_tasks.erase(m_tasks.begin() + static_cast<std::ptrdiff_t>(nTask));
        if (fn) fn();
    }
    return true;
}

bool CEventLoopTimerService::run_until(const std::function<bool()>& fnDone, uint64_t nTimeoutMs) {
    const uint64_t nEnd = Now() + nTimeoutMs;
    for (;;) {
        if (fnDone && fnDone()) return true;
        if (RunDue()) continue;
        const uint64_t nNow = Now();
        if (nNow >= nEnd) return fnDone && fnDone();
        uint64_t nDue = nEnd;
        if (!NextDue(nDue) || nDue > nEnd) nDue = nEnd;
        if (nDue > nNow) std::this_thread::sleep_for(std::chrono::milliseconds(nDue - nNow));
    }
}

void CEventLoopTimerService::run_for(uint64_t nMs) { run_until(nullptr, nMs); }

}  // namespace orvi
