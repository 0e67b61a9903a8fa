#pragma once
// The schedule behind a timer service: repeating timers with fixed ids and
// one-shot tasks, run in due order (equal times in the order they were
// scheduled). The virtual clock and the real-time event loop differ only in
// where their time comes from; both keep their events here.
#include "acquisition/TimerService.h"

#include <cstdint>
#include <functional>
#include <map>
#include <vector>

namespace orvi {

class CTimerQueue {
public:
    void SetHandler(ITimerService::TimerHandler fnHandler) { m_fnHandler = std::move(fnHandler); }

    // (Re)starts a timer due nPeriodMs after nNow; a non-positive period is due at once.
    void Start(uint32_t nId, int32_t nPeriodMs, uint64_t nNow);
    void Stop(uint32_t nId) { m_timers.erase(nId); }
    bool IsRunning(uint32_t nId) const { return m_timers.count(nId) != 0; }
    int32_t PeriodOf(uint32_t nId) const;  // -1 when the timer does not run

    void Post(uint64_t nDue, std::function<void()> fnTask);

    // Time of the earliest event, if any.
    bool NextDue(uint64_t& nDue) const;

    // Runs the earliest event due at or before nLimit; false when there is none.
    // rNow is raised to the event's due time before it runs (it is the owner's
    // clock, which the event may read); a timer's next expiry is scheduled from
    // it before the handler runs, so a handler that stops or restarts its own
    // timer has the last word.
    bool RunNext(uint64_t nLimit, uint64_t& rNow);

private:
    struct Timer {
        uint64_t nDue;
        uint64_t nSeq;
        int32_t nPeriod;
    };
    struct Task {
        uint64_t nDue;
        uint64_t nSeq;
        std::function<void()> fn;
    };

    uint64_t m_nSeq = 0;
    ITimerService::TimerHandler m_fnHandler;
    std::map<uint32_t, Timer> m_timers;
    std::vector<Task> m_tasks;
};

}  // namespace orvi
