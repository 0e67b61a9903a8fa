// Image reception end to end: the darks after an exposure, the files each
// sequence leaves on disk, the board bytes, the calibration pair and the lone
// dark, on the simulated detector in virtual time.
#include "acquisition/FrameFixture.h"
#include "imaging/MessageFiles.h"
#include "imaging/PostProcess.h"
#include "imaging/RawFile.h"
#include "orviacquire/ORVIAcquireLib.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <numeric>
#include <ostream>

namespace orvi::test {
namespace {

using Times = std::vector<uint64_t>;
using Lines = std::vector<std::string>;

constexpr size_t kPixels = size_t{kSide} * kSide;

class ImageReception : public FrameFixture {
protected:
    void SetUp() override {
        FrameFixture::SetUp();
        m_rec.nBoards = 1;
        SetSim("AUTO_FIRE_MS", "0");
    }
    // Acquisition, X-ray 600 ms later: the image arrives at 900 ms.
    void Expose(uint64_t nRunMs = 20000) {
        Acquire();
        FireAt(m_nT0 + 600);
        RunTo(m_nT0 + nRunMs);
    }
    std::vector<uint16_t> Backup() const {
        return {m_pFrame->Reception().ImageBackup().begin(), m_pFrame->Reception().ImageBackup().begin() + kPixels};
    }
    std::string DarkFileOf(const std::vector<uint16_t>& dark) const {
        return LevelFileName(kPrefixDark, FrameMean(dark.data(), dark.size()));
    }
};

// ---- The darks after an image ----------------------------------------------------

struct CDarkCase {
    const char* szName;
    const char* szRepeat;
    int nDarks;                 // darks that arrive
    const char* szRequestLine;  // "%d time(s) Get dark(%d ms)"
    Times settleLines;          // "500ms Atfer,(%d time) get dark" times
    int64_t nProcessedAt;       // "Processing finished.", -1 none
};

void PrintTo(const CDarkCase& c, std::ostream* os) { *os << c.szName; }

class DarkCount : public ImageReception, public ::testing::WithParamInterface<CDarkCase> {};

TEST_P(DarkCount, TakesTheConfiguredDarksAndUsesTheLast) {
    const CDarkCase& c = GetParam();
    SetConfig("REPEAT_GER_DARK", c.szRepeat);
    SetConfig("CALIBRATION", "0");
    Start();
    Expose();

    EXPECT_EQ(Since("Receive Image data"), Times{900});
    EXPECT_EQ(Since(c.szRequestLine), Times{1800});  // after DARK_SLEEP_TERM's 900 ms
    EXPECT_EQ(Since("Succeed to get Dark (After image)").size(), static_cast<size_t>(c.nDarks));
    // A dark arrives 1300 ms after its request (delay 1000 + readout 300); a
    // settling dark is followed by 500 ms before the next request.
    Times settle;
    for (uint64_t t : Since("500ms Atfer,(2 time) get dark")) settle.push_back(t);
    for (uint64_t t : Since("500ms Atfer,(1 time) get dark")) settle.push_back(t);
    for (uint64_t t : Since("500ms Atfer,(3 time) get dark")) settle.push_back(t);
    std::sort(settle.begin(), settle.end());
    EXPECT_EQ(settle, c.settleLines);
    if (c.nProcessedAt < 0) {
        EXPECT_EQ(Since("Processing finished."), Times{});
        EXPECT_FALSE(std::filesystem::exists(m_strImageDir + "IMAGE.RAW"));
        EXPECT_EQ(CalFiles(), Lines{});
        EXPECT_TRUE(Frame().Sequencer().ImageBusy());
    } else {
        EXPECT_EQ(Since("Processing finished."), Times{static_cast<uint64_t>(c.nProcessedAt)});
        EXPECT_TRUE(std::filesystem::exists(m_strImageDir + "IMAGE.RAW"));
        EXPECT_EQ(CalFiles().size(), 1u);
        EXPECT_FALSE(Frame().Sequencer().ImageBusy());
        // The processing blink stopped; only the connection lamp is lit.
        EXPECT_FALSE(m_clock.is_running(TIMER_BLINK));
        EXPECT_EQ(g_byOut1, 0xEF);
        EXPECT_EQ(g_byOut2, 0xFF);
    }
}

INSTANTIATE_TEST_SUITE_P(
    RepeatGetDark, DarkCount,
    ::testing::Values(CDarkCase{"One", "1", 1, "1 time(s) Get dark(900 ms)", {}, 3100},
                      CDarkCase{"Three", "3", 3, "3 time(s) Get dark(900 ms)", {3600, 5400}, 6700},
                      CDarkCase{"ZeroTakesOne", "0", 1, "1 time(s) Get dark(900 ms)", {}, 3100},
                      CDarkCase{"NegativeTakesOne", "-3", 1, "1 time(s) Get dark(900 ms)", {}, 3100},
                      CDarkCase{"SevenGivesTwo", "7", 2, "2 time(s) Get dark(900 ms)", {3600}, 4900}),
    [](const ::testing::TestParamInfo<CDarkCase>& info) { return std::string(info.param.szName); });

// ---- Files, message files and board bytes of one exposure ----------------------------

TEST_F(ImageReception, OneExposureLeavesTheImageTheDarkAndTheMessageFiles) {
    SetConfig("CALIBRATION", "0");
    SetConfig("MEDIAN_FILTER", "0");
    SetConfig("DOSE_INDICATOR", "1");
    SetConfig("DOSE_INDICATOR_X", "0");
    SetConfig("DOSE_INDICATOR_Y", "0");
    SetConfig("DOSE_INDICATOR_WIDTH", std::to_string(kSide));
    SetConfig("DOSE_INDICATOR_HEIGHT", std::to_string(kSide));
    Start();
    EXPECT_EQ(ImageFiles(), Lines{"Connection success.txt"});
    Expose(800);
    EXPECT_EQ(ImageFiles(), (Lines{"Connection success.txt", "Detector 2 ready.txt"}));
    RunTo(m_nT0 + 1000);
    EXPECT_EQ(ImageFiles(), (Lines{"Image coming.txt", "doseindicator.txt"}));
    RunTo(m_nT0 + 20000);
    EXPECT_EQ(ImageFiles(), (Lines{"IMAGE.RAW", "Image coming.txt", "doseindicator.txt"}));

    // The image: without corrections, the exposure with its rows mirrored.
    const std::vector<uint16_t> image = ReadPixels(m_strImageDir + "IMAGE.RAW");
    EXPECT_EQ(image, Backup());
    EXPECT_EQ(ReadFile(m_strImageDir + "Image coming.txt"), "");
    // The dose indicator: the 80th percentile of the raw (mirrored) image, UTF-16LE digits.
    const int32_t nDose = DoseIndicatorValue(image.data(), kSide, kSide, 0, 0, kSide, kSide);
    EXPECT_EQ(ReadFile(m_strImageDir + "doseindicator.txt"), DoseIndicatorBytes(nDose));
    EXPECT_EQ(Since("Dose Indicator :" + std::to_string(nDose)), Times{900});

    // The dark: the last dark frame, named by its mean, and the view's dark.
    const std::vector<uint16_t> dark(Frame().Reception().DarkFrame().begin(),
                                     Frame().Reception().DarkFrame().begin() + kPixels);
    EXPECT_EQ(CalFiles(), Lines{DarkFileOf(dark)});
    EXPECT_EQ(ReadPixels(m_strCalDir + DarkFileOf(dark)), dark);

    // The view shows the image; pane 4 says "Done"; the saved files are
    // reported, the image first: the dark file is written once the image is on disk.
    EXPECT_EQ(std::vector<uint16_t>(m_app.m_imageStore.m_pFrame1), image);
    EXPECT_EQ(m_ui.pane(4).back(), "Done");
    EXPECT_EQ(m_ui.savedFiles, (Lines{m_strImageDir + "IMAGE.RAW", m_strCalDir + DarkFileOf(dark)}));

    // After the image only the connection lamp is lit, on both boards.
    const Lines writes = BoardWrites();
    ASSERT_GE(writes.size(), 2u);
    EXPECT_EQ(writes[writes.size() - 2], "3100 PortWriteEx(0, 00, FF, EF, 00)");
    EXPECT_EQ(writes.back(), "3100 PortWriteEx(1, 00, FF, EF, 00)");
    EXPECT_EQ(g_byOut1, 0xEF);
    EXPECT_EQ(g_byOut2, 0xFF);
    EXPECT_FALSE(m_clock.is_running(TIMER_BLINK));
    // While processing the connection lamp blinked every 500 ms.
    // (Its first expiry falls in the 900 ms pause and runs when the pause ends.)
    EXPECT_NE(std::find(writes.begin(), writes.end(), "1800 PortWriteEx(0, 00, FF, FF, 00)"), writes.end());
    EXPECT_NE(std::find(writes.begin(), writes.end(), "2300 PortWriteEx(0, 00, FF, EF, 00)"), writes.end());
}

TEST_F(ImageReception, TheSecondExposureReplacesTheImageAndTheDark) {
    SetConfig("CALIBRATION", "0");
    Start();
    Expose();
    SetConfig("IMAGE_NAME", "SECOND.RAW");  // read with every frame
    Expose();
    EXPECT_EQ(ImageFiles(), (Lines{"IMAGE.RAW", "Image coming.txt", "SECOND.RAW"}));
    EXPECT_EQ(CalFiles().size(), 1u);
    EXPECT_EQ(Since("Processing finished."), Times{3100});
}

TEST_F(ImageReception, CutsShrinkTheSavedImage) {
    SetConfig("CALIBRATION", "0");
    SetConfig("MEDIAN_FILTER", "0");
    SetConfig("IMAGE_CUT_LEFT", "10");
    SetConfig("IMAGE_CUT_TOP", "3");
    struct : IImageView {
        void InvalidateView() override {}
    } view;
    Start();
    m_app.m_imageStore.m_pView = &view;
    Expose();
    const std::vector<uint16_t> backup = Backup();
    const std::vector<uint16_t> image = ReadPixels(m_strImageDir + "IMAGE.RAW");
    ASSERT_EQ(image.size(), size_t{kSide - 10} * (kSide - 3));
    EXPECT_EQ(image[0], backup[3 * kSide + 10]);
    EXPECT_EQ(image.back(), backup.back());

    // The view shows the image as saved, at its own size, and the readout's
    // original value adds the dark pixel the image pixel was cut from.
    const CImageStore& store = m_app.m_imageStore;
    EXPECT_EQ(store.m_nDispWidth, kSide - 10);
    EXPECT_EQ(store.m_nDispHeight, kSide - 3);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), store.m_pDisplay.begin()));
    const std::vector<uint16_t>& dark = Frame().Reception().DarkFrame();
    for (auto [c, r] : {std::pair{0, 0}, std::pair{5, 7}, std::pair{kSide - 11, kSide - 4}}) {
        const size_t i = size_t(r) * (kSide - 10) + size_t(c);
        EXPECT_EQ(store.GetOriginalValue(c, r), uint16_t(image[i] + dark[size_t(r + 3) * kSide + size_t(c + 10)]))
            << c << "," << r;
    }
    EXPECT_EQ(store.GetOriginalValue(kSide - 10, 0), 0) << "past the cut image's width";
    m_app.m_imageStore.m_pView = nullptr;
}

