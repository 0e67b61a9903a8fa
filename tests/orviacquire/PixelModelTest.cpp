// The pixel model at full size, judged the way a station uses it: a dark
// subtracted from an exposure and divided by a flat field must leave the open
// beam flat, and the defects a bad pixel map finds must be the ones the library
// says it planted.
#include "imaging/BadPixelMap.h"
#include "imaging/RawFile.h"
#include "orviacquire/SimFixture.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <set>

namespace orvi::test {
namespace {

constexpr int32_t kSide = ORVIACQ_FRAME_WIDTH;
constexpr int32_t kBlock = 256;
constexpr int32_t kBlocks = kSide / kBlock;

using Frame = std::vector<uint16_t>;
using Signed = std::vector<int32_t>;

size_t At(int32_t x, int32_t y) { return static_cast<size_t>(y) * kSide + static_cast<size_t>(x); }

class PixelModelTest : public SimFixture {
protected:
    void SetUp() override {
        SimFixture::SetUp();
        SetKey("FRAME_WIDTH", "3072");
        SetKey("FRAME_HEIGHT", "3072");
        m_bKeepFrames = true;
        m_h = Open();
        AcquisitionSim_GetObjectRect(m_h, &m_object);
        const int32_t n = AcquisitionSim_GetDefects(m_h, nullptr, 0);
        m_defects.resize(static_cast<size_t>(n));
        AcquisitionSim_GetDefects(m_h, m_defects.data(), n);
        m_planted.assign(static_cast<size_t>(kSide) * kSide, 0);
        for (const auto& d : m_defects)
            for (int32_t y = d.rect.nY; y < d.rect.nY + d.rect.nHeight; ++y)
                for (int32_t x = d.rect.nX; x < d.rect.nX + d.rect.nWidth; ++x) m_planted[At(x, y)] = 1;
    }

    Frame Dark() {
        Acquisition_StartClearTimeAcquisition(m_h, 0);
        m_clock.run_until_idle();
        return m_lastFrame;
    }
    Frame Exposure(bool bObjectIn) {
        AcquisitionSim_SetObjectIn(m_h, bObjectIn ? 1 : 0);
        Acquisition_StartAecReady(m_h);
        m_clock.run_until_idle();
        return m_lastFrame;
    }
    static Signed Minus(const Frame& a, const Frame& b) {
        Signed d(a.size());
        for (size_t i = 0; i < a.size(); ++i) d[i] = int32_t{a[i]} - int32_t{b[i]};
        return d;
    }
    // First block row wholly below the test object: the open beam.
    int32_t FirstOpenBlockRow() const { return (m_object.nY + m_object.nHeight + kBlock - 1) / kBlock; }

