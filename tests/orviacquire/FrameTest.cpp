// What the frames hold: determinism for a seed, the 14-bit range, the buffer
// the host may scribble on, dose, object and amplifier, noise, and the
// library's own corrections with their switches.
#include "orviacquire/SimFixture.h"

#include <algorithm>
#include <cmath>
#include <ostream>

namespace orvi::test {
namespace {

using Frame = std::vector<uint16_t>;
constexpr int32_t kSide = 256;

class FrameTest : public SimFixture {
protected:
    void SetUp() override {
        SimFixture::SetUp();
        m_bKeepFrames = true;
        SetKey("AUTO_FIRE_MS", "1000");
        SetKey("ENABLE_MS", "0");
    }
    Frame Dark(ORVIAcqHandle h) {
        Acquisition_StartClearTimeAcquisition(h, 0);
        m_clock.run_until_idle();
        return m_lastFrame;
    }
    Frame Exposure(ORVIAcqHandle h) {
        Acquisition_StartAecReady(h);
        m_clock.run_until_idle();
        return m_lastFrame;
    }
    std::vector<Frame> Sequence(ORVIAcqHandle h) { return {Dark(h), Exposure(h), Dark(h)}; }

    static std::vector<ORVIAcqSimDefect> Defects(ORVIAcqHandle h) {
        std::vector<ORVIAcqSimDefect> v(static_cast<size_t>(AcquisitionSim_GetDefects(h, nullptr, 0)));
        AcquisitionSim_GetDefects(h, v.data(), static_cast<int32_t>(v.size()));
        return v;
    }
    // Pixels of the frame that are not planted defects.
    static std::vector<uint16_t> GoodPixels(ORVIAcqHandle h, const Frame& f) {
        std::vector<uint8_t> bad(f.size(), 0);
        for (const auto& d : Defects(h))
            for (int32_t y = d.rect.nY; y < d.rect.nY + d.rect.nHeight; ++y)
                for (int32_t x = d.rect.nX; x < d.rect.nX + d.rect.nWidth; ++x) bad[size_t(y) * kSide + size_t(x)] = 1;
        std::vector<uint16_t> v;
        for (size_t i = 0; i < f.size(); ++i)
            if (!bad[i]) v.push_back(f[i]);
        return v;
    }
    static double Mean(const Frame& f) { return MeanOf(f, kSide, 0, 0, kSide, kSide); }
    // Mean of the open beam below the test object.
    static double OpenBeam(const Frame& f) { return MeanOf(f, kSide, 0, 160, kSide, 96); }
};

TEST_F(FrameTest, TheSameSeedGivesTheSameFramesBitForBit) {
    ORVIAcqHandle h = Open();
    const std::vector<Frame> first = Sequence(h);
    EXPECT_NE(first[0], first[2]);  // every frame draws new noise
    Close(h);
    h = Open();
    EXPECT_EQ(Sequence(h), first);

    ORVIAcqHandle hB = Open(1, kPortB, kAdapterB);  // another panel
    EXPECT_NE(Dark(hB), first[0]);
    Close(h);
    Close(hB);
    SetKey("SEED", "4294967295");
    h = Open();
    EXPECT_NE(Dark(h), first[0]);
}

TEST_F(FrameTest, PixelsStayWithin14BitsAndSaturatedPixelsReadFullScale) {
    SetKey("DOSE", "16383");
    ORVIAcqHandle h = Open();
    Acquisition_SetDRConfigPGA(h, 7);
    Acquisition_DRConfigUpdateAll(h);
    for (const Frame& f : Sequence(h)) {
        EXPECT_LE(*std::max_element(f.begin(), f.end()), ORVIACQ_MAX_PIXEL);
        int nSaturatedHot = 0;
        for (const auto& d : Defects(h))
            if (d.nKind == ORVIACQ_DEFECT_HOT && nSaturatedHot++ < 4) {
                EXPECT_EQ(f[size_t(d.rect.nY) * kSide + size_t(d.rect.nX)], ORVIACQ_MAX_PIXEL);
            }
    }
}

TEST_F(FrameTest, TheCalleeMayOverwriteTheWholeBuffer) {
    ORVIAcqHandle h = Open();
    m_onImage = [](ORVIAcqHandle, uint16_t* p) { std::fill(p, p + ORVIACQ_FRAME_PIXELS, uint16_t{0xFFFF}); };
    const std::vector<Frame> scribbled = Sequence(h);
    Close(h);
    m_onImage = nullptr;
    h = Open();
    EXPECT_EQ(Sequence(h), scribbled);
}

TEST_F(FrameTest, DoseObjectAndAmplifierScaleTheSignal) {
    SetKey("NOISE", "0");
    SetKey("DOSE", "8000");
    SetKey("OBJECT", "0");
    ORVIAcqHandle h = Open();
    const Frame dark = Dark(h);
    const double fDark = OpenBeam(dark);
    const double fFull = OpenBeam(Exposure(h)) - fDark;
    EXPECT_NEAR(fFull, 8000.0 * 0.95, 400.0);  // the centre gets DOSE, the edges less

    ASSERT_EQ(AcquisitionSim_SetDose(h, 4000), ORVIACQ_OK);
    EXPECT_NEAR((OpenBeam(Exposure(h)) - fDark) / fFull, 0.5, 0.001);

    Acquisition_SetDRConfigPGA(h, 7);
    Acquisition_DRConfigUpdateAll(h);
    EXPECT_NEAR((OpenBeam(Exposure(h)) - fDark) / fFull, 0.5 * 1.45, 0.001);

    ORVIAcqSimRect r{};
    AcquisitionSim_GetObjectRect(h, &r);
    const double fOut = MeanOf(Exposure(h), kSide, r.nX, r.nY, r.nWidth, r.nHeight);
    ASSERT_EQ(AcquisitionSim_SetObjectIn(h, 1), ORVIACQ_OK);
    const double fIn = MeanOf(Exposure(h), kSide, r.nX, r.nY, r.nWidth, r.nHeight);
    EXPECT_LT(fIn - 1000.0, 0.9 * (fOut - 1000.0));  // the object absorbs
    EXPECT_EQ(Mean(Dark(h)), Mean(dark));            // and none of it shows in a dark
}

TEST_F(FrameTest, NoiseIsAFewGreyLevelsInTheDarkAndCanBeSwitchedOff) {
    ORVIAcqHandle h = Open();
    const Frame a = Dark(h), b = Dark(h);
    double fSum2 = 0.0;
    for (size_t i = 0; i < a.size(); ++i) fSum2 += (double(a[i]) - double(b[i])) * (double(a[i]) - double(b[i]));
    const double fSd = std::sqrt(fSum2 / static_cast<double>(a.size()) / 2.0);
    EXPECT_GT(fSd, 2.5);
    EXPECT_LT(fSd, 4.0);
    Close(h);
    SetKey("NOISE", "0");
    h = Open();
    EXPECT_EQ(Dark(h), Dark(h));
}

struct SwitchCase {
    const char* szName;
    int32_t (*fnSwitch)(ORVIAcqHandle, int32_t);
    const char* szMissing;  // MISSING_CORRECTION
    int32_t nOnResult;
};

void PrintTo(const SwitchCase& c, std::ostream* os) { *os << c.szName; }

class CorrectionSwitchTest : public SimFixture, public ::testing::WithParamInterface<SwitchCase> {};

TEST_P(CorrectionSwitchTest, OnLoadsTheFileAndOffAlwaysWorks) {
    const SwitchCase& c = GetParam();
    SetKey("MISSING_CORRECTION", c.szMissing);
    ORVIAcqHandle h = Open();
    EXPECT_EQ(c.fnSwitch(h, 1), c.nOnResult);
    EXPECT_EQ(c.fnSwitch(h, 0), ORVIACQ_OK);
    EXPECT_EQ(c.fnSwitch(h, 0), ORVIACQ_OK);
}

INSTANTIATE_TEST_SUITE_P(
    Switches, CorrectionSwitchTest,
    ::testing::Values(SwitchCase{"Gain", Correction_SetDoGain, "", ORVIACQ_OK},
                      SwitchCase{"GainFileMissing", Correction_SetDoGain, "gain", ORVIACQ_ERR_CORRECTION_FILE},
                      SwitchCase{"Defect", Correction_SetDoDefect, "GAIN", ORVIACQ_OK},
                      SwitchCase{"DefectFileMissing", Correction_SetDoDefect, "GAIN, DEFECT",
                                 ORVIACQ_ERR_CORRECTION_FILE},
                      SwitchCase{"Offset", Correction_SetDoOffset2, "GAIN DEFECT", ORVIACQ_OK},
                      SwitchCase{"OffsetFileMissing", Correction_SetDoOffset2, "OFFSET", ORVIACQ_ERR_CORRECTION_FILE},
                      SwitchCase{"AutoOffsetNeedsNoFile", Correction_SetAutoOffset, "GAIN,DEFECT,OFFSET", ORVIACQ_OK}),
    [](const auto& info) { return std::string(info.param.szName); });

TEST_F(FrameTest, OffsetCorrectionLeavesAFlatPedestalUnlessItsFileIsMissing) {
    SetKey("NOISE", "0");
    SetKey("MISSING_CORRECTION", "OFFSET");
    ORVIAcqHandle h = Open();
    const Frame dark = Dark(h);
    EXPECT_EQ(Correction_SetDoOffset2(h, 1), ORVIACQ_ERR_CORRECTION_FILE);
    EXPECT_EQ(Dark(h), dark);  // refused: still off
    EXPECT_EQ(Correction_SetAutoOffset(h, 1), ORVIACQ_OK);
    const Frame flat = Dark(h);
    EXPECT_TRUE(std::all_of(flat.begin(), flat.end(), [](uint16_t v) { return v == ORVIACQ_OFFSET_PEDESTAL; }));
    Correction_SetAutoOffset(h, 0);
    EXPECT_EQ(Dark(h), dark);
}

TEST_F(FrameTest, GainAndDefectCorrectionMakeAnOpenFieldUniform) {
    SetKey("NOISE", "0");
    SetKey("OBJECT", "0");
    ORVIAcqHandle h = Open();
    Correction_SetAutoOffset(h, 1);
    Frame f = Exposure(h);
    auto spread = [](const std::vector<uint16_t>& v) {
        auto [lo, hi] = std::minmax_element(v.begin(), v.end());
        return int32_t{*hi} - int32_t{*lo};
    };
    EXPECT_GT(spread(GoodPixels(h, f)), 500);  // fall-off and pixel gains
    ASSERT_EQ(Correction_SetDoGain(h, 1), ORVIACQ_OK);
    f = Exposure(h);
    EXPECT_LE(spread(GoodPixels(h, f)), 1);  // only rounding left
    EXPECT_GT(spread(f), 5000);              // but the dead pixels stay dead
    ASSERT_EQ(Correction_SetDoDefect(h, 1), ORVIACQ_OK);
    f = Exposure(h);
    EXPECT_LE(spread(f), 1);
}

}  // namespace
}  // namespace orvi::test