// Every sink receives the finished exposure once, as saved: the cut pixels of
// IMAGE.RAW, its own dark cut the same way, and how it was made.
TEST_F(ImageReception, SinksReceiveTheSavedImageWithItsDark) {
    struct CSink : IImageSink {
        std::vector<AcquiredImagePtr> images;
        void OnImageAcquired(const AcquiredImagePtr& p) override { images.push_back(p); }
    } first, second;
    SetConfig("CALIBRATION", "0");
    SetConfig("IMAGE_CUT_RIGHT", "4");
    SetConfig("IMAGE_CUT_BOTTOM", "2");
    Start();
    Frame().AddImageSink(&first);
    Frame().AddImageSink(&second);
    Frame().AddImageSink(&first);  // added once only
    Expose();
    Frame().RemoveImageSink(&second);
    Expose();

    ASSERT_EQ(first.images.size(), 2u);
    ASSERT_EQ(second.images.size(), 1u);
    EXPECT_EQ(second.images[0], first.images[0]);
    const CAcquiredImage& img = *first.images[1];
    EXPECT_EQ(img.nSequence, 2u);
    EXPECT_EQ(Frame().LastImage(), first.images[1]);
    EXPECT_EQ(img.Width(), kSide - 4);
    EXPECT_EQ(img.Height(), kSide - 2);
    EXPECT_TRUE(img.bSaved);
    EXPECT_EQ(img.strSavedPath, m_strImageDir + "IMAGE.RAW");
    EXPECT_EQ(img.cDetector, 'A');
    EXPECT_EQ(img.pixels, ReadPixels(m_strImageDir + "IMAGE.RAW"));
    const std::vector<uint16_t>& dark = Frame().Reception().DarkFrame();
    ASSERT_EQ(img.dark.size(), img.pixels.size());
    EXPECT_EQ(img.dark[0], dark[0]);
    EXPECT_EQ(img.dark.back(), dark[size_t(kSide - 3) * kSide + size_t(kSide - 5)]);
}

