// The shared thread pool: every chunk runs exactly once, also when two
// threads use the pool at once and when a chunk starts a step of its own.
#include "imaging/Parallel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace orvi {
namespace {

// Runs nChunks chunks; each adds its index + 1 to its slot and, with bNested,
// runs a small step of its own inside.
std::vector<int> RunCounted(size_t nChunks, bool bNested) {
    std::vector<std::atomic<int>> counts(nChunks);
    RunChunks(nChunks, ThreadCount(), [&](size_t c) {
        counts[c].fetch_add(1);
        if (bNested) {
            std::atomic<int> nInner{0};
            RunChunks(5, ThreadCount(), [&](size_t) { nInner.fetch_add(1); });
            if (nInner.load() != 5) counts[c].fetch_add(100);
        }
    });
    std::vector<int> v;
    for (auto& n : counts) v.push_back(n.load());
    return v;
}

TEST(ThreadPool, EveryChunkRunsOnceAlsoNestedAndFromTwoThreads) {
    EXPECT_GE(AffinityCpuCount(), 1u);
    for (size_t nChunks : {size_t{0}, size_t{1}, size_t{2}, size_t{7}, size_t{1000}})
        for (bool bNested : {false, true})
            EXPECT_EQ(RunCounted(nChunks, bNested), std::vector<int>(nChunks, 1)) << nChunks << " " << bNested;

    // Two threads at once, many times: the one that finds the pool busy runs alone.
    std::atomic<int> nWrong{0};
    auto hammer = [&] {
        for (int i = 0; i < 200; ++i)
            if (RunCounted(64, i % 2 == 0) != std::vector<int>(64, 1)) nWrong.fetch_add(1);
    };
    std::thread other(hammer);
    hammer();
    other.join();
    EXPECT_EQ(nWrong.load(), 0);
}

TEST(ThreadPool, LimitThreadsLowersTheCount) {
    LimitThreads(1);
    EXPECT_EQ(ThreadCount(), 1u);
    EXPECT_EQ(WorkerCount(1000, 1), 1u);
    EXPECT_EQ(RunCounted(9, true), std::vector<int>(9, 1));
    LimitThreads(0);
    EXPECT_EQ(ThreadCount(), AffinityCpuCount());
}

}  // namespace
}  // namespace orvi
