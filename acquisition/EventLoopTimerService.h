#pragma once
// A timer service on real time for programs without a GUI event loop (the
// headless station): one thread runs every timer expiry and posted task in
// time order, sleeping in between, while the caller runs the loop with
// run_until() or run_for(). Timer rules are those of ITimerService: a restart
// replaces, a non-positive period is due at once and then repeats at 1 ms.
#include "acquisition/TimerQueue.h"
#include "acquisition/TimerService.h"

#include <chrono>
#include <cstdint>
#include <functional>

namespace orvi {

class CEventLoopTimerService final : public ITimerService {
public:
    CEventLoopTimerService();

    void set_handler(TimerHandler fnHandler) override;
    void start(uint32_t nId, int32_t nPeriodMs) override;
    void stop(uint32_t nId) override;
    bool is_running(uint32_t nId) const override;
    uint32_t now_ms() const override;
    void sleep_ms(uint32_t nMs) override;
    void post(uint32_t nDelayMs, std::function<void()> fnTask) override;

    // Runs events as they fall due until fnDone() returns true (checked before
    // waiting and after every event) or nTimeoutMs have passed. Returns fnDone().
    bool run_until(const std::function<bool()>& fnDone, uint64_t nTimeoutMs);
    // Runs events as they fall due for nMs.
    void run_for(uint64_t nMs);
    // True when no timer runs and no task waits: nothing will happen any more.
    bool idle() const;

private:
    using Clock = std::chrono::steady_clock;
    uint64_t Now() const;

    Clock::time_point m_start;
    CTimerQueue m_queue;
};

}  // namespace orvi