// The host's "Image coming.txt" that cannot be made is reported with its path
// and reason; the exposure is still taken through its dark and saved.
TEST_F(ImageReception, AnImageComingFileThatCannotBeMadeStillSavesTheImage) {
    SetConfig("CALIBRATION", "0");
    Start();
    std::filesystem::create_directories(m_strImageDir + "Image coming.txt/x");  // a folder in its place
    Expose();
    ASSERT_FALSE(m_ui.texts().empty());
    EXPECT_EQ(
        m_ui.texts()[0].rfind(std::string(kMessageFileCreationFail) + "\n" + m_strImageDir + "Image coming.txt: ", 0),
        0u)
        << m_ui.texts()[0];
    EXPECT_EQ(Since("Succeed to get Dark (After image)").size(), 1u);
    EXPECT_TRUE(std::filesystem::exists(m_strImageDir + "IMAGE.RAW"));
}

// Without a usable image folder nothing can be saved: every failure is shown,
// the image still reaches the sinks (in memory), and the sequence ends.
TEST_F(ImageReception, AnUnwritableImageFolderIsReportedAndTheImageKeptInMemory) {
    struct CSink : IImageSink {
        std::vector<AcquiredImagePtr> images;
        void OnImageAcquired(const AcquiredImagePtr& p) override { images.push_back(p); }
    } sink;
    SetConfig("CALIBRATION", "0");
    Start();
    Frame().AddImageSink(&sink);
    // The folder is gone and a file has its name: nothing can be created there,
    // whatever the rights of the user running the test.
    std::filesystem::remove_all(m_strImageDir);
    WriteFile(m_strImageDir.substr(0, m_strImageDir.size() - 1), "");
    Expose();
    ASSERT_GE(m_ui.texts().size(), 3u);
    EXPECT_EQ(m_ui.texts()[0], kMessageFileCreationFail);  // the exposure enable's message file
    EXPECT_EQ(m_ui.texts().back(), kImageFileCreationFail);
    ASSERT_EQ(sink.images.size(), 1u);
    EXPECT_FALSE(sink.images[0]->bSaved);
    EXPECT_EQ(Frame().Sequencer().AcqMode(), ACQ_DARK_AFTER_IMAGE);
    EXPECT_EQ(Frame().Reception().DarkRepeat(), -1);  // the sequence is over
}

