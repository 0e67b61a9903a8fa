#include "imaging/Parallel.h"

#include <sched.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace orvi {
namespace {

size_t DetectCpuCount() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) == 0) {
        const int n = CPU_COUNT(&set);
        if (n > 0) return size_t(n);
    }
    return std::max<size_t>(1, std::thread::hardware_concurrency());
}

std::atomic<size_t> g_nThreadLimit{0};

thread_local bool t_bPoolThread = false;

// Helper threads that wait for a job; one job at a time.
class CPool {
public:
    explicit CPool(size_t nHelpers) {
        for (size_t i = 0; i < nHelpers; ++i) {
            try {
                m_threads.emplace_back(&CPool::Loop, this, i);
            } catch (const std::system_error&) {
                break;  // no thread: the others take its share
            }
        }
    }

    size_t Helpers() const { return m_threads.size(); }

    // Runs the job on the caller and nHelpers helpers; false, doing nothing,
    // when another job is running.
    bool TryRun(size_t nChunks, size_t nHelpers, void (*pfn)(void*, size_t), void* pContext) {
        std::unique_lock<std::mutex> run(m_runMutex, std::try_to_lock);
        if (!run.owns_lock()) return false;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_pfn = pfn;
            m_pContext = pContext;
            m_nChunks = nChunks;
            m_nNext.store(0);
            m_nWanted = std::min(nHelpers, m_threads.size());
            m_nDone = 0;
            ++m_nGeneration;
        }
        m_start.notify_all();
        Work();
        std::unique_lock<std::mutex> lock(m_mutex);
        m_done.wait(lock, [&] { return m_nDone == m_nWanted; });
        return true;
    }

private:
    void Loop(size_t nIndex) {
        t_bPoolThread = true;
        uint64_t nSeen = 0;
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            m_start.wait(lock, [&] { return m_nGeneration != nSeen; });
            nSeen = m_nGeneration;
            if (nIndex >= m_nWanted) continue;
            lock.unlock();
            Work();
            lock.lock();
            if (++m_nDone == m_nWanted) m_done.notify_one();
        }
    }

    void Work() {
        for (size_t c; (c = m_nNext.fetch_add(1)) < m_nChunks;) m_pfn(m_pContext, c);
    }

    std::vector<std::thread> m_threads;
    std::mutex m_runMutex;  // one job at a time
    std::mutex m_mutex;
    std::condition_variable m_start, m_done;
    uint64_t m_nGeneration = 0;
    void (*m_pfn)(void*, size_t) = nullptr;
    void* m_pContext = nullptr;
    size_t m_nChunks = 0;
    std::atomic<size_t> m_nNext{0};
    size_t m_nWanted = 0;
    size_t m_nDone = 0;
};

// Made at first use and kept to the end of the process: helper threads are
// never joined during static destruction, where a late job could still need them.
CPool& Pool() {
    static CPool* s_pPool = new CPool(AffinityCpuCount() - 1);
    return *s_pPool;
}

}  // namespace

size_t AffinityCpuCount() {
    static const size_t s_nCpus = DetectCpuCount();
    return s_nCpus;
}

size_t ThreadCount() {
    const size_t nLimit = g_nThreadLimit.load();
    const size_t nCpus = AffinityCpuCount();
    return nLimit == 0 ? nCpus : std::min(nLimit, nCpus);
}

void LimitThreads(size_t nThreads) { g_nThreadLimit.store(nThreads); }

void RunChunksOnPool(size_t nChunks, size_t nWorkers, void (*pfnChunk)(void*, size_t), void* pContext) {
    nWorkers = std::min({nWorkers, nChunks, ThreadCount()});
    if (nWorkers > 1 && !t_bPoolThread && Pool().Helpers() > 0 &&
        Pool().TryRun(nChunks, nWorkers - 1, pfnChunk, pContext))
        return;
    for (size_t c = 0; c < nChunks; ++c) pfnChunk(pContext, c);
}

}  // namespace orvi
