// The gain correction holds only the dark and the reference bright in memory,
// however many bright files the folder has. This binary counts every byte
// obtained through operator new to show it.
#include "imaging/Calibration.h"
#include "imaging/CalibrationStore.h"
#include "imaging/FrameBuffer.h"
#include "imaging/ImagePipeline.h"
#include "imaging/RawFile.h"

#include "ImagingTestSupport.h"
#include "LiteralRules.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

// The replaced operators below hand out malloc'd blocks; the compiler cannot
// see that every path pairs them correctly and warns about the free().
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace {

std::atomic<size_t> g_nLive{0};
std::atomic<size_t> g_nPeak{0};
constexpr size_t kHeader = 16;  // keeps the pointer handed out aligned as malloc's

void* Allocate(size_t n) {
    auto* p = static_cast<unsigned char*>(std::malloc(n + kHeader));
    if (!p) return nullptr;
    *reinterpret_cast<size_t*>(p) = n;
    size_t nLive = g_nLive.fetch_add(n) + n;
    for (size_t nPeak = g_nPeak.load(); nLive > nPeak && !g_nPeak.compare_exchange_weak(nPeak, nLive);) {}
    return p + kHeader;
}

void Release(void* pUser) {
    if (!pUser) return;
    auto* p = static_cast<unsigned char*>(pUser) - kHeader;
    g_nLive.fetch_sub(*reinterpret_cast<size_t*>(p));
    std::free(p);
}

// Peak of the bytes held, measured from the moment of construction.
class PeakMeter {
public:
    PeakMeter() : m_nBase(g_nLive.load()) { g_nPeak.store(m_nBase); }
    size_t PeakAboveStart() const { return g_nPeak.load() - m_nBase; }

private:
    size_t m_nBase;
};

}  // namespace

