#pragma once
// Spreads a step over the cores this process may run on. The pixel steps run
// while the operator waits, and a frame is large enough that a second core
// halves the wait. The threads are started once, at first use, and sized from
// the process's CPU affinity; each call hands its chunks to them and the
// caller takes chunks too, so a core busy with other work simply takes fewer.
// Small work, a call made while the pool is busy (another thread's step, or a
// step inside a step), or a system that refuses a thread runs on the caller's
// thread alone; results never depend on the split.
#include <algorithm>
#include <cstddef>
#include <type_traits>

namespace orvi {

// The CPUs this process may run on (sched_getaffinity), at least 1.
size_t AffinityCpuCount();

// Threads the steps use: AffinityCpuCount() unless lowered by LimitThreads.
size_t ThreadCount();

// Uses at most nThreads threads (the caller's among them) from now on; 0
// restores all of them. For benchmarks and tests of the one-thread path.
void LimitThreads(size_t nThreads);

// Threads to use for nItems items of which each thread should get at least
// nMinPerWorker: at most ThreadCount().
inline size_t WorkerCount(size_t nItems, size_t nMinPerWorker) {
    size_t nWorkers = std::min<size_t>(ThreadCount(), nItems / std::max<size_t>(1, nMinPerWorker));
    return std::max<size_t>(1, nWorkers);
}

// Calls pfnChunk(pContext, c) once for every c in [0, nChunks), on up to
// nWorkers threads, and returns when all calls are done.
void RunChunksOnPool(size_t nChunks, size_t nWorkers, void (*pfnChunk)(void*, size_t), void* pContext);

// Calls fn(nChunk) once for every nChunk in [0, nChunks), on up to nWorkers
// threads, and returns when all calls are done.
template <class Fn>
void RunChunks(size_t nChunks, size_t nWorkers, Fn&& fn) {
    if (nChunks == 0) return;
    if (nWorkers <= 1 || nChunks == 1) {
        for (size_t c = 0; c < nChunks; ++c) fn(c);
        return;
    }
    using F = std::remove_reference_t<Fn>;
    RunChunksOnPool(
        nChunks, nWorkers, [](void* p, size_t c) { (*static_cast<F*>(p))(c); },
        const_cast<void*>(static_cast<const void*>(&fn)));
}

// Chunks per thread when a step is split.
inline constexpr size_t kChunksPerWorker = 8;

// Calls fn(nBegin, nEnd) for consecutive ranges covering [0, nItems), on up
// to nWorkers threads.
template <class Fn>
void RunRanges(size_t nItems, size_t nWorkers, Fn&& fn) {
    const size_t nChunks = nWorkers <= 1 ? 1 : std::max<size_t>(1, std::min(nItems, nWorkers * kChunksPerWorker));
    RunChunks(nChunks, nWorkers, [&](size_t c) { fn(nItems * c / nChunks, nItems * (c + 1) / nChunks); });
}

}  // namespace orvi
