// History sidecars read back, and the names of history files: a sidecar is
// read only when its sizes hold together, whatever else the file holds.
#include "imaging/ImageHistory.h"

#include <gtest/gtest.h>

#include <ostream>

#include <string>
#include <utility>
#include <vector>

namespace orvi {
namespace {

// The "Written" case is the writer's own text.
const char* WrittenText() {
    static const std::string s = [] {
        CHistoryEntry e;
        e.strName = "20261210-140322-045";
        e.nWidth = 3066;
        e.nHeight = 3070;
        e.nFrameWidth = e.nFrameHeight = 3072;
        e.nCutLeft = 6;
        e.nCutTop = 2;
        e.strTime = "14:03:22";
        return HistorySidecarText(e);
    }();
    return s.c_str();
}

// Sidecars are read back only when their sizes hold together.
struct SidecarCase {
    const char* szName;
    const char* szText;
    bool bOk;
    int32_t nWidth, nHeight, nCutLeft;
};
void PrintTo(const SidecarCase& c, std::ostream* os) { *os << c.szName; }

class HistorySidecar : public ::testing::TestWithParam<SidecarCase> {};

TEST_P(HistorySidecar, ReadsWhatItKnows) {
    const SidecarCase& c = GetParam();
    CHistoryEntry e;
    EXPECT_EQ(ParseHistorySidecar(c.szText != nullptr ? c.szText : WrittenText(), e), c.bOk);
    if (!c.bOk) return;
    EXPECT_EQ(e.nWidth, c.nWidth);
    EXPECT_EQ(e.nHeight, c.nHeight);
    EXPECT_EQ(e.nCutLeft, c.nCutLeft);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HistorySidecar,
    ::testing::Values(SidecarCase{"Written", nullptr, true, 3066, 3070, 6},
                      SidecarCase{"SizeOnly", R"({"width": 100, "height": 50})", true, 100, 50, 0},
                      // cuts that do not add up are dropped, the size stays
                      SidecarCase{"CutsDoNotFit", R"({"width": 100, "height": 50, "frame_width": 90, "cut_left": 5})",
                                  true, 100, 50, 0},
                      SidecarCase{"NoHeight", R"({"width": 100})", false, 0, 0, 0},
                      SidecarCase{"TooWide", R"({"width": 5000, "height": 50})", false, 0, 0, 0},
                      SidecarCase{"Negative", R"({"width": -4, "height": 50})", false, 0, 0, 0},
                      SidecarCase{"NotANumber", R"({"width": "wide", "height": 50})", false, 0, 0, 0},
                      SidecarCase{"Empty", "", false, 0, 0, 0},
                      // cut short anywhere: no read past the end
                      SidecarCase{"CutAfterKey", R"({"width": 100, "height")", false, 0, 0, 0},
                      SidecarCase{"CutAfterColon", R"({"width": 100, "height":)", false, 0, 0, 0},
                      SidecarCase{"CutInString", R"({"width": 100, "height": 50, "detector": "A)", true, 100, 50, 0}),
    [](const auto& info) { return std::string(info.param.szName); });

TEST(HistorySidecarText, RoundTripsAndNamesFollowThePattern) {
    CHistoryEntry e;
    ASSERT_TRUE(ParseHistorySidecar(WrittenText(), e));
    EXPECT_EQ(e.nWidth, 3066);
    EXPECT_EQ(e.nCutTop, 2);
    EXPECT_EQ(e.nCutLeft, 6);
    EXPECT_EQ(e.nDoseIndicator, -1);
    EXPECT_EQ(e.strTime, "14:03:22");
    EXPECT_FALSE(e.exposureIndex.bValid);  // none kept: null
    for (const auto& [sz, bOk] : std::vector<std::pair<const char*, bool>>{{"20261210-140322-045.RAW", true},
                                                                           {"20261210-140322-045.raw", false},
                                                                           {"20261210_140322-045.RAW", false},
                                                                           {"IMAGE.RAW", false},
                                                                           {"20261210-140322-04.RAW", false}})
        EXPECT_EQ(IsHistoryRawName(sz), bOk) << sz;
}

TEST(HistorySidecarText, KeepsTheExposureIndexAndItsVerdict) {
    CHistoryEntry e;
    e.strName = "20261210-140322-045";
    e.nWidth = e.nHeight = e.nFrameWidth = e.nFrameHeight = 100;
    e.exposureIndex.bValid = e.exposureIndex.bDeviationValid = true;
    e.exposureIndex.dEI = 612.35;
    e.exposureIndex.dTargetEI = 250.0;
    e.exposureIndex.dDI = 3.8906;
    const std::string strText = HistorySidecarText(e);
    EXPECT_NE(strText.find("\"exposure_verdict\": \"excessive exposure\""), std::string::npos) << strText;
    CHistoryEntry r;
    ASSERT_TRUE(ParseHistorySidecar(strText, r));
    EXPECT_TRUE(r.exposureIndex.bValid && r.exposureIndex.bDeviationValid);
    EXPECT_DOUBLE_EQ(r.exposureIndex.dEI, 612.35);
    EXPECT_DOUBLE_EQ(r.exposureIndex.dTargetEI, 250.0);
    EXPECT_DOUBLE_EQ(r.exposureIndex.dDI, 3.8906);

    // An index without a deviation (a target of 0) keeps its EI; a sidecar
    // with an EI but no target has none.
    ASSERT_TRUE(ParseHistorySidecar(
        R"({"width": 10, "height": 10, "exposure_index": 12.5, "target_exposure_index": 0, "deviation_index": null})",
        r));
    EXPECT_TRUE(r.exposureIndex.bValid);
    EXPECT_FALSE(r.exposureIndex.bDeviationValid);
    ASSERT_TRUE(ParseHistorySidecar(R"({"width": 10, "height": 10, "exposure_index": 12.5})", r));
    EXPECT_FALSE(r.exposureIndex.bValid);
}

}  // namespace
}  // namespace orvi
