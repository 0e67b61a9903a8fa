// The exposure index arithmetic on known images, the exposed field, the
// action levels of the deviation index and the auto window.
#include "display/AutoWindow.h"
#include "export/dicom/ExposureIndex.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace orvi::dicom {
namespace {

struct CImage {
    int32_t nWidth, nHeight;
    std::vector<uint16_t> pixels;
    CSignalSource Source(const uint16_t* pDark = nullptr, int32_t nOffset = 0) const {
        return {pixels.data(), pDark, nOffset, nWidth, nHeight};
    }
};

CImage Uniform(int32_t w, int32_t h, uint16_t v) { return {w, h, std::vector<uint16_t>(size_t(w) * h, v)}; }

TEST(ExposureIndex, UniformImage) {
    // 4000 grey levels at 4000 per uGy: K = 1 uGy, EI = 100, DI = 10 log10(100 / 250).
    const CImage img = Uniform(64, 48, 4000);
    const CExposureIndex ei = ComputeExposureIndex(img.Source(), {});
    ASSERT_TRUE(ei.bValid);
    EXPECT_EQ(ei.nValueOfInterest, 4000u);
    EXPECT_DOUBLE_EQ(ei.dKermaUGy, 1.0);
    EXPECT_DOUBLE_EQ(ei.dEI, 100.0);
    EXPECT_DOUBLE_EQ(ei.dTargetEI, 250.0);
    EXPECT_NEAR(ei.dDI, 10.0 * std::log10(0.4), 1e-12);
    // The whole image is the field; the region its central half each way.
    EXPECT_EQ(ei.field.nLeft, 0);
    EXPECT_EQ(ei.field.nWidth, 64);
    EXPECT_EQ(ei.region.nLeft, 16);
    EXPECT_EQ(ei.region.nTop, 12);
    EXPECT_EQ(ei.region.nWidth, 32);
    EXPECT_EQ(ei.region.nHeight, 24);
}

TEST(ExposureIndex, WedgeTakesTheMedianOfTheCentralRegionOnly) {
    // Columns rise by 100 from 5000: the central half (columns 25..74 of 100)
    // holds 7500..12400, median (lower middle of 50 values) 9900.
    CImage img{100, 20, {}};
    for (int32_t y = 0; y < img.nHeight; ++y)
        for (int32_t x = 0; x < img.nWidth; ++x) img.pixels.push_back(uint16_t(5000 + 100 * x));
    const CExposureIndex ei = ComputeExposureIndex(img.Source(), {50, 4000.0, 250.0});
    ASSERT_TRUE(ei.bValid);
    EXPECT_EQ(ei.nValueOfInterest, 9900u);
    EXPECT_DOUBLE_EQ(ei.dEI, 247.5);
    EXPECT_NEAR(ei.dDI, 10.0 * std::log10(247.5 / 250.0), 1e-12);
}

TEST(ExposureIndex, TheDarkAndTheOffsetAreNotSignal) {
    const CImage img = Uniform(32, 32, 5100);
    const std::vector<uint16_t> dark(img.pixels.size(), 1000);
    const CExposureIndex ei = ComputeExposureIndex(img.Source(dark.data(), 100), {});
    EXPECT_EQ(ei.nValueOfInterest, 4000u);
    // A dark above the pixel is no negative signal.
    const CImage low = Uniform(32, 32, 500);
    EXPECT_FALSE(ComputeExposureIndex(low.Source(dark.data()), {}).bValid);
}

TEST(ExposureIndex, TheCollimatedFieldIsFoundAndItsCentreMeasured) {
    // A 40 x 30 field at (50, 20) of a 120 x 80 image, 8000 inside, 0 outside,
    // and a bright scatter stripe left of the field's centre column range.
    CImage img = Uniform(120, 80, 0);
    for (int32_t y = 20; y < 50; ++y)
        for (int32_t x = 50; x < 90; ++x) img.pixels[size_t(y) * 120 + x] = 8000;
    for (int32_t y = 20; y < 50; ++y) img.pixels[size_t(y) * 120 + 52] = 16000;
    const CExposureIndex ei = ComputeExposureIndex(img.Source(), {});
    EXPECT_EQ(ei.field.nLeft, 50);
    EXPECT_EQ(ei.field.nTop, 20);
    EXPECT_EQ(ei.field.nWidth, 40);
    EXPECT_EQ(ei.field.nHeight, 30);
    EXPECT_EQ(ei.region.nLeft, 60);
    EXPECT_EQ(ei.region.nWidth, 20);
    EXPECT_EQ(ei.nValueOfInterest, 8000u);
    EXPECT_DOUBLE_EQ(ei.dEI, 200.0);
}

TEST(ExposureIndex, AnEmptyImageOrRegionHasNoIndex) {
    const CImage black = Uniform(16, 16, 0);
    EXPECT_FALSE(ComputeExposureIndex(black.Source(), {}).bValid);
    EXPECT_TRUE(ExposedField(black.Source()).IsEmpty());
    const CImage img = Uniform(16, 16, 3000);
    EXPECT_FALSE(ComputeExposureIndex(img.Source(), {0, 4000.0, 250.0}).bValid);
    EXPECT_FALSE(ComputeExposureIndex(CSignalSource{}, {}).bValid);
    // A one-pixel image still has a region of one pixel.
    const CImage one = Uniform(1, 1, 4000);
    EXPECT_DOUBLE_EQ(ComputeExposureIndex(one.Source(), {}).dEI, 100.0);
}

TEST(ExposureIndex, OverAGainCorrectionTheSignalBeforeItsLimitCounts) {
    // A 6 x 4 detector frame cut by one column left and one row top to a
    // 5 x 3 image; the corrected image holds L = 1000 everywhere (limited),
    // while (L / g) x (v - d) is 1000 / 125 x 1500 = 12000, and 2 x that
    // where the reference is half as bright: values past 16 bits.
    const int32_t nStride = 6, nFrameHeight = 4;
    std::vector<uint16_t> raw(size_t(nStride) * nFrameHeight, 2000), dark(raw.size(), 500), ref(raw.size(), 125);
    for (int32_t y = 0; y < nFrameHeight; ++y) ref[size_t(y) * nStride + 3] = 0;  // g = 0 gives 0
    const CImage img = Uniform(5, 3, 1000);
    CGainInputs gain{raw.data(), dark.data(), ref.data(), 1000, nStride, 1, 1};
    const CExposureIndex ei = ComputeExposureIndex(img.Source(), {100, 4000.0, 250.0}, &gain);
    ASSERT_TRUE(ei.bValid);
    // The region is the whole 5 x 3 image; one of its columns (frame column 3) reads 0.
    EXPECT_EQ(ei.nValueOfInterest, 12000u);
    EXPECT_DOUBLE_EQ(ei.dEI, 300.0);
    // Without the gain's inputs the limit shows.
    EXPECT_EQ(ComputeExposureIndex(img.Source(), {100, 4000.0, 250.0}).nValueOfInterest, 1000u);

    // A median among values past 65535: half the reference, 2 x 8 x 10000.
    std::fill(ref.begin(), ref.end(), 62);
    std::fill(raw.begin(), raw.end(), 10500);
    gain.pReference = ref.data();
    const CExposureIndex high = ComputeExposureIndex(img.Source(), {100, 4000.0, 250.0}, &gain);
    EXPECT_EQ(high.nValueOfInterest, uint32_t(1000.0 / 62.0 * 10000.0));
    EXPECT_EQ(ExposureIndexWords(high), "excessive exposure");
}

struct CLevelCase {
    double dDI;
    EDoseLevel level;
    const char* szText;
};

TEST(ExposureIndex, ActionLevelsOfTheDeviationIndex) {
    const CLevelCase cases[] = {
        {3.01, EDoseLevel::Excessive, "excessive exposure"},
        {3.0, EDoseLevel::OverTarget, "over target"},
        {1.0, EDoseLevel::OverTarget, "over target"},
        {0.99, EDoseLevel::NearTarget, "near target"},
        {0.5, EDoseLevel::OnTarget, "on target"},
        {0.0, EDoseLevel::OnTarget, "on target"},
        {-0.5, EDoseLevel::OnTarget, "on target"},
        {-0.7, EDoseLevel::NearTarget, "near target"},
        {-1.0, EDoseLevel::UnderTarget, "under target"},
        {-3.0, EDoseLevel::UnderTarget, "under target"},
        {-3.01, EDoseLevel::Repeat, "underexposed, consider a repeat"},
    };
    for (const CLevelCase& c : cases) {
        EXPECT_EQ(ClassifyDeviation(c.dDI), c.level) << c.dDI;
        EXPECT_STREQ(DoseLevelText(ClassifyDeviation(c.dDI)), c.szText) << c.dDI;
    }
    EXPECT_EQ(DoseLevelColour(EDoseLevel::Repeat), DoseLevelColour(EDoseLevel::Excessive));
    EXPECT_NE(DoseLevelColour(EDoseLevel::OnTarget), DoseLevelColour(EDoseLevel::UnderTarget));

    CExposureIndex ei;
    ei.bValid = ei.bDeviationValid = true;
    ei.dEI = 254.0;
    ei.dDI = 0.07;
    EXPECT_EQ(ExposureIndexText(ei), "EI 254 DI +0.1: on target");
}

// Without a screen the file gets the window the view would have given the
// image: the half-percent points of its exposed field, the zero border and a
// few hot pixels left out.
TEST(AutoWindow, IsTheViewsAutomaticWindow) {
    CImage img = Uniform(100, 12, 0);
    for (int32_t i = 0; i < 1000; ++i) img.pixels[size_t(1 + i / 100) * 100 + size_t(i % 100)] = uint16_t(1000 + i);
    img.pixels[150] = 16000;  // hot
    const CWindow w = AutomaticWindow(img.pixels.data(), 100, 12);
    const CWindowLevel wl = ComputeAutoWindow(img.pixels.data(), 100, 12);
    EXPECT_EQ(w.dWidth, double(wl.nWidth));
    EXPECT_EQ(w.dCenter, double(wl.nLevel));
    EXPECT_LT(w.dWidth, 1100.0);
    EXPECT_GT(w.dCenter, 1400.0);
    EXPECT_LT(w.dCenter, 1600.0);
    // A flat image gets a window of width 1.
    const CImage flat = Uniform(8, 8, 700);
    EXPECT_DOUBLE_EQ(AutomaticWindow(flat.pixels.data(), 8, 8).dWidth, 1.0);
}

}  // namespace
}  // namespace orvi::dicom