TEST_F(ImageReception, ADarkAfterTheSequenceIsOnlyShown) {
    SetConfig("CALIBRATION", "0");
    Start();
    Expose();
    const Lines cal = CalFiles();
    Frame().OnNoClear();  // a frame without a new sequence
    RunTo(m_clock.now() + 1000);
    EXPECT_EQ(TimesOf("Succeed to get Dark (After image)").size(), 2u);
    EXPECT_EQ(CalFiles(), cal);
    EXPECT_EQ(Since("Processing finished.").size(), 1u);
}

TEST_F(ImageReception, AFailedExposureCheckGoesOnAndSavesTheImage) {
    SetConfig("CALIBRATION", "0");
    SetConfig("STDDEV_OPTION", "1");
    SetConfig("STDDEV_RANGE", "100000");
    Start();
    Expose();
    const Lines log = Log();
    EXPECT_TRUE(std::any_of(log.begin(), log.end(), [](const std::string& s) {
        return s.find("Expose fail!! exit program.(STDDEV:") != std::string::npos;
    }));
    EXPECT_TRUE(std::filesystem::exists(m_strImageDir + "IMAGE.RAW"));
    EXPECT_EQ(m_ui.exitCodes, std::vector<int>{});
}

// ---- Calibration: GET BRIGHT and GET DARK ------------------------------------------------

