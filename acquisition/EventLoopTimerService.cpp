#include "acquisition/EventLoopTimerService.h"

#include <thread>

namespace orvi {

CEventLoopTimerService::CEventLoopTimerService() : m_start(Clock::now()) {}

uint64_t CEventLoopTimerService::Now() const {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - m_start).count());
}

void CEventLoopTimerService::set_handler(TimerHandler fnHandler) { m_queue.SetHandler(std::move(fnHandler)); }

void CEventLoopTimerService::start(uint32_t nId, int32_t nPeriodMs) { m_queue.Start(nId, nPeriodMs, Now()); }

void CEventLoopTimerService::stop(uint32_t nId) { m_queue.Stop(nId); }

bool CEventLoopTimerService::is_running(uint32_t nId) const { return m_queue.IsRunning(nId); }

uint32_t CEventLoopTimerService::now_ms() const { return static_cast<uint32_t>(Now()); }

void CEventLoopTimerService::sleep_ms(uint32_t nMs) { std::this_thread::sleep_for(std::chrono::milliseconds(nMs)); }

void CEventLoopTimerService::post(uint32_t nDelayMs, std::function<void()> fnTask) {
    m_queue.Post(Now() + nDelayMs, std::move(fnTask));
}

bool CEventLoopTimerService::run_until(const std::function<bool()>& fnDone, uint64_t nTimeoutMs) {
    const uint64_t nEnd = Now() + nTimeoutMs;
    for (;;) {
        if (fnDone && fnDone()) return true;
        uint64_t nNow = Now();
        if (m_queue.RunNext(nNow, nNow)) continue;
        if (nNow >= nEnd) return fnDone && fnDone();
        uint64_t nDue = nEnd;
        if (!m_queue.NextDue(nDue) || nDue > nEnd) nDue = nEnd;
        if (nDue > nNow) std::this_thread::sleep_for(std::chrono::milliseconds(nDue - nNow));
    }
}

void CEventLoopTimerService::run_for(uint64_t nMs) { run_until(nullptr, nMs); }

bool CEventLoopTimerService::idle() const {
    uint64_t nDue = 0;
    return !m_queue.NextDue(nDue);
}

}  // namespace orvi