void* operator new(size_t n) {
    if (void* p = Allocate(n)) return p;
    throw std::bad_alloc();
}
void* operator new[](size_t n) { return ::operator new(n); }
void* operator new(size_t n, const std::nothrow_t&) noexcept { return Allocate(n); }
void* operator new[](size_t n, const std::nothrow_t&) noexcept { return Allocate(n); }
void operator delete(void* p) noexcept { Release(p); }
void operator delete[](void* p) noexcept { Release(p); }
void operator delete(void* p, size_t) noexcept { Release(p); }
void operator delete[](void* p, size_t) noexcept { Release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { Release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { Release(p); }

namespace orvi {
namespace {

using test::Frame;

TEST(GainMemory, HundredBrightFilesHoldOnlyTwoFrames) {
    // Frames of this size come from operator new (frame-sized ones are mapped
    // for huge pages), so the count sees them: at least two frames must show.
    constexpr int32_t kW = 512, kH = 512;
    constexpr size_t kFrameBytes = size_t(kW) * kH * 2;
    static_assert(kFrameBytes < CFrameBuffer::kMappedBytes);
    test::TempDir dir;
    for (int32_t i = 0; i < 100; ++i)
        test::WriteRaw(dir.file(LevelFileName(kPrefixBright, 5000 + 97 * i)), test::RandomFrame(kW, kH, uint32_t(i)));
    test::WriteRaw(dir.file("DARK_00100.RAW"), test::RandomFrame(kW, kH, 1000));
    Frame image = test::RandomFrame(kW, kH, 2000);
    Frame expected = image;
    literal::ApplyGainFromSets(expected.data(), kW, kH, dir.dir());

    test::RecordingReport ui;
    size_t nPeak = 0;
    {
        PeakMeter meter;
        CGainResult r = ApplyGainFromSets(image.data(), kW, kH, dir.dir(), ui);
        nPeak = meter.PeakAboveStart();
        EXPECT_TRUE(r.bApplied);
        EXPECT_EQ(r.strReferenceFile, "BRIGHT_10044.RAW");
    }
    EXPECT_EQ(image, expected);
    EXPECT_TRUE(ui.boxes.empty());
    // The dark, the reference and the 64 Ki-entry quotient table (512 KiB),
    // plus the listing: well below a third frame.
    const size_t nQuotientTable = 65536 * sizeof(double);
    EXPECT_GE(nPeak, 2 * kFrameBytes);
    EXPECT_LT(nPeak, 2 * kFrameBytes + nQuotientTable + kFrameBytes / 4) << nPeak;
}

// The exposure path with the calibration store and the dark in memory: once
// the set is loaded, a further exposure obtains no frame-sized buffer (only the
// gain's quotient table and small ones), and each exposure's result equals
// the rules on the folder's files.
TEST(GainMemory, StoredSetMakesNoFrameSizedBufferPerExposure) {
    constexpr int32_t kW = 1024, kH = 1024;
    constexpr size_t kFrameBytes = size_t(kW) * kH * 2;
    static_assert(kFrameBytes < CFrameBuffer::kMappedBytes);  // counted: it comes from operator new
    test::TempDir dir;
    for (int32_t i = 0; i < 20; ++i)
        test::WriteRaw(dir.file(LevelFileName(kPrefixBright, 8000 + 211 * i)), test::RandomFrame(kW, kH, uint32_t(i)));
    const Frame dark = test::RandomFrame(kW, kH, 1000);
    test::WriteRaw(dir.file("DARK_00100.RAW"), dark);
    Frame map(size_t(kW) * kH, 0);
    for (size_t i = 0; i < map.size(); i += 997) map[i] = 8192;
    test::WriteRaw(dir.file("BPM.RAW"), map);

    CCalibrationStore store;
    test::RecordingReport ui;
    for (int nExposure = 0; nExposure < 3; ++nExposure) {
        Frame image = test::RandomFrame(kW, kH, 2000 + uint32_t(nExposure));
        Frame expected = image;
        literal::ApplyGainFromSets(expected.data(), kW, kH, dir.dir());
        literal::ApplyBadPixelMap(expected.data(), kW, kH, dir.dir());
        size_t nPeak = 0;
        {
            PeakMeter meter;
            auto pSet = store.Get(dir.dir(), kW, kH);
            ApplyGainFromSets(image.data(), kW, kH, dir.dir(), ui, dark.data(), "DARK_00100.RAW", pSet.get());
            ApplyBadPixelMap(image.data(), kW, kH, dir.dir(), ui, pSet.get());
            nPeak = meter.PeakAboveStart();
        }
        EXPECT_EQ(image, expected) << nExposure;
        if (nExposure == 0)
            EXPECT_GE(nPeak, 2 * kFrameBytes);  // the first loads the reference and the map
        else
            EXPECT_LT(nPeak, kFrameBytes / 2) << nExposure;
    }
    EXPECT_EQ(store.Generation(), 1u);
    EXPECT_TRUE(ui.boxes.empty());
}

// The whole exposure path with the station's store and workspace: after the
// first image no frame-sized buffer is obtained (the cut image's buffer is
// kept, the calibration comes from the set), and the file holds the image.
TEST(GainMemory, ExposurePathObtainsNoFrameSizedBufferAfterTheFirstImage) {
    constexpr int32_t kW = 1024, kH = 1024;
    constexpr size_t kFrameBytes = size_t(kW) * kH * 2;
    static_assert(kFrameBytes < CFrameBuffer::kMappedBytes);  // counted: it comes from operator new
    test::TempDir cal, images;
    test::WriteRaw(cal.file("BRIGHT_10000.RAW"), test::RandomFrame(kW, kH, 1));
    const Frame dark = test::RandomFrame(kW, kH, 2);
    Frame map(size_t(kW) * kH, 0);
    for (size_t i = 0; i < map.size(); i += 997) map[i] = 8192;
    test::WriteRaw(cal.file("BPM.RAW"), map);

    CCalibrationStore store;
    CExposureWorkspace workspace;
    CImageSettings s;
    s.geometry = CImageGeometry{kW, kH, 2, 2, 3, 3};
    s.strCalFolder = cal.dir();
    s.pCalibrationStore = &store;
    s.pWorkspace = &workspace;
    s.pDarkInMemory = dark.data();
    s.strDarkInMemory = "DARK_00100.RAW";
    test::RecordingReport ui;
    for (int nExposure = 0; nExposure < 3; ++nExposure) {
        Frame image = test::RandomFrame(kW, kH, 2000 + uint32_t(nExposure));
        size_t nPeak = 0;
        {
            PeakMeter meter;
            ASSERT_TRUE(ProcessExposureImage(image.data(), s, images.file("IMAGE.RAW"), ui));
            nPeak = meter.PeakAboveStart();
        }
        image.resize(s.geometry.CutPixels());
        EXPECT_EQ(test::ReadRaw(images.file("IMAGE.RAW")), image) << nExposure;
        if (nExposure == 0)
            EXPECT_GE(nPeak, 2 * kFrameBytes);  // the set and the cut image's buffer
        else
            EXPECT_LT(nPeak, kFrameBytes / 2) << nExposure;
    }
    EXPECT_TRUE(ui.boxes.empty());
}

}  // namespace
}  // namespace orvi
