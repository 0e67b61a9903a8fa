#pragma once
// The window timers of the main frame and the clock of the program.
//
// Timers carry fixed ids. start() (re)starts a repeating timer: a restart
// replaces the running one, so its next expiry is a full period from now.
// stop() of a timer that does not run is harmless. Every expiry calls the
// handler with the id on the owner's thread; a timer keeps firing until it is
// stopped. A period of zero or less is due at once and then repeats at the
// smallest period of 1 ms, so a handler that stops its own timer sees exactly
// one expiry.
//
// post() runs a one-shot task on the same thread after a delay; the detector
// library does its timed work and delivers its callbacks through it.
#include <cstdint>
#include <functional>

namespace orvi {

class ITimerService {
public:
    using TimerHandler = std::function<void(uint32_t nId)>;

    virtual ~ITimerService() = default;

    virtual void set_handler(TimerHandler fnHandler) = 0;
    virtual void start(uint32_t nId, int32_t nPeriodMs) = 0;
    virtual void stop(uint32_t nId) = 0;
    virtual bool is_running(uint32_t nId) const = 0;

    // Milliseconds of a steady clock, wrapping at 32 bits like a tick count.
    virtual uint32_t now_ms() const = 0;
    // Blocks the owner's thread; nothing else runs meanwhile.
    virtual void sleep_ms(uint32_t nMs) = 0;

    virtual void post(uint32_t nDelayMs, std::function<void()> fnTask) = 0;
};

// The smallest period a repeating timer runs at.
inline constexpr int32_t kMinTimerPeriodMs = 1;

}  // namespace orvi
