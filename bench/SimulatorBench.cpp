// Frame production of the simulated detector at 3072 x 3072, through the
// library's C interface and a dispatcher on virtual time, as the program
// receives frames. Each benchmark reports its time beside a memcpy of one
// frame measured in the same run (vs_memcpy = time / memcpy time).
#include "acquisition/LibraryDispatch.h"
#include "acquisition/VirtualClock.h"
#include "orviacquire/ORVIAcquireLib.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include <string>
#include <vector>

#include <unistd.h>

namespace {

constexpr size_t kFrameBytes = size_t{ORVIACQ_FRAME_PIXELS} * sizeof(uint16_t);

// The median time of a frame-sized memcpy, measured once.
double MemcpySeconds() {
    static const double s_fSeconds = [] {
        std::vector<uint16_t> a(ORVIACQ_FRAME_PIXELS, 1), b(ORVIACQ_FRAME_PIXELS, 2);
        std::vector<double> times;
        for (int i = 0; i < 31; ++i) {
            auto t0 = std::chrono::steady_clock::now();
            std::memcpy(b.data(), a.data(), kFrameBytes);
            benchmark::DoNotOptimize(b.data());
            benchmark::ClobberMemory();
            times.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
        }
        std::nth_element(times.begin(), times.begin() + 15, times.end());
        return times[15];
    }();
    return s_fSeconds;
}

// Times the benchmark's loop and reports it as a multiple of the memcpy.
class AgainstMemcpy {
public:
    explicit AgainstMemcpy(benchmark::State& state) : m_state(state) { MemcpySeconds(); }
    ~AgainstMemcpy() {
        const double fSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - m_t0).count();
        if (m_state.iterations() > 0)
            m_state.counters["vs_memcpy"] = fSeconds / static_cast<double>(m_state.iterations()) / MemcpySeconds();
    }
    void Start() { m_t0 = std::chrono::steady_clock::now(); }

private:
    benchmark::State& m_state;
    std::chrono::steady_clock::time_point m_t0;
};

// One detector on a virtual clock; the image callback only counts.
class Detector {
public:
    explicit Detector(const std::string& strExtraKeys = "") {
        m_dir = std::filesystem::temp_directory_path() / ("orvi-bench-" + std::to_string(::getpid()));
        std::filesystem::create_directories(m_dir);
        const std::string strIni = (m_dir / "ORVI2.ini").string();
        std::ofstream(strIni) << "[SIMULATOR]\nENABLE_MS=0\nREADOUT_MS=0\nAUTO_FIRE_MS=1\n" << strExtraKeys;
        orvi::InstallLibraryDispatch(m_clock);
        ORVIAcqOpenRecord r{};
        std::strncpy(r.szIniPath, strIni.c_str(), sizeof r.szIniPath - 1);
        if (Acquisition_Initialize(r, "SIMCOM1", "Simulated GigE Adapter 1", &m_h) != 0) std::abort();
        Acquisition_GigeAdapterObjectSetImageCallback(
            m_h,
            [](ORVIAcqHandle, uint16_t* p, void* pUser) {
                benchmark::DoNotOptimize(p[0]);
                ++*static_cast<int64_t*>(pUser);
            },
            &m_nFrames);
    }
    ~Detector() {
        Acquisition_Close(m_h);
        orvi::UninstallLibraryDispatch();
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
    }
    void Dark() {
        Acquisition_StartAcquisition(m_h);
        m_clock.run_until_idle();
    }
    void Exposure() {
        Acquisition_StartAecReady(m_h);
        m_clock.run_until_idle();
    }
    ORVIAcqHandle Handle() const { return m_h; }
    int64_t Frames() const { return m_nFrames; }

private:
    orvi::CVirtualClock m_clock;
    std::filesystem::path m_dir;
    ORVIAcqHandle m_h = 0;
    int64_t m_nFrames = 0;
};

void BM_MemcpyFrame(benchmark::State& state) {
    std::vector<uint16_t> a(ORVIACQ_FRAME_PIXELS, 1), b(ORVIACQ_FRAME_PIXELS, 2);
    AgainstMemcpy timer(state);
    timer.Start();
    for (auto _ : state) {
        std::memcpy(b.data(), a.data(), kFrameBytes);
        benchmark::DoNotOptimize(b.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kFrameBytes));
}

void BM_DarkFrame(benchmark::State& state) {
    Detector d;
    d.Dark();
    AgainstMemcpy timer(state);
    timer.Start();
    for (auto _ : state) d.Dark();
    if (d.Frames() != static_cast<int64_t>(state.iterations()) + 1) state.SkipWithError("frames missing");
}

void BM_ExposureFrame(benchmark::State& state) {
    Detector d;
    d.Exposure();  // the expected frame for this dose is built once
    AgainstMemcpy timer(state);
    timer.Start();
    for (auto _ : state) d.Exposure();
    if (d.Frames() != static_cast<int64_t>(state.iterations()) + 1) state.SkipWithError("frames missing");
}

void BM_ExposureFrameWithLibraryCorrections(benchmark::State& state) {
    Detector d;
    Correction_SetAutoOffset(d.Handle(), 1);
    Correction_SetDoGain(d.Handle(), 1);
    Correction_SetDoDefect(d.Handle(), 1);
    d.Exposure();
    AgainstMemcpy timer(state);
    timer.Start();
    for (auto _ : state) d.Exposure();
}

// A new dose each time: the expected frame is built again before the frame.
void BM_ExposureFrameAfterDoseChange(benchmark::State& state) {
    Detector d;
    int32_t nDose = 9000;
    AgainstMemcpy timer(state);
    timer.Start();
    for (auto _ : state) {
        AcquisitionSim_SetDose(d.Handle(), nDose ^= 1);
        d.Exposure();
    }
}

// Opening a panel never seen before: its fixed patterns are built.
void BM_OpenNewPanel(benchmark::State& state) {
    int32_t nSeed = 1000;
    AgainstMemcpy timer(state);
    timer.Start();
    for (auto _ : state) {
        Detector d("SEED=" + std::to_string(++nSeed) + "\n");
        benchmark::DoNotOptimize(d.Handle());
    }
}

BENCHMARK(BM_MemcpyFrame)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DarkFrame)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExposureFrame)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExposureFrameWithLibraryCorrections)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExposureFrameAfterDoseChange)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenNewPanel)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
