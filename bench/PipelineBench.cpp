// Times every pixel step at 3072 x 3072 and holds it to its target, measured
// in the same run as its anchor:
//   mirror, offset, cut, lookup-table conversion, gain: at most 4 x a memcpy
//     of the bytes the step touches ((bytes read + bytes written) / 2, since a
//     memcpy of n bytes reads n and writes n);
//   3 x 3 median: at most 0.8 x OpenCV's medianBlur (when OpenCV is present),
//     both out of place between two frames larger than the caches, on one
//     thread and on all (the in-place and baseline forms are shown beside);
//   MAKE BPM: under 100 ms;
//   the DICOM file of an exposure (exposure index, auto window, encoding and
//     the atomic write): under 30 ms uncompressed, under 300 ms JPEG-LS;
//   the sequence after the last dark (gain from the folder's files, offset,
//     bad pixel map, median, cut, image file; page cache warm): under 40 ms;
//   the exposure path as the station runs it (dark copy, restore of the held
//     image, the sequence with the dark from memory up to the image file on
//     disk, the dark file written after it; processor caches flushed before
//     each run): under 40 ms, shown also with the calibration files dropped
//     from the page cache.
// One-thread rows are judged by CPU time (other work on a shared core only
// adds waiting to the real time); pin them with taskset for clean figures.
// The literal rules of the tests run once beside the fast ones. Each fast
// step and anchor runs five times and is judged by its best run: on a shared
// machine other work only ever adds time. A summary table with the ratios
// closes the run.
#include "LiteralRules.h"
#include "app/Profile.h"
#include "app/Report.h"
#include "app/StatusPort.h"
#include "display/AutoWindow.h"
#include "display/WindowLevelLut.h"
#include "export/dicom/DicomSink.h"
#include "imaging/BadPixelMap.h"
#include "imaging/Calibration.h"
#include "imaging/CalibrationStore.h"
#include "imaging/ImagePipeline.h"
#include "imaging/Parallel.h"
#include "imaging/PostProcess.h"
#include "imaging/RawFile.h"
#include "imaging/SimdKernels.h"

#include <benchmark/benchmark.h>

#ifdef ORVI_HAVE_OPENCV
#include <opencv2/imgproc.hpp>
#endif

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <future>
#include <map>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace orvi;
using Frame = std::vector<uint16_t>;

constexpr int32_t kSide = 3072;
constexpr size_t kPixels = size_t(kSide) * kSide;
constexpr size_t kFrameBytes = kPixels * 2;
constexpr CImageGeometry kCut{kSide, kSide, 8, 8, 16, 16};

// A detector-like frame: a level with a slope, noise, and rare defects.
Frame DetectorFrame(int32_t nLevel, int32_t nNoise, uint32_t nSeed) {
    std::mt19937 rng(nSeed);
    std::normal_distribution<float> noise(0.0f, float(nNoise));
    Frame f(kPixels);
    for (int32_t r = 0; r < kSide; ++r)
        for (int32_t c = 0; c < kSide; ++c) {
            float v = float(nLevel) * (0.9f + 0.2f * float(c) / kSide) + noise(rng);
            if (rng() % 2000 == 0) v = (rng() % 2) ? v * 3 : v / 4;
            f[size_t(r) * kSide + c] = uint16_t(std::clamp(v, 0.0f, 16383.0f));
        }
    return f;
}

struct Data {
    Frame image = DetectorFrame(6000, 400, 1);
    Frame dark = DetectorFrame(300, 30, 2);
    Frame bright = DetectorFrame(10000, 300, 3);
    Frame map = [] {
        Frame m(kPixels, 0);
        std::mt19937 rng(4);
        for (size_t i = 0; i < 9000; ++i) m[rng() % kPixels] = kBadPixelMark;
        return m;
    }();
};
const Data& D() {
    static Data s_data;
    return s_data;
}

// The message boxes a step would show, printed.
class PrintedReport : public CReport {
    void Added(const CNotice& n) override {
        if (n.eKind == CNotice::Kind::Message) std::fprintf(stderr, "message: %s\n", n.strText.c_str());
    }
};

