#include "imaging/CalibrationStore.h"
#include "imaging/ImagePipeline.h"
#include "imaging/Parallel.h"
#include "imaging/RawFile.h"

#include "ImagingTestSupport.h"
#include "LiteralRules.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace orvi {
namespace {

using test::DetectorFrame;
using test::Frame;
using test::TempDir;

class ExposureImage : public ::testing::Test {
protected:
    void SetUp() override {
        m_settings.strCalFolder = m_cal.dir();
        m_settings.nOffsetControl = 37;
    }
    void Calibrate(int32_t w, int32_t h) {
        test::WriteRaw(m_cal.file("BRIGHT_09000.RAW"), DetectorFrame(w, h, 9000, 200, 1));
        test::WriteRaw(m_cal.file("BRIGHT_12000.RAW"), DetectorFrame(w, h, 12000, 200, 2));
        test::WriteRaw(m_cal.file("DARK_00300.RAW"), DetectorFrame(w, h, 300, 30, 3));
        Frame map(size_t(w) * h, 0);
        for (size_t i = 5; i < map.size(); i += 97) map[i] = 8192;
        test::WriteRaw(m_cal.file("BPM.RAW"), map);
    }
    TempDir m_cal, m_images;
    test::RecordingReport m_ui;
    CImageSettings m_settings;
};

TEST_F(ExposureImage, SequenceEqualsTheLiteralSteps) {
    CImageGeometry g{80, 60, 2, 3, 4, 5};
    Calibrate(g.nWidth, g.nHeight);
    m_settings.geometry = g;
    Frame image = DetectorFrame(g.nWidth, g.nHeight, 5000, 500, 4);
    Frame expected = image;
    ASSERT_TRUE(literal::ProcessExposureImage(expected.data(), g.nWidth, g.nHeight, 2, 3, 4, 5, 37, m_cal.dir(),
                                              m_images.file("literal.RAW")));
    ASSERT_TRUE(ProcessExposureImage(image.data(), m_settings, m_images.file("IMAGE.RAW"), m_ui));
    EXPECT_TRUE(m_ui.boxes.empty());
    EXPECT_EQ(test::ReadFile(m_images.file("IMAGE.RAW")), test::ReadFile(m_images.file("literal.RAW")));
    EXPECT_EQ(test::ReadFile(m_images.file("IMAGE.RAW")).size(), size_t(71) * 55 * 2);
}

// The steps run a band of rows at a time, the bands' file pieces written
// while the next band is worked on: file and frame equal the literal steps on
// the whole frame, whatever the bands, cuts, threads and instruction set.
struct CBandCase {
    const char* szName;
    CImageGeometry g;
    int32_t nOffset, nMedian, nBandRows;
    bool bStore;  // the set from the calibration store, the dark from memory
};

void PrintTo(const CBandCase& c, std::ostream* os) { *os << c.szName; }

class BandedExposureImage : public ExposureImage, public ::testing::WithParamInterface<CBandCase> {};

TEST_P(BandedExposureImage, EqualsTheLiteralStepsOnTheWholeFrame) {
    const CBandCase& c = GetParam();
    const CImageGeometry& g = c.g;
    Calibrate(g.nWidth, g.nHeight);
    const Frame dark = test::ReadRaw(m_cal.file("DARK_00300.RAW"));
    const Frame image = test::RandomFrame(g.nWidth, g.nHeight, 7);
    Frame expected = image;
    ASSERT_TRUE(literal::ApplyGainFromSets(expected.data(), g.nWidth, g.nHeight, m_cal.dir()));
    if (c.nOffset != 0) literal::ApplyOffset(expected.data(), expected.size(), c.nOffset);
    ASSERT_TRUE(literal::ApplyBadPixelMap(expected.data(), g.nWidth, g.nHeight, m_cal.dir()));
    if (c.nMedian != 0) literal::MedianFilter3x3(expected.data(), g.nWidth, g.nHeight);
    literal::CutImage(expected.data(), g.nWidth, g.nHeight, g.nCutTop, g.nCutBottom, g.nCutLeft, g.nCutRight);
    expected.resize(g.CutPixels());

    CCalibrationStore store;
    CExposureWorkspace workspace;
    m_settings.geometry = g;
    m_settings.nOffsetControl = c.nOffset;
    m_settings.nMedianFilter = c.nMedian;
    m_settings.nBandRows = c.nBandRows;
    m_settings.pWorkspace = &workspace;
    if (c.bStore) {
        m_settings.pCalibrationStore = &store;
        m_settings.pDarkInMemory = dark.data();
        m_settings.strDarkInMemory = "DARK_00300.RAW";
    }
    for (SimdLevel eLevel : test::SimdLevels())
        for (size_t nThreads : {size_t{1}, size_t{0}}) {
            SCOPED_TRACE(test::SimdName(eLevel) + (nThreads == 1 ? " one thread" : " all threads"));
            test::SimdScope simd(eLevel);
            LimitThreads(nThreads);
            Frame frame = image;
            const bool bSaved = ProcessExposureImage(frame.data(), m_settings, m_images.file("IMAGE.RAW"), m_ui);
            LimitThreads(0);
            ASSERT_TRUE(bSaved);
            EXPECT_EQ(test::ReadRaw(m_images.file("IMAGE.RAW")), expected);
            frame.resize(g.CutPixels());
            EXPECT_EQ(frame, expected);
        }
    EXPECT_TRUE(m_ui.boxes.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BandedExposureImage,
    ::testing::Values(CBandCase{"NoCutOneRowLeftInTheLastBand", {40, 33, 0, 0, 0, 0}, 37, 1, 4, false},
                      CBandCase{"CutsOnEverySide", {70, 61, 3, 5, 2, 6}, 37, 1, 4, true},
                      CBandCase{"CutsKeepingTheUnfilteredEdges", {70, 61, 0, 0, 0, 0}, 0, 1, 5, true},
                      CBandCase{"BandEdgesOnTheCut", {48, 64, 8, 8, 1, 1}, -20, 1, 8, false},
                      CBandCase{"NoMedian", {64, 40, 2, 3, 4, 5}, 0, 0, 4, true},
                      CBandCase{"NarrowerThanAVector", {9, 30, 1, 1, 1, 1}, 37, 1, 4, false},
                      CBandCase{"FourRows", {32, 4, 0, 0, 0, 0}, 37, 1, 4, false},
                      CBandCase{"ThreeRowsUnfiltered", {32, 3, 0, 1, 0, 0}, 37, 1, 4, false},
                      CBandCase{"OneBandOfAutomaticSize", {300, 200, 4, 4, 4, 4}, 37, 1, 0, true}),
    [](const ::testing::TestParamInfo<CBandCase>& info) { return std::string(info.param.szName); });

TEST_F(ExposureImage, MissingCalibrationIsReportedAndTheImageStillSaved) {
    m_settings.geometry = CImageGeometry{16, 8, 0, 0, 0, 0};
    Frame image(16 * 8, 20000);
    ASSERT_TRUE(ProcessExposureImage(image.data(), m_settings, m_images.file("IMAGE.RAW"), m_ui));
    EXPECT_EQ(m_ui.texts(), (std::vector<std::string>{"Need more bright files!!", "BPM file open fail!!"}));
    // The offset and the median limit the values to 16383.
    Frame saved = test::ReadRaw(m_images.file("IMAGE.RAW"));
    EXPECT_EQ(saved[1 * 16 + 1], 16383);
}

TEST_F(ExposureImage, FullFrameWithoutCutIs18874368Bytes) {
    // Full-size calibration data: the correction works on frame-sized buffers.
    const int32_t kSide = 3072;
    const size_t n = size_t(kSide) * kSide;
    test::WriteRaw(m_cal.file("BRIGHT_10000.RAW"), Frame(n, 5000));
    test::WriteRaw(m_cal.file("DARK_00100.RAW"), Frame(n, 100));
    Frame map(n, 0);
    map[n / 2] = 8192;
    test::WriteRaw(m_cal.file("BPM.RAW"), map);
    m_settings.geometry = CImageGeometry{kSide, kSide, 0, 0, 0, 0};
    m_settings.nOffsetControl = 0;
    Frame image(n, 1100);
    image[n / 2] = 16000;
    ASSERT_TRUE(ProcessExposureImage(image.data(), m_settings, m_images.file("IMAGE.RAW"), m_ui));
    EXPECT_TRUE(m_ui.boxes.empty());
    EXPECT_EQ(std::filesystem::file_size(m_images.file("IMAGE.RAW")), 18874368u);
    Frame saved = test::ReadRaw(m_images.file("IMAGE.RAW"));
    EXPECT_EQ(saved[n / 2], 2000);  // (10000 / 5000) x (1100 - 100), the marked pixel from its neighbours
    EXPECT_EQ(std::count(saved.begin(), saved.end(), 2000), std::ptrdiff_t(n));
}

TEST_F(ExposureImage, ImageThatCannotBeWrittenIsReported) {
    m_settings.geometry = CImageGeometry{16, 8, 0, 0, 0, 0};
    m_settings.nCalibration = 0;
    Frame image(16 * 8, 100);
    test::WriteFile(m_images.file("file"), "x");
    EXPECT_FALSE(ProcessExposureImage(image.data(), m_settings, m_images.file("file") + "/IMAGE.RAW", m_ui));
    EXPECT_EQ(m_ui.texts(), std::vector<std::string>{"Image file creation fail!!"});
}

}  // namespace
}  // namespace orvi
