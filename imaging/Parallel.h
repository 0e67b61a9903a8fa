#pragma once
// Spreads a step over the machine's cores with plain std::thread: the pixel
// steps run on the window thread while the operator waits, and a frame is
// large enough that a second core halves the wait. The work is cut into
// chunks that the threads (the caller's among them) take in turn, so a core
// busy with other work simply takes fewer. Small work, or a system that
// refuses a thread, runs on the caller's thread alone; results never depend
// on the split.
#include <algorithm>
#include <atomic>
#include <cstddef>
#include <system_error>
#include <thread>
#include <vector>

namespace orvi {

// Threads to use for nItems items of which each thread should get at least
// nMinPerWorker: at most the number of cores, at most 4.
inline size_t WorkerCount(size_t nItems, size_t nMinPerWorker) {
    size_t nCores = std::max<size_t>(1, std::thread::hardware_concurrency());
    size_t nWorkers = std::min<size_t>(std::min<size_t>(nCores, 4), nItems / std::max<size_t>(1, nMinPerWorker));
    return std::max<size_t>(1, nWorkers);
}

// Calls fn(nChunk) once for every nChunk in [0, nChunks), on up to nWorkers
// threads, and returns when all calls are done.
template <class Fn>
void RunChunks(size_t nChunks, size_t nWorkers, Fn&& fn) {
    std::atomic<size_t> nNext{0};
    auto work = [&] {
        for (size_t c; (c = nNext.fetch_add(1)) < nChunks;) fn(c);
    };
    std::vector<std::thread> helpers;
    nWorkers = std::min(nWorkers, nChunks);
    for (size_t i = 1; i < nWorkers; ++i) {
        try {
            helpers.emplace_back(work);
        } catch (const std::system_error&) {
            break;  // no thread: the others take its chunks
        }
    }
    work();
    for (auto& t : helpers) t.join();
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