class NullStatus : public IStatusPort {
public:
    void SetStatusText(int32_t, const std::string&) override {}
};

// Five repetitions, reported by their best (also mean and median).
void BestOfFive(benchmark::internal::Benchmark* b) {
    b->Repetitions(5)
        ->ComputeStatistics("min", [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); })
        ->ReportAggregatesOnly(true)
        ->Unit(benchmark::kMillisecond);
}

// ---- Anchors ----------------------------------------------------------------

void BM_Memcpy(benchmark::State& state) {
    const size_t nBytes = size_t(state.range(0));
    std::vector<char> a(nBytes, 1), b(nBytes, 2);
    for (auto _ : state) {
        std::memcpy(b.data(), a.data(), nBytes);
        benchmark::DoNotOptimize(b.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(nBytes));
}
constexpr int64_t kLutBytes = int64_t(kFrameBytes + kPixels) / 2;  // reads 2 bytes, writes 1 per pixel
constexpr int64_t kCutBytes = int64_t(kCut.CutPixels() * 2);       // moves the kept pixels
constexpr int64_t kGainBytes = int64_t(4 * kFrameBytes) / 2;       // reads 3 frames, writes 1
BENCHMARK(BM_Memcpy)->Name("Memcpy/frame")->Arg(int64_t(kFrameBytes))->Apply(BestOfFive);
BENCHMARK(BM_Memcpy)->Name("Memcpy/lut/1t")->Arg(kLutBytes)->Apply(BestOfFive);
BENCHMARK(BM_Memcpy)->Name("Memcpy/cut")->Arg(kCutBytes)->Apply(BestOfFive);
BENCHMARK(BM_Memcpy)->Name("Memcpy/gain")->Arg(kGainBytes)->Apply(BestOfFive);

// ---- Kernels ----------------------------------------------------------------

void BM_MirrorRows(benchmark::State& state) {
    Frame f = D().image;
    for (auto _ : state) {
        MirrorRows(f.data(), kSide, kSide);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_MirrorRows)->Name("MirrorRows")->Apply(BestOfFive);

void BM_ApplyOffset(benchmark::State& state) {
    Frame f = D().image;
    int32_t nOffset = 1;
    for (auto _ : state) {
        ApplyOffset(f.data(), kPixels, nOffset);
        nOffset = -nOffset;  // keeps the values from running into the limit
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_ApplyOffset)->Name("ApplyOffset")->Apply(BestOfFive);

void BM_CutImage(benchmark::State& state) {
    Frame f = D().image;
    for (auto _ : state) {
        CutImage(f.data(), kCut);  // the rows move the same distance every time
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_CutImage)->Name("CutImage")->Apply(BestOfFive);

// The conversion and its anchor, on one thread (range 0 = 1) or on all of
// them (range 0 = 0), from a source frame to a grey frame both larger than
// the caches, as the view does.
void BM_LutConvert(benchmark::State& state) {
    LimitThreads(size_t(state.range(0)));
    CWLLUT lut;
    lut.SetWindowLevel(8000, 6000);
    std::vector<uint8_t> grey(kPixels);
    for (auto _ : state) {
        lut.Convert(D().image.data(), kSide, kSide, kSide, grey.data(), kSide);
        benchmark::ClobberMemory();
    }
    LimitThreads(0);
}
BENCHMARK(BM_LutConvert)->Name("LutConvert/1t")->Arg(1)->Apply(BestOfFive);
BENCHMARK(BM_LutConvert)->Name("LutConvert/all")->Arg(0)->Apply(BestOfFive);

// A memcpy of the conversion's bytes split like the conversion.
void BM_MemcpyThreads(benchmark::State& state) {
    LimitThreads(size_t(state.range(0)));
    const size_t nBytes = size_t(kLutBytes);
    std::vector<char> a(nBytes, 1), b(nBytes, 2);
    for (auto _ : state) {
        RunRanges(nBytes / 4096, WorkerCount(nBytes, size_t{1} << 20), [&](size_t r0, size_t r1) {
            std::memcpy(b.data() + r0 * 4096, a.data() + r0 * 4096, (r1 - r0) * 4096);
        });
        benchmark::ClobberMemory();
    }
    LimitThreads(0);
}
BENCHMARK(BM_MemcpyThreads)->Name("Memcpy/lut/all")->Arg(0)->Apply(BestOfFive);

void BM_GainCorrect(benchmark::State& state) {
    Frame f = D().image;
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(f.data(), D().image.data(), kFrameBytes);
        state.ResumeTiming();
        GainCorrect(f.data(), D().dark.data(), D().bright.data(), 10000, kPixels);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_GainCorrect)->Name("GainCorrect")->Apply(BestOfFive);

void BM_BadPixelCorrect(benchmark::State& state) {
    Frame f = D().image;
    for (auto _ : state) {
        BadPixelCorrect(f.data(), D().map.data(), kSide, kSide);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_BadPixelCorrect)->Name("BadPixelCorrect")->Apply(BestOfFive);

// The median out of place from one frame into another (the traffic of
// OpenCV's medianBlur), on one thread or all; and in place, as the exposure
// path runs it. Ranges: level, threads (0 = all), in place.
void BM_MedianFilter(benchmark::State& state) {
    LimitSimdLevel(SimdLevel(state.range(0)));
    LimitThreads(size_t(state.range(1)));
    const bool bInPlace = state.range(2) != 0;
    Frame src = D().image, dst(kPixels);
    for (auto _ : state) {
        if (bInPlace)
            MedianFilter3x3(src.data(), kSide, kSide);  // the cost does not depend on the values
        else
            MedianFilter3x3(src.data(), dst.data(), kSide, kSide);
        benchmark::ClobberMemory();
    }
    LimitThreads(0);
    LimitSimdLevel(SimdLevel::Avx2);
}
BENCHMARK(BM_MedianFilter)->Name("MedianFilter3x3/1t")->Args({int(SimdLevel::Avx2), 1, 0})->Apply(BestOfFive);
BENCHMARK(BM_MedianFilter)
    ->Name("MedianFilter3x3/baseline/1t")
    ->Args({int(SimdLevel::Baseline), 1, 0})
    ->Apply(BestOfFive);
BENCHMARK(BM_MedianFilter)->Name("MedianFilter3x3/inplace/1t")->Args({int(SimdLevel::Avx2), 1, 1})->Apply(BestOfFive);
BENCHMARK(BM_MedianFilter)->Name("MedianFilter3x3/all")->Args({int(SimdLevel::Avx2), 0, 0})->Apply(BestOfFive);

#ifdef ORVI_HAVE_OPENCV
void BM_OpenCvMedianBlur(benchmark::State& state) {
    const int nThreadsBefore = cv::getNumThreads();
    cv::setNumThreads(state.range(0) == 1 ? 1 : nThreadsBefore);
    Frame f = D().image;
    cv::Mat src(kSide, kSide, CV_16UC1, f.data());
    cv::Mat dst(kSide, kSide, CV_16UC1);
    for (auto _ : state) {
        cv::medianBlur(src, dst, 3);
        benchmark::ClobberMemory();
    }
    cv::setNumThreads(nThreadsBefore);
}
BENCHMARK(BM_OpenCvMedianBlur)->Name("OpenCV medianBlur/1t")->Arg(1)->Apply(BestOfFive);
BENCHMARK(BM_OpenCvMedianBlur)->Name("OpenCV medianBlur/all")->Arg(0)->Apply(BestOfFive);
#endif

void BM_MakeBadPixelMap(benchmark::State& state) {
    Frame map(kPixels);
    for (auto _ : state) {
        MakeBadPixelMap(D().dark.data(), D().bright.data(), kSide, kSide, CBpmThresholds{}, map.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_MakeBadPixelMap)->Name("MakeBadPixelMap")->Apply(BestOfFive);

// ---- The sequence after the last dark ---------------------------------------

struct Folders {
    std::string strCal, strImages;
    Folders() {
        namespace fs = std::filesystem;
        fs::path base = fs::temp_directory_path() / ("orvi-bench-" + std::to_string(::getpid()));
        strCal = (base / "cal").string() + "/";
        strImages = (base / "images").string() + "/";
        fs::create_directories(strCal);
        fs::create_directories(strImages);
        Frame b1 = DetectorFrame(9000, 300, 5), b2 = DetectorFrame(12000, 300, 6);
        WriteRawFile(strCal + "BRIGHT_09000.RAW", b1.data(), kPixels);
        WriteRawFile(strCal + "BRIGHT_10000.RAW", D().bright.data(), kPixels);
        WriteRawFile(strCal + "BRIGHT_12000.RAW", b2.data(), kPixels);
        WriteRawFile(strCal + "DARK_00300.RAW", D().dark.data(), kPixels);
        WriteRawFile(strCal + "BPM.RAW", D().map.data(), kPixels);
    }
    ~Folders() {
        std::error_code ec;
        std::filesystem::remove_all(std::filesystem::path(strCal).parent_path().parent_path(), ec);
    }
};
Folders& F() {
    static Folders s_folders;
    return s_folders;
}

CImageSettings Settings() {
    CImageSettings s;
    s.geometry = kCut;
    s.nCalibration = 1;
    s.nOffsetControl = 20;
    s.nMedianFilter = 1;
    s.strCalFolder = F().strCal;
    return s;
}

void BM_Sequence(benchmark::State& state) {
    PrintedReport report;
    Frame f(kPixels);
    CExposureWorkspace workspace;
    CImageSettings s = Settings();
    s.pWorkspace = &workspace;
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(f.data(), D().image.data(), kFrameBytes);  // the held image restored
        state.ResumeTiming();
        if (!ProcessExposureImage(f.data(), s, F().strImages + "IMAGE.RAW", report))
            state.SkipWithError("write failed");
    }
}
BENCHMARK(BM_Sequence)->Name("Sequence")->MinWarmUpTime(0.2)->Apply(BestOfFive);

// The exposure path as the station runs it, from the last dark's arrival to
// the image file on disk: the dark copied, the held image restored, the gain
// (dark from memory, reference bright and its table from the store), offset,
// bad pixel map (BPM.RAW from the store), median, cut and the image file
// (written band by band as the steps go, flushed, renamed, folder flushed).
// The dark file is written after the image, as the station does, and
// awaited untimed before the next run. Before each run the processor caches
// are flushed by a 64 MB sweep; with range 1 the reference bright is also
// touched (a new mtime: the store loads the set again) and the calibration
// files are dropped from the page cache, as after a host replaced them.
void DropFromPageCache(const std::string& strFolder) {
    for (const auto& e : std::filesystem::directory_iterator(strFolder)) {
        const int fd = ::open(e.path().c_str(), O_RDONLY);
        if (fd < 0) continue;
        ::fdatasync(fd);
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        ::close(fd);
    }
}

void BM_ExposurePath(benchmark::State& state) {
    const bool bFilesChanged = state.range(0) != 0;
    PrintedReport report;
    const Frame held = D().image;
    Frame frame(kPixels), dark(kPixels);
    std::vector<char> sweep(size_t{64} << 20, 1);
    CCalibrationStore store;
    CExposureWorkspace workspace;
    CImageSettings s = Settings();
    s.pDarkInMemory = dark.data();
    s.strDarkInMemory = "DARK_00300.RAW";
    s.pCalibrationStore = &store;
    s.pWorkspace = &workspace;
    bool bDarkWritten = true;
    std::future<void> darkWrite;
    for (auto _ : state) {
        state.PauseTiming();
        if (darkWrite.valid()) darkWrite.get();
        if (!bDarkWritten) state.SkipWithError("dark write");
        for (size_t i = 0; i < sweep.size(); i += 64) sweep[i] = char(sweep[i] + 1);
        benchmark::DoNotOptimize(sweep.data());
        if (bFilesChanged) {
            ::utimensat(AT_FDCWD, (F().strCal + "BRIGHT_10000.RAW").c_str(), nullptr, 0);
            DropFromPageCache(F().strCal);
        }
        state.ResumeTiming();
        std::memcpy(dark.data(), D().dark.data(), kFrameBytes);  // the dark as it arrives
        std::memcpy(frame.data(), held.data(), kFrameBytes);     // the held image restored
        if (!ProcessExposureImage(frame.data(), s, F().strImages + "IMAGE.RAW", report)) state.SkipWithError("write");
        // IMAGE.RAW is on disk: the figure ends here. The dark file follows.
        darkWrite = PostToFileThread(
            [&] { bDarkWritten = WriteRawFile(F().strCal + s.strDarkInMemory, dark.data(), kPixels); });
    }
    if (darkWrite.valid()) darkWrite.get();
    state.counters["loads"] = double(store.Generation());
}
BENCHMARK(BM_ExposurePath)->Name("ExposurePath")->Arg(0)->MinWarmUpTime(0.2)->Apply(BestOfFive);
BENCHMARK(BM_ExposurePath)->Name("ExposurePath/files changed")->Arg(1)->Apply(BestOfFive);

// The parts of the sequence that touch files.
void BM_GainFromSets(benchmark::State& state) {
    PrintedReport report;
    Frame f(kPixels);
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(f.data(), D().image.data(), kFrameBytes);
        state.ResumeTiming();
        ApplyGainFromSets(f.data(), kSide, kSide, F().strCal, report);
    }
}
BENCHMARK(BM_GainFromSets)->Name("ApplyGainFromSets")->MinWarmUpTime(0.2)->Apply(BestOfFive);

void BM_BadPixelMapFromFile(benchmark::State& state) {
    PrintedReport report;
    Frame f = D().image;
    for (auto _ : state) ApplyBadPixelMap(f.data(), kSide, kSide, F().strCal, report);
}
BENCHMARK(BM_BadPixelMapFromFile)->Name("ApplyBadPixelMap")->MinWarmUpTime(0.2)->Apply(BestOfFive);

void BM_WriteImage(benchmark::State& state) {
    for (auto _ : state) WriteRawFile(F().strImages + "IMAGE.RAW", D().image.data(), kCut.CutPixels());
}
BENCHMARK(BM_WriteImage)->Name("WriteRawFile")->MinWarmUpTime(0.2)->Apply(BestOfFive);

// The exposure the DICOM cases write: the bench's image with its dark and
// automatic window, as the controller hands it over.
AcquiredImagePtr DicomBenchImage() {
    auto pImage = std::make_shared<CAcquiredImage>();
    pImage->geometry = CImageGeometry{kSide, kSide, 0, 0, 0, 0};
    pImage->pixels = D().image;
    pImage->dark = D().dark;
    pImage->tAcquired = std::chrono::system_clock::now();
    pImage->autoWindow = ComputeAutoWindow(pImage->pixels.data(), kSide, kSide);
    return pImage;
}

// The DICOM sink on a finished 3072 x 3072 exposure, from the hand-over to
// the file on disk (the writer's thread, waited for); each file is removed
// untimed, so the folder does not grow.
void BM_DicomFile(benchmark::State& state) {
    namespace fs = std::filesystem;
    const bool bJpegLs = state.range(0) != 0;
    const std::string strFolder = F().strImages + (bJpegLs ? "dicom-jpegls/" : "dicom/");
    const std::string strIni = F().strImages + (bJpegLs ? "jpegls.ini" : "explicit.ini");
    WriteProfileText(strIni, "DICOM", "FOLDER", strFolder);
    WriteProfileText(strIni, "DICOM", "TRANSFER", bJpegLs ? "jpegls" : "explicit");
    NullStatus ui;
    CQueuedExecutor executor;
    dicom::CDicomSink sink(ui, strIni, F().strImages, executor);
    const AcquiredImagePtr pShared = DicomBenchImage();
    for (auto _ : state) {
        sink.OnImageAcquired(pShared);
        sink.Finish();
        state.PauseTiming();
        if (sink.LastFile().empty() || !sink.LastError().empty()) state.SkipWithError(sink.LastError().c_str());
        std::error_code ec;
        fs::remove(sink.LastFile(), ec);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_DicomFile)->Name("DicomFile/explicit")->Arg(0)->MinWarmUpTime(0.2)->Apply(BestOfFive);
BENCHMARK(BM_DicomFile)->Name("DicomFile/jpegls")->Arg(1)->Apply(BestOfFive);

// What the window thread spends on a DICOM file: the hand-over to the
// writer's thread (the file itself is waited for untimed).
void BM_DicomHandOver(benchmark::State& state) {
    const std::string strIni = F().strImages + "handover.ini";
    WriteProfileText(strIni, "DICOM", "FOLDER", F().strImages + "dicom-handover/");
    WriteProfileText(strIni, "DICOM", "TRANSFER", "jpegls");
    NullStatus ui;
    CQueuedExecutor executor;
    dicom::CDicomSink sink(ui, strIni, F().strImages, executor);
    const AcquiredImagePtr pShared = DicomBenchImage();
    for (auto _ : state) {
        sink.OnImageAcquired(pShared);
        state.PauseTiming();
        sink.Finish();
        std::error_code ec;
        std::filesystem::remove(sink.LastFile(), ec);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_DicomHandOver)->Name("DicomFile/window-thread")->Iterations(5)->Unit(benchmark::kMillisecond);

void BM_ExposureIndex(benchmark::State& state) {
    const dicom::CSignalSource src{D().image.data(), D().dark.data(), 0, kSide, kSide};
    for (auto _ : state) benchmark::DoNotOptimize(dicom::ComputeExposureIndex(src, {}));
}
BENCHMARK(BM_ExposureIndex)->Name("ExposureIndex")->Apply(BestOfFive);

// Over a gain correction: the value of interest from the signal before the
// correction's limit (raw frame, dark, reference bright of level 10000).
void BM_ExposureIndexGain(benchmark::State& state) {
    Frame corrected = D().image;
    GainCorrect(corrected.data(), D().dark.data(), D().bright.data(), 10000, kPixels);
    const dicom::CSignalSource src{corrected.data(), nullptr, 0, kSide, kSide};
    const dicom::CGainInputs gain{D().image.data(), D().dark.data(), D().bright.data(), 10000, kSide, 0, 0};
    for (auto _ : state) benchmark::DoNotOptimize(dicom::ComputeExposureIndex(src, {}, &gain));
}
BENCHMARK(BM_ExposureIndexGain)->Name("ExposureIndex/gain")->Apply(BestOfFive);

void BM_LiteralSequence(benchmark::State& state) {
    Frame f(kPixels);
    const CImageGeometry g = kCut;
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(f.data(), D().image.data(), kFrameBytes);
        state.ResumeTiming();
        literal::ProcessExposureImage(f.data(), kSide, kSide, g.nCutTop, g.nCutBottom, g.nCutLeft, g.nCutRight, 20,
                                      F().strCal, F().strImages + "LITERAL.RAW");
    }
}
BENCHMARK(BM_LiteralSequence)->Name("Sequence/literal")->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_LiteralMedian(benchmark::State& state) {
    Frame f = D().image;
    for (auto _ : state) literal::MedianFilter3x3(f.data(), kSide, kSide);
}
BENCHMARK(BM_LiteralMedian)->Name("MedianFilter3x3/literal")->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_LiteralMakeBpm(benchmark::State& state) {
    Frame map(kPixels);
    for (auto _ : state) literal::MakeBpm(D().dark.data(), D().bright.data(), kSide, kSide, 8, 8, 500, 600, map.data());
}
BENCHMARK(BM_LiteralMakeBpm)->Name("MakeBadPixelMap/literal")->Iterations(1)->Unit(benchmark::kMillisecond);

// ---- Summary -----------------------------------------------------------------

// The console output, then one table: each step, its anchor, the ratio and the target.
class SummaryReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        // The best of the repetitions where there are some, else the one run.
        for (const Run& r : runs) {
            if (r.error_occurred) continue;
            const bool bBest = r.run_type == Run::RT_Aggregate && r.aggregate_name == "min";
            if (bBest || (r.run_type == Run::RT_Iteration && !m_ms.count(r.run_name.function_name))) {
                m_ms[r.run_name.function_name] = r.GetAdjustedRealTime();  // milliseconds
                m_cpu[r.run_name.function_name] = r.GetAdjustedCPUTime();
            }
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        struct Row {
            const char* szStep;
            const char* szAnchor;  // nullptr: an absolute limit in ms
            double dLimit;
            bool bCpu = false;  // one thread: judged by CPU time, which other work on a shared core leaves out
        };
        const Row rows[] = {
            {"MirrorRows", "Memcpy/frame", 4.0},
            {"ApplyOffset", "Memcpy/frame", 4.0},
            {"CutImage", "Memcpy/cut", 4.0},
            {"LutConvert/1t", "Memcpy/lut/1t", 4.0, true},
            {"LutConvert/all", "Memcpy/lut/all", 4.0},
            {"GainCorrect", "Memcpy/gain", 4.0},
            {"BadPixelCorrect", "Memcpy/frame", 0.0},
            {"MedianFilter3x3/1t", "OpenCV medianBlur/1t", 0.8, true},
            {"MedianFilter3x3/baseline/1t", "OpenCV medianBlur/1t", 0.0, true},
            {"MedianFilter3x3/inplace/1t", "OpenCV medianBlur/1t", 0.0, true},
            {"MedianFilter3x3/all", "OpenCV medianBlur/all", 0.8},
            {"MedianFilter3x3/literal", "MedianFilter3x3/1t", 0.0},
            {"MakeBadPixelMap", nullptr, 100.0},
            {"MakeBadPixelMap/literal", "MakeBadPixelMap", 0.0},
            {"Sequence", nullptr, 40.0},
            {"ExposurePath", nullptr, 40.0},
            {"ExposurePath/files changed", nullptr, 0.0},
            {"DicomFile/explicit", nullptr, 30.0},
            {"DicomFile/jpegls", nullptr, 300.0},
            {"ExposureIndex", "Memcpy/frame", 0.0},
            {"Sequence/literal", "Sequence", 0.0},
        };
        std::printf("\n%-26s %10s  %-20s %10s %8s  %-12s %s\n", "step", "ms", "anchor", "anchor ms", "ratio", "target",
                    "");
        int nMissed = 0;
        for (const Row& row : rows) {
            auto it = m_ms.find(row.szStep);
            if (it == m_ms.end()) continue;
            const double ms = row.bCpu ? m_cpu[row.szStep] : it->second;
            char szTarget[32] = "";
            const char* szVerdict = "";
            if (!row.szAnchor) {
                if (row.dLimit > 0) {
                    std::snprintf(szTarget, sizeof szTarget, "< %.0f ms", row.dLimit);
                    szVerdict = ms < row.dLimit ? "ok" : "MISSED";
                }
                std::printf("%-26s %10.3f  %-20s %10s %8s  %-12s %s\n", row.szStep, ms, "-", "-", "-", szTarget,
                            szVerdict);
            } else {
                auto a = m_ms.find(row.szAnchor);
                if (a == m_ms.end()) {
                    std::printf("%-26s %10.3f  %-20s %10s\n", row.szStep, ms, row.szAnchor, "(absent)");
                    continue;
                }
                const double dAnchor = row.bCpu ? m_cpu[row.szAnchor] : a->second;
                const double dRatio = ms / dAnchor;
                if (row.dLimit > 0) {
                    std::snprintf(szTarget, sizeof szTarget, "<= %.1f x", row.dLimit);
                    szVerdict = dRatio <= row.dLimit ? "ok" : "MISSED";
                }
                std::printf("%-26s %10.3f  %-20s %10.3f %8.2f  %-12s %s%s\n", row.szStep, ms, row.szAnchor, dAnchor,
                            dRatio, szTarget, szVerdict, row.bCpu ? " (cpu)" : "");
            }
            if (std::strcmp(szVerdict, "MISSED") == 0) ++nMissed;
        }
        std::printf("(cpu): one-thread rows compare CPU times, the rest real times; threads: %zu of %zu CPUs\n",
                    ThreadCount(), AffinityCpuCount());
        std::printf("kernels: %s; %s\n", SupportedSimdLevel() == SimdLevel::Avx2 ? "AVX2" : "x86-64 baseline",
                    nMissed ? "some targets MISSED" : "every target met");
    }

private:
    std::map<std::string, double> m_ms, m_cpu;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    // Frames and calibration files are made before any timing starts.
    D();
    F();
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