TEST_F(ImageReception, GetBrightStoresTheBrightMinusDarkPairAndReplacesTheOldDark) {
    WriteFile(m_strCalDir + "DARK_00001.RAW", std::string(kPixels * 2, '\0'));
    WriteFile(m_strCalDir + "BRIGHT_01000.RAW", std::string(kPixels * 2, '\0'));
    SetSim("OBJECT", "0");
    Start();
    CCalibration& dlg = Frame().CalibrationDialog();
    Frame().OnMakeCalibration();
    EXPECT_EQ(dlg.Files(), (Lines{"BRIGHT_01000.RAW", "DARK_00001.RAW"}));

    m_nT0 = m_clock.now();
    dlg.OnGetBright();
    EXPECT_FALSE(dlg.m_bGetBrightEnabled || dlg.m_bGetDarkEnabled || dlg.m_bMakeBpmEnabled);
    FireAt(m_nT0 + 600);
    RunTo(m_nT0 + 5000);

    EXPECT_EQ(Since("Click get bright"), Times{0});
    EXPECT_EQ(Since("Succeed to get bright data"), Times{900});
    EXPECT_EQ(Since("Succeed to get dark data"), Times{2200});  // one dark, no pause
    const std::vector<uint16_t> dark(Frame().Reception().DarkFrame().begin(),
                                     Frame().Reception().DarkFrame().begin() + kPixels);
    std::vector<uint16_t> diff(kPixels);
    int64_t nSum = 0;
    for (size_t i = 0; i < kPixels; ++i) {
        const int32_t d = int32_t{Frame().Reception().ImageBackup()[i]} - int32_t{dark[i]};
        diff[i] = static_cast<uint16_t>(d);
        nSum += d;
    }
    const std::string strBright = LevelFileName(kPrefixBright, nSum / static_cast<int64_t>(kPixels));
    const std::string strDark = DarkFileOf(dark);
    EXPECT_EQ(CalFiles(), (Lines{"BRIGHT_01000.RAW", strBright, strDark}));
    EXPECT_EQ(dlg.Files(), (Lines{"BRIGHT_01000.RAW", strBright, strDark}));
    EXPECT_EQ(ReadPixels(m_strCalDir + strBright), diff);
    EXPECT_EQ(ReadPixels(m_strCalDir + strDark), dark);
    EXPECT_TRUE(dlg.m_bGetBrightEnabled && dlg.m_bGetDarkEnabled && dlg.m_bMakeBpmEnabled);
    EXPECT_EQ(dlg.m_strGetBrightCaption, "GET BRIGHT");
    EXPECT_EQ(m_ui.pane(4).back(), "Done");
    EXPECT_EQ(std::vector<uint16_t>(m_app.m_imageStore.m_pFrame1), diff);  // the view shows bright minus dark
    EXPECT_EQ(Frame().Sequencer().AcqMode(), ACQ_DARK);
    EXPECT_GT(m_ui.nCalibrationChanged, 0);

    // MAKE BPM from the new pair (the list ends with it).
    dlg.OnMakeBpm();
    EXPECT_EQ(m_ui.texts(), Lines{});
    EXPECT_EQ(ReadFile(m_strCalDir + "BPM.RAW").size(), kPixels * 2);
    EXPECT_EQ(m_ui.savedFiles.back(), m_strCalDir + "BPM.RAW");
    EXPECT_TRUE(dlg.m_bMakeBpmEnabled);
}

