#pragma once
// A timer service on virtual time for tests and tools: nothing happens until
// advance() is called, which runs every timer expiry and posted task that falls
// due, in time order (equal times in the order they were scheduled), with
// now_ms() set to each event's time while it runs. sleep_ms() moves the time on
// without running anything, as a blocked window thread would; events that fell
// due meanwhile run late, at the time the sleep ended, in due order.
#include "acquisition/TimerQueue.h"
#include "acquisition/TimerService.h"

#include <cstdint>

namespace orvi {

class CVirtualClock final : public ITimerService {
public:
    explicit CVirtualClock(uint64_t nStartMs = 0);

    void set_handler(TimerHandler fnHandler) override;
    void start(uint32_t nId, int32_t nPeriodMs) override;
    void stop(uint32_t nId) override;
    bool is_running(uint32_t nId) const override;
    uint32_t now_ms() const override;
    void sleep_ms(uint32_t nMs) override;
    void post(uint32_t nDelayMs, std::function<void()> fnTask) override;

    // Runs everything due up to now + nMs, then sets the time to now + nMs.
    void advance(uint64_t nMs);
    void advance_to(uint64_t nTimeMs);
    // Runs events until none is due within nLimitMs of now (or none is left).
    // Returns false when the limit was reached with events still pending.
    bool run_until_idle(uint64_t nLimitMs = 600000);
    // Time of the next event, if any.
    bool next_due(uint64_t& nDueMs) const;

    uint64_t now() const { return m_nNow; }
    int32_t period_of(uint32_t nId) const;  // -1 when the timer does not run

private:
    uint64_t m_nNow;
    bool m_bRunning = false;
    CTimerQueue m_queue;
};

}  // namespace orvi