    ORVIAcqHandle m_h = 0;
    ORVIAcqSimRect m_object{};
    std::vector<ORVIAcqSimDefect> m_defects;
    std::vector<uint8_t> m_planted;
};

// Block means of the good pixels of f over the open beam.
template <typename Fn>
std::vector<double> OpenBeamBlockMeans(int32_t nFirstRow, const std::vector<uint8_t>& skip, Fn f) {
    std::vector<double> means;
    for (int32_t by = nFirstRow; by < kBlocks; ++by)
        for (int32_t bx = 0; bx < kBlocks; ++bx) {
            double fSum = 0.0;
            size_t n = 0;
            for (int32_t y = by * kBlock; y < (by + 1) * kBlock; ++y)
                for (int32_t x = bx * kBlock; x < (bx + 1) * kBlock; ++x)
                    if (skip[At(x, y)] == 0) fSum += f(At(x, y)), ++n;
            means.push_back(fSum / static_cast<double>(n));
        }
    return means;
}

double Spread(const std::vector<double>& v) {
    auto [lo, hi] = std::minmax_element(v.begin(), v.end());
    double fMean = 0.0;
    for (double x : v) fMean += x;
    fMean /= static_cast<double>(v.size());
    return (*hi - *lo) / fMean;
}

// The bad pixel map's rules: a pixel is defective when it leaves the refined
// mean of its 256 x 256 block by more than 8 % in the bright or the dark frame,
// or when it stands out from the five-pixel vertical run centred on it by more
// than 500 (bright) or 600 (dark) grey levels.
std::vector<uint8_t> FindDefects(const Signed& bright, const Frame& dark) {
    std::vector<uint8_t> marked(bright.size(), 0);
    for (int32_t by = 0; by < kBlocks; ++by)
        for (int32_t bx = 0; bx < kBlocks; ++bx) {
            auto pixels = [&](auto fn) {
                for (int32_t y = by * kBlock; y < (by + 1) * kBlock; ++y)
                    for (int32_t x = bx * kBlock; x < (bx + 1) * kBlock; ++x) fn(At(x, y));
            };
            double fB = 0.0, fD = 0.0;
            pixels([&](size_t i) { fB += bright[i], fD += dark[i]; });
            fB /= kBlock * kBlock, fD /= kBlock * kBlock;
            auto outlier = [&](size_t i) {
                return bright[i] > 1.5 * fB || bright[i] < 0.5 * fB || dark[i] > 1.5 * fD || dark[i] < 0.5 * fD;
            };
            double fB2 = 0.0, fD2 = 0.0;
            size_t n = 0;
            pixels([&](size_t i) {
                if (!outlier(i)) fB2 += bright[i], fD2 += dark[i], ++n;
            });
            fB2 /= static_cast<double>(n), fD2 /= static_cast<double>(n);
            pixels([&](size_t i) {
                if (bright[i] > fB2 * 1.08 || bright[i] < fB2 * 0.92 || dark[i] > fD2 * 1.08 || dark[i] < fD2 * 0.92)
                    marked[i] = 1;
            });
        }
    for (int32_t x = 0; x < kSide; ++x)
        for (int32_t y = 2; y < kSide - 2; ++y) {
            int64_t nB = 0, nD = 0;
            for (int32_t k = -2; k <= 2; ++k) nB += bright[At(x, y + k)], nD += dark[At(x, y + k)];
            if (std::abs(nB / 5 - bright[At(x, y)]) > 500 || std::abs(nD / 5 - int64_t{dark[At(x, y)]}) > 600)
                marked[At(x, y)] = 1;
        }
    return marked;
}

TEST_F(PixelModelTest, ExposureMinusDarkOverFlatIsFlatAndTheDefectsAreWhereTheLibrarySays) {
    const Frame flat = Exposure(false);
    const Frame dark2 = Dark();
    const Frame image = Exposure(true);
    const Frame dark3 = Dark();
    const Signed bright = Minus(flat, dark2);
    const Signed signal = Minus(image, dark3);

    // The raw open beam falls off towards the edges: the correction has work to do.
    const std::vector<double> raw =
        OpenBeamBlockMeans(FirstOpenBlockRow(), m_planted, [&](size_t i) { return double(signal[i]); });
    ASSERT_EQ(raw.size(), static_cast<size_t>((kBlocks - FirstOpenBlockRow()) * kBlocks));
    ASSERT_GE(raw.size(), 36u);
    EXPECT_GT(Spread(raw), 0.05);

    // After it, every 256 x 256 block of the open beam agrees within 1 %.
    const std::vector<double> corrected = OpenBeamBlockMeans(
        FirstOpenBlockRow(), m_planted, [&](size_t i) { return double(signal[i]) / double(bright[i]); });
    EXPECT_LT(Spread(corrected), 0.01);
    EXPECT_NEAR(corrected.front(), 1.0, 0.01);  // the same dose twice

    // Every kind of defect is planted, and the map's rules find exactly them
    // (and the vertical neighbours the line rule marks beside strong defects).
    std::set<int32_t> kinds;
    for (const auto& d : m_defects) kinds.insert(d.nKind);
    EXPECT_EQ(kinds,
              (std::set<int32_t>{ORVIACQ_DEFECT_HOT, ORVIACQ_DEFECT_DEAD, ORVIACQ_DEFECT_CLUSTER,
                                 ORVIACQ_DEFECT_WEAK_COLUMN, ORVIACQ_DEFECT_BRIGHT_COLUMN, ORVIACQ_DEFECT_BAD_ROW}));
    const std::vector<uint8_t> found = FindDefects(bright, dark2);
    size_t nMissed = 0, nExtra = 0, nPlanted = 0;
    for (int32_t y = 0; y < kSide; ++y)
        for (int32_t x = 0; x < kSide; ++x) {
            const size_t i = At(x, y);
            nPlanted += m_planted[i];
            if (m_planted[i] && !found[i]) ++nMissed;
            if (!found[i] || m_planted[i]) continue;
            bool bBesideOne = false;
            for (int32_t k = -2; k <= 2; ++k)
                if (y + k >= 0 && y + k < kSide && m_planted[At(x, y + k)]) bBesideOne = true;
            if (!bBesideOne) ++nExtra;
        }
    EXPECT_GT(nPlanted, 9000u);  // two rows and three columns make most of them
    EXPECT_EQ(nMissed, 0u);
    EXPECT_EQ(nExtra, 0u);
}

// A panel whose sides are not multiples of 256: the partial blocks at the
// right and bottom edges are judged by the mean of the pixels they have, so
// MAKE BPM marks the planted defects and little else.
class PartialBlockPanel : public SimFixture {};

TEST_F(PartialBlockPanel, BadPixelMapMarksThePlantedDefectsAndFewOthers) {
    constexpr int32_t kW = 1000, kH = 700;
    const size_t nPixels = size_t{kW} * kH;
    SetKey("FRAME_WIDTH", std::to_string(kW));
    SetKey("FRAME_HEIGHT", std::to_string(kH));
    m_bKeepFrames = true;
    const ORVIAcqHandle h = Open();
    AcquisitionSim_SetObjectIn(h, 0);
    Acquisition_StartAecReady(h);
    m_clock.run_until_idle();
    const Frame flat = m_lastFrame;
    Acquisition_StartClearTimeAcquisition(h, 0);
    m_clock.run_until_idle();
    const Frame dark = m_lastFrame;
    ASSERT_EQ(flat.size(), nPixels);
    ASSERT_EQ(dark.size(), nPixels);
    // The bright file as GET BRIGHT writes it: the open beam minus its dark.
    Frame bright = dark;
    BrightMinusDark(flat.data(), bright.data(), nPixels);

    Frame map(nPixels, 0);
    ASSERT_TRUE(MakeBadPixelMap(dark.data(), bright.data(), kW, kH, CBpmThresholds{}, map.data()));

    const int32_t n = AcquisitionSim_GetDefects(h, nullptr, 0);
    std::vector<ORVIAcqSimDefect> defects(static_cast<size_t>(n));
    AcquisitionSim_GetDefects(h, defects.data(), n);
    ASSERT_GT(n, 0);
    size_t nPlanted = 0, nMissed = 0;
    for (const auto& d : defects)
        for (int32_t y = d.rect.nY; y < d.rect.nY + d.rect.nHeight; ++y)
            for (int32_t x = d.rect.nX; x < d.rect.nX + d.rect.nWidth; ++x) {
                ++nPlanted;
                if (map[size_t(y) * kW + size_t(x)] == 0) ++nMissed;
            }
    EXPECT_GT(nPlanted, 0u);
    EXPECT_EQ(nMissed, 0u);
    const size_t nMarked = size_t(std::count(map.begin(), map.end(), kBadPixelMark));
    EXPECT_LT(nMarked, nPixels / 100) << nMarked << " of " << nPixels << " marked";
}

}  // namespace
}  // namespace orvi::test
