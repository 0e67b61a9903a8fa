#pragma once
// Work that finished on another thread comes back to the window thread
// through a main-thread executor: Post() may be called from any thread, and
// the task runs later on the owner's thread, in the order posted. (The timer
// service's post() belongs to the owner's thread alone.)
//
// CQueuedExecutor keeps the tasks until the owner runs them: tests on the
// virtual clock call RunPending() where the window would have handled its
// events, the headless station waits in WaitAndRun(). The Qt program's
// executor hands them to the GUI event loop.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>

namespace orvi {

class IMainThreadExecutor {
public:
    virtual ~IMainThreadExecutor() = default;
    // Thread-safe.
    virtual void Post(std::function<void()> fnTask) = 0;
};

class CQueuedExecutor final : public IMainThreadExecutor {
public:
    void Post(std::function<void()> fnTask) override;

    // Runs every task posted so far (and those they post), on the caller's
    // thread; returns how many ran.
    size_t RunPending();
    // Waits up to nTimeoutMs for a task, then runs what is pending; returns how many ran.
    size_t WaitAndRun(uint32_t nTimeoutMs);
    size_t Pending() const;

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    std::deque<std::function<void()>> m_tasks;
};

}  // namespace orvi