TEST_F(ImageReception, GetDarkStoresAndShowsTheLoneDark) {
    Start();
    CCalibration& dlg = Frame().CalibrationDialog();
    Frame().OnMakeCalibration();
    m_nT0 = m_clock.now();
    dlg.OnGetDark();
    EXPECT_EQ(Since("Click get dark(1000)"), Times{0});
    RunTo(m_nT0 + 2000);
    EXPECT_EQ(Since("Succeed to get dark data"), Times{1300});
    const std::vector<uint16_t> dark(Frame().Reception().DarkFrame().begin(),
                                     Frame().Reception().DarkFrame().begin() + kPixels);
    EXPECT_EQ(CalFiles(), Lines{DarkFileOf(dark)});
    EXPECT_EQ(dlg.Files(), Lines{DarkFileOf(dark)});
    EXPECT_EQ(std::vector<uint16_t>(m_app.m_imageStore.m_pFrame1), dark);
    EXPECT_FALSE(Frame().Sequencer().DarkOnly());
    EXPECT_TRUE(dlg.m_bGetBrightEnabled && dlg.m_bMakeBpmEnabled);
    EXPECT_EQ(m_ui.pane(4), Lines{"Done"});
    // No exposure was announced for the dark.
    EXPECT_FALSE(Logged("Detector 2 ready"));
}

// A calibration taken with the object out of the beam, a bad pixel map, then
// an exposure with the object in: outside the object the corrected image is
// flat, and the planted defects are gone.
TEST_F(ImageReception, CorrectedImagesAreFlatWhereTheObjectIsAbsent) {
    SetSim("OBJECT", "0");
    Start();
    TakeBrightAndBpm();
    ASSERT_EQ(m_ui.texts(), Lines{});
    AcquisitionSim_SetObjectIn(Handle(), 1);
    AcquisitionSim_SetDose(Handle(), 6000);  // below the bright's level: nothing is limited to L
    Expose();
    ASSERT_EQ(m_ui.texts(), Lines{});

    ORVIAcqSimRect object{};
    AcquisitionSim_GetObjectRect(Handle(), &object);
    const std::vector<uint16_t> image = ReadPixels(m_strImageDir + "IMAGE.RAW");
    ASSERT_EQ(image.size(), kPixels);
    // The open beam: rows below the object (mirroring keeps the rows).
    std::vector<double> open;
    for (int32_t y = object.nY + object.nHeight + 4; y < kSide - 4; ++y)
        for (int32_t x = 4; x < kSide - 4; ++x) open.push_back(image[size_t(y) * kSide + size_t(x)]);
    ASSERT_GT(open.size(), 1000u);
    const double dMean = std::accumulate(open.begin(), open.end(), 0.0) / double(open.size());
    double dVar = 0;
    for (double v : open) dVar += (v - dMean) * (v - dMean);
    const double dSd = std::sqrt(dVar / double(open.size()));
    EXPECT_GT(dMean, 5000.0);
    EXPECT_LT(dSd / dMean, 0.01) << "mean " << dMean << " sd " << dSd;
    const auto [lo, hi] = std::minmax_element(open.begin(), open.end());
    EXPECT_GT(*lo, dMean * 0.9);
    EXPECT_LT(*hi, dMean * 1.1);
}

}  // namespace
}  // namespace orvi::test
