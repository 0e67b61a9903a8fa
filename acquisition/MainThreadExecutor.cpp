#include "acquisition/MainThreadExecutor.h"

#include <chrono>

namespace orvi {

void CQueuedExecutor::Post(std::function<void()> fnTask) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_tasks.push_back(std::move(fnTask));
    }
    m_cv.notify_all();
}

size_t CQueuedExecutor::RunPending() {
    size_t nRan = 0;
    for (;;) {
        std::function<void()> fn;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_tasks.empty()) return nRan;
            fn = std::move(m_tasks.front());
            m_tasks.pop_front();
        }
        // Run outside the lock: a task may post again.
        if (fn) fn();
        ++nRan;
    }
}

size_t CQueuedExecutor::WaitAndRun(uint32_t nTimeoutMs) {
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_cv.wait_for(lock, std::chrono::milliseconds(nTimeoutMs), [this] { return !m_tasks.empty(); });
    }
    return RunPending();
}

size_t CQueuedExecutor::Pending() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_tasks.size();
}

}  // namespace orvi
