// 50 images in a burst through the outbox to a real PACS (Orthanc on a free
// loopback port). The benchmark's own thread plays the window thread: it hands
// each written file to the outbox, then runs what the worker posts back until
// the PACS has all 50. Reported beside the wall time: the longest single stay
// of the window thread in the outbox's code (a hand-over, or a batch of posted
// status updates), which must stay far below 50 ms. Images of 1024 and 3072
// pixels square (2 MB and 18 MB).
#include "NetServers.h"

#include "acquisition/MainThreadExecutor.h"
#include "export/dicom/net/Outbox.h"
#include "support/TestSupport.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Us(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

void BM_OutboxBurst(benchmark::State& state) {
    using namespace orvi;
    if (!test::HaveProgram("Orthanc")) {
        state.SkipWithError("Orthanc is not installed (Debian package orthanc)");
        return;
    }
    const int nImages = 50;
    const uint32_t nSide = static_cast<uint32_t>(state.range(0));
    test::TempDir dir;
    test::COrthanc pacs(dir.file("pacs"));
    if (!pacs.Start()) {
        state.SkipWithError("Orthanc did not start");
        return;
    }
    // The images, written before the burst (the writer's work is not measured).
    std::vector<std::vector<std::string>> rounds;
    double fMaxBlockUs = 0, fMaxHandOverUs = 0;
    int64_t nExpected = 0;
    int nRound = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<std::string> files;
        for (int i = 0; i < nImages; ++i) {
            char szName[32];
            std::snprintf(szName, sizeof szName, "r%d-%d.dcm", nRound, i);
            files.push_back(dir.file(szName));
            test::MakeDicomFile(files.back(), {}, nSide);
        }
        dicom::CNetConfig c;
        c.pacs = {"PACS", "127.0.0.1", pacs.DicomPort()};
        char szOutbox[32];
        std::snprintf(szOutbox, sizeof szOutbox, "outbox%d/", nRound++);
        c.strOutbox = dir.dir() + szOutbox;
        CQueuedExecutor exec;
        uint64_t nSent = 0;
        auto pOutbox = std::make_unique<dicom::COutbox>(c, exec, [&](const dicom::COutboxStatus& s) {
            nSent = s.nSent;
            benchmark::DoNotOptimize(s.StatusText());
        });
        std::string strError;
        pOutbox->Start(strError);
        state.ResumeTiming();

        for (const std::string& strPath : files) {
            const auto t0 = Clock::now();
            pOutbox->Enqueue(strPath);
            fMaxHandOverUs = std::max(fMaxHandOverUs, Us(Clock::now() - t0));
        }
        const auto tEnd = Clock::now() + std::chrono::seconds(120);
        while (nSent < static_cast<uint64_t>(nImages) && Clock::now() < tEnd) {
            exec.WaitAndRun(5);
            // Only the running of posted tasks counts, not the idle wait.
            const auto t0 = Clock::now();
            exec.RunPending();
            fMaxBlockUs = std::max(fMaxBlockUs, Us(Clock::now() - t0));
        }
        state.PauseTiming();
        pOutbox->Stop();
        nExpected += nImages;
        if (nSent < static_cast<uint64_t>(nImages)) state.SkipWithError("not every image reached the PACS");
        state.ResumeTiming();
    }
    state.counters["instances"] = static_cast<double>(pacs.CountInstances());
    state.counters["expected"] = static_cast<double>(nExpected);
    // Microseconds (the console prints them without an SI prefix).
    state.counters["max_handover_us"] = fMaxHandOverUs;
    state.counters["max_window_block_us"] = std::max(fMaxBlockUs, fMaxHandOverUs);
}

BENCHMARK(BM_OutboxBurst)->Arg(1024)->Arg(3072)->Iterations(2)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
