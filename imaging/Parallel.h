#pragma once
// Splits a range of rows over the machine's cores with plain std::thread: the
// pixel steps run on the window thread while the operator waits, and a frame
// is large enough that a second core halves the wait. Small ranges, or a
// system that refuses a thread, run on the caller's thread alone; the result
// never depends on the split.
#include <algorithm>
#include <cstddef>
#include <system_error>
#include <thread>
#include <vector>

namespace orvi {

// Number of parts to use for nItems items of which each part should get at
// least nMinPerPart (at most the number of cores, at most 4).
inline size_t PartCount(size_t nItems, size_t nMinPerPart) {
    size_t nCores = std::max<size_t>(1, std::thread::hardware_concurrency());
    size_t nParts = std::min<size_t>(std::min<size_t>(nCores, 4), nItems / std::max<size_t>(1, nMinPerPart));
    return std::max<size_t>(1, nParts);
}

// Calls fn(nPart, nBegin, nEnd) for nParts contiguous parts of [0, nItems),
// part 0 on the caller's thread, the others on their own threads, and returns
// when all are done.
template <class Fn>
void RunParts(size_t nItems, size_t nParts, Fn&& fn) {
    nParts = std::max<size_t>(1, std::min(nParts, std::max<size_t>(1, nItems)));
    auto begin = [&](size_t p) { return nItems * p / nParts; };
    std::vector<std::thread> workers;
    workers.reserve(nParts - 1);
    size_t nStarted = 1;
    for (size_t p = 1; p < nParts; ++p) {
        try {
            workers.emplace_back([&fn, p, b = begin(p), e = begin(p + 1)] { fn(p, b, e); });
            ++nStarted;
        } catch (const std::system_error&) {
            break;  // no thread: the caller does the remaining parts itself
        }
    }
    fn(size_t{0}, begin(0), begin(1));
    for (size_t p = nStarted; p < nParts; ++p) fn(p, begin(p), begin(p + 1));
    for (auto& t : workers) t.join();
}

}  // namespace orvi
