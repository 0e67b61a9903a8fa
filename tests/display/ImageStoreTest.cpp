#include "display/AppValues.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace orvi {
namespace {

using test::TempDir;
using test::WriteFile;

struct CountingView : IImageView {
    void InvalidateView() override { ++nInvalidations; }
    int nInvalidations = 0;
};

class ImageStore : public ::testing::Test {
protected:
    void Init(const std::string& strBody) {
        WriteFile(m_dir.file("ORVI2.ini"), "[CONFIG]\n" + strBody);
        m_app.m_strProgramDir = m_dir.dir();
        ASSERT_TRUE(Store().Initialize(m_app));
    }
    CImageStore& Store() { return m_app.m_imageStore; }
    std::vector<uint16_t> Frame(uint16_t nValue) const {
        return std::vector<uint16_t>(size_t(Store().m_nWidth) * Store().m_nHeight, nValue);
    }
    CImageStore& Store() const { return const_cast<CAppValues&>(m_app).m_imageStore; }

    TempDir m_dir;
    CAppValues m_app;
    CountingView m_view;
};

TEST_F(ImageStore, InitializeReadsItsKeysAndFillsWith16000) {
    std::string strBody = "IMAGE_WIDTH=8\nIMAGE_HEIGHT=4\nDETECTOR_NAME_2=B\nCOM_NAME_1=";
    strBody.append(80, 'c');
    strBody.append("\nEXP_DELAY=250\n");
    Init(strBody);
    EXPECT_EQ(m_app.m_strConfigPath, m_dir.dir() + "ORVI2.ini");
    EXPECT_EQ(Store().m_nWidth, 8);
    EXPECT_EQ(Store().m_strDetectorName2, "B");
    EXPECT_EQ(Store().m_strComName1, std::string(63, 'c'));
    EXPECT_EQ(Store().m_strImageName, " ");
    EXPECT_EQ(Store().m_strImagePath, " ");
    EXPECT_EQ(m_app.m_strExpDelay, "250");
    EXPECT_EQ(m_app.m_strIntegrate, "100");
    EXPECT_EQ(Store().m_bNewImage, 1);
    EXPECT_EQ(Store().m_nDispWidth, 8);
    EXPECT_EQ(Store().m_pDisplay, Frame(16000));
    EXPECT_EQ(Store().m_pFrame2, Frame(16000));
}

TEST_F(ImageStore, MissingSizeMeans3072) {
    Init("");
    EXPECT_EQ(Store().m_nWidth, 3072);
    EXPECT_EQ(Store().m_nHeight, 3072);
    EXPECT_EQ(Store().m_pDisplay.size(), size_t{3072} * 3072);
}

TEST_F(ImageStore, ImpossibleSizeGetsNoBuffers) {
    WriteFile(m_dir.file("ORVI2.ini"), "[CONFIG]\nIMAGE_WIDTH=5000\n");
    m_app.m_strProgramDir = m_dir.dir();
    EXPECT_FALSE(Store().Initialize(m_app));
    EXPECT_FALSE(Store().StoreFrame(0, Frame(1).data()));
    EXPECT_FALSE(Store().ShowSelected());
    EXPECT_EQ(Store().GetOriginalValue(0, 0), 0);
}

TEST_F(ImageStore, SecondDetectorFramesWaitUntilFlipped) {
    Init("IMAGE_WIDTH=4\nIMAGE_HEIGHT=2\nDETECTOR_NAME_2=B\n");
    uint32_t hB = 77;
    Store().SetFrameLinks(&hB, nullptr, 0);
    Store().m_pView = &m_view;

    EXPECT_TRUE(Store().StoreFrame(77, Frame(2).data()));
    EXPECT_EQ(Store().m_pDisplay, Frame(16000));
    EXPECT_EQ(m_view.nInvalidations, 0);

    Store().m_bShowSecond = true;
    EXPECT_TRUE(Store().ShowSelected());
    EXPECT_EQ(Store().m_pDisplay, Frame(2));
    EXPECT_EQ(m_view.nInvalidations, 1);

    Store().m_bNewImage = 0;
    EXPECT_TRUE(Store().StoreFrame(5, Frame(1).data()));  // the first detector flips back
    EXPECT_FALSE(Store().m_bShowSecond);
    EXPECT_EQ(Store().m_pDisplay, Frame(1));
    EXPECT_EQ(Store().m_bNewImage, 1);
    EXPECT_EQ(m_view.nInvalidations, 2);
}

TEST_F(ImageStore, FileFramesLandInTheFirstBufferEvenWithoutSecondHandle) {
    Init("IMAGE_WIDTH=4\nIMAGE_HEIGHT=2\n");
    uint32_t hB = 0;
    Store().SetFrameLinks(&hB, nullptr, 0);
    Store().m_pView = &m_view;
    EXPECT_TRUE(Store().StoreFrame(0, Frame(9).data()));
    EXPECT_EQ(Store().m_pFrame1, Frame(9));
    EXPECT_EQ(Store().m_pDisplay, Frame(9));
}

TEST_F(ImageStore, WithoutViewOnlyTheFrameBufferChanges) {
    Init("IMAGE_WIDTH=4\nIMAGE_HEIGHT=2\n");
    EXPECT_TRUE(Store().StoreFrame(1, Frame(3).data()));
    EXPECT_EQ(Store().m_pFrame1, Frame(3));
    EXPECT_EQ(Store().m_pDisplay, Frame(16000));
}

TEST_F(ImageStore, OriginalValueAddsTheDarkInsideBoundsOnly) {
    Init("IMAGE_WIDTH=4\nIMAGE_HEIGHT=2\n");
    std::vector<uint16_t> dark(8, 0);
    dark[5] = 100;
    dark[6] = 65535;
    Store().SetFrameLinks(nullptr, dark.data(), dark.size());
    Store().m_pView = &m_view;
    std::vector<uint16_t> f = Frame(10);
    Store().StoreFrame(1, f.data());
    EXPECT_EQ(Store().GetOriginalValue(1, 1), 110);
    EXPECT_EQ(Store().GetOriginalValue(2, 1), 9);  // 16-bit sum wraps
    EXPECT_EQ(Store().GetOriginalValue(4, 0), 0);  // column equal to the width
    EXPECT_EQ(Store().GetOriginalValue(0, 2), 0);
    EXPECT_EQ(Store().GetOriginalValue(-1, 0), 0);
    // A dark buffer shorter than the display is never read past its end.
    Store().SetFrameLinks(nullptr, dark.data(), 4);
    EXPECT_EQ(Store().GetOriginalValue(1, 1), 10);
}

TEST_F(ImageStore, CutFramesKeepTheirOwnSizeAndReadTheDarkTheyWereCutFrom) {
    Init("IMAGE_WIDTH=6\nIMAGE_HEIGHT=5\nDETECTOR_NAME_2=B\n");
    std::vector<uint16_t> dark(30);
    for (size_t i = 0; i < dark.size(); ++i) dark[i] = uint16_t(1000 * i);
    uint32_t hB = 77;
    Store().SetFrameLinks(&hB, dark.data(), dark.size());
    Store().m_pView = &m_view;

    // Columns 1..4, rows 2..3 of the full frame.
    const std::vector<uint16_t> cut = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_TRUE(Store().StoreCutFrame(5, cut.data(), 4, 2, 1, 2));
    EXPECT_EQ(Store().m_nDispWidth, 4);
    EXPECT_EQ(Store().m_nDispHeight, 2);
    EXPECT_TRUE(std::equal(cut.begin(), cut.end(), Store().m_pDisplay.begin()));
    EXPECT_EQ(Store().GetOriginalValue(0, 0), 1 + 1000 * (2 * 6 + 1));
    EXPECT_EQ(Store().GetOriginalValue(3, 1), 8 + 1000 * (3 * 6 + 4));
    EXPECT_EQ(Store().GetOriginalValue(4, 0), 0);
    EXPECT_EQ(Store().GetOriginalValue(0, 2), 0);

    // A full frame of the second detector keeps its size; flipping shows each
    // frame at its own size, and back.
    EXPECT_TRUE(Store().StoreFrame(77, Frame(9).data()));
    EXPECT_EQ(Store().m_nDispWidth, 4) << "the display still holds the cut image";
    Store().m_bShowSecond = true;
    Store().ShowSelected();
    EXPECT_EQ(Store().m_nDispWidth, 6);
    EXPECT_EQ(Store().m_nDispHeight, 5);
    EXPECT_EQ(Store().m_pDisplay, Frame(9));
    EXPECT_EQ(Store().GetOriginalValue(1, 2), 9 + 1000 * 13);
    Store().m_bShowSecond = false;
    Store().ShowSelected();
    EXPECT_EQ(Store().m_nDispWidth, 4);
    EXPECT_EQ(Store().GetOriginalValue(0, 0), 1 + 1000 * 13);
}

TEST_F(ImageStore, CutFramesOutsideTheFullFrameAreRefused) {
    Init("IMAGE_WIDTH=6\nIMAGE_HEIGHT=5\n");
    Store().m_pView = &m_view;
    const std::vector<uint16_t> pixels(30, 1);
    struct Case {
        int32_t w, h, left, top;
    };
    for (const Case& c : {Case{0, 2, 0, 0}, Case{2, 0, 0, 0}, Case{6, 5, 1, 0}, Case{6, 5, 0, 1}, Case{2, 2, -1, 0},
                          Case{2, 2, 0, -1}, Case{7, 1, 0, 0}})
        EXPECT_FALSE(Store().StoreCutFrame(1, pixels.data(), c.w, c.h, c.left, c.top))
            << c.w << "x" << c.h << "+" << c.left << "+" << c.top;
    EXPECT_EQ(Store().m_pDisplay, Frame(16000));
    EXPECT_EQ(m_view.nInvalidations, 0);
    EXPECT_TRUE(Store().StoreCutFrame(1, pixels.data(), 6, 5, 0, 0));
    EXPECT_EQ(Store().m_pDisplay, Frame(1));
}

}  // namespace
}  // namespace orvi
