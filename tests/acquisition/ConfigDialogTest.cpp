// The configuration dialog's logic against the simulated detector: refresh,
// every check of Write in order with its edge values, what Write saves and
// sends, Browse, Reset and Exit.
#include "acquisition/FrameFixture.h"
#include "app/Profile.h"
#include "orviacquire/ORVIAcquireLib.h"

#include <gtest/gtest.h>

#include <functional>
#include <ostream>

namespace orvi::test {
namespace {

using Lines = std::vector<std::string>;

class ConfigDialog : public FrameFixture {
protected:
    void SetUp() override {
        FrameFixture::SetUp();
        Start();
        Frame().OnOpenConfig();
        m_clock.advance(100);  // the detector's block arrives
        ASSERT_NE(Frame().ConfigDialog(), nullptr);
    }
    CTarsoConfigDlg& Dlg() { return *Frame().ConfigDialog(); }
    std::string Ini(const std::string& strKey) { return ReadProfileText(m_strIni, "CONFIG", strKey, "<none>", 512); }
};

TEST_F(ConfigDialog, RefreshShowsTheDetectorsValues) {
    CTarsoConfigDlg& d = Dlg();
    EXPECT_EQ(d.m_strVersion, "8.1.2.3");
    EXPECT_EQ(d.m_strVt, "2.50");
    EXPECT_EQ(d.m_strFga, "5");
    EXPECT_EQ(d.m_strSpan, "3000");
    EXPECT_EQ(d.m_nTriggerIndex, 0);  // EXT_TRIGGER=0
    EXPECT_EQ(d.m_strTriggerText, "0:Manual");
    EXPECT_EQ(d.m_strAcquireDelay, "0");
    EXPECT_EQ(d.m_strIntegrate, "100");
    EXPECT_EQ(d.m_strSetDelay, "1000");
    EXPECT_EQ(d.m_strInnerDelay, "1000");
    EXPECT_EQ(d.m_strClearTime, "1500");
    EXPECT_EQ(d.m_bSensor, (std::array<bool, 4>{false, true, false, false}));
    EXPECT_EQ(d.m_bGain, (std::array<bool, 4>{true, false, false, false}));
    EXPECT_EQ(d.m_strImageName, "IMAGE.RAW");
    EXPECT_EQ(d.m_strFolder, m_strImageDir);
    EXPECT_FALSE(d.m_bAutoNaming);
}

TEST_F(ConfigDialog, TriggerItemsOfTheModes) {
    for (auto [nMode, nItem] : {std::pair{1, 1}, {6, 2}, {7, 3}, {3, -1}}) {
        Frame().SetTriggerMode(nMode);
        Dlg().Refresh(Handle());
        EXPECT_EQ(Dlg().m_nTriggerIndex, nItem) << nMode;
    }
}

struct CWriteCase {
    struct CEdit {
        std::string CTarsoConfigDlg::*pField;
        const char* szText;
    };
    const char* szName;
    std::vector<CEdit> edits;  // texts typed into the fields before Write
    const char* szMessage;     // nullptr: accepted and sent
};

void PrintTo(const CWriteCase& c, std::ostream* os) { *os << c.szName; }

class WriteChecks : public ConfigDialog, public ::testing::WithParamInterface<CWriteCase> {};

TEST_P(WriteChecks, RefusesTheFirstBadFieldAndChangesNothing) {
    const CWriteCase& c = GetParam();
    for (const auto& e : c.edits) Dlg().*e.pField = e.szText;
    const bool bSent = Dlg().OnWrite();
    if (c.szMessage == nullptr) {
        EXPECT_TRUE(bSent);
        EXPECT_EQ(m_ui.texts(), Lines{});
        EXPECT_EQ(Ini("AUTO_NAMING_SAVED"), "0");
    } else {
        EXPECT_FALSE(bSent);
        EXPECT_EQ(m_ui.texts(), Lines{c.szMessage});
        EXPECT_EQ(Ini("AUTO_NAMING_SAVED"), "<none>");
        EXPECT_EQ(Ini("AEC_EXP_TIME"), "<none>");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Fields, WriteChecks,
    ::testing::Values(
        CWriteCase{"Vt125", {{&CTarsoConfigDlg::m_strVt, "1.25"}}, nullptr},
        CWriteCase{"Vt450", {{&CTarsoConfigDlg::m_strVt, "4.50"}}, nullptr},
        CWriteCase{"Vt124", {{&CTarsoConfigDlg::m_strVt, "1.24"}}, kVtError},
        CWriteCase{"Vt451", {{&CTarsoConfigDlg::m_strVt, "4.51"}}, kVtError},
        CWriteCase{"VtNotANumber", {{&CTarsoConfigDlg::m_strVt, "abc"}}, kVtError},
        CWriteCase{"VtBeforePga", {{&CTarsoConfigDlg::m_strVt, ""}, {&CTarsoConfigDlg::m_strFga, "9"}}, kVtError},
        CWriteCase{"Pga0", {{&CTarsoConfigDlg::m_strFga, "0"}}, nullptr},
        CWriteCase{"Pga7", {{&CTarsoConfigDlg::m_strFga, "7"}}, nullptr},
        CWriteCase{"PgaEmptyReadsZero", {{&CTarsoConfigDlg::m_strFga, ""}}, nullptr},
        CWriteCase{"PgaMinus1", {{&CTarsoConfigDlg::m_strFga, "-1"}}, kPgaError},
        CWriteCase{"Pga8", {{&CTarsoConfigDlg::m_strFga, "8"}}, kPgaError},
        CWriteCase{"SpanEmpty", {{&CTarsoConfigDlg::m_strSpan, ""}}, kSpanError},
        CWriteCase{"Span1799", {{&CTarsoConfigDlg::m_strSpan, "1799"}}, kSpanError},
        CWriteCase{"Span65535", {{&CTarsoConfigDlg::m_strSpan, "65535"}}, nullptr},
        CWriteCase{"Delay65535", {{&CTarsoConfigDlg::m_strAcquireDelay, "65535"}}, nullptr},
        CWriteCase{"Delay65536", {{&CTarsoConfigDlg::m_strAcquireDelay, "65536"}}, kDelayError},
        CWriteCase{"DelayMinus1", {{&CTarsoConfigDlg::m_strAcquireDelay, "-1"}}, kDelayError},
        CWriteCase{"DelayNotANumber", {{&CTarsoConfigDlg::m_strAcquireDelay, "x"}}, nullptr},
        CWriteCase{"Integrate", {{&CTarsoConfigDlg::m_strIntegrate, "101"}}, kIntegrateError},
        CWriteCase{"ClearTime", {{&CTarsoConfigDlg::m_strClearTime, "1501"}}, kClearTimeError},
        CWriteCase{"ClearTimeModulo", {{&CTarsoConfigDlg::m_strClearTime, "67036"}}, nullptr},
        CWriteCase{"NameEmpty", {{&CTarsoConfigDlg::m_strImageName, ""}}, kImageNameEmpty},
        CWriteCase{"SetDelayUnchecked", {{&CTarsoConfigDlg::m_strSetDelay, "-5"}}, nullptr}),
    [](const ::testing::TestParamInfo<CWriteCase>& info) { return std::string(info.param.szName); });

TEST_F(ConfigDialog, WriteSavesTheNamingSendsTheValuesAndShowsWhatTheDetectorAccepted) {
    CTarsoConfigDlg& d = Dlg();
    d.m_strFga = "3";
    d.m_strAcquireDelay = "2500";
    d.m_strSetDelay = "700";
    d.m_strImageName = "PATIENT.RAW";
    d.OnBrowse("/data/images");
    d.SelectTrigger(-1);
    d.m_strTriggerText = "typed";
    d.m_bSensor = {true, true, true, false};
    ASSERT_TRUE(d.OnWrite());
    EXPECT_EQ(Frame().TriggerMode(), 1);  // typed text means auto
    EXPECT_EQ(Ini("IMAGE_NAME"), "PATIENT.RAW");
    EXPECT_EQ(Ini("IMAGE_PATH"), "/data/images/");
    EXPECT_EQ(Ini("AUTO_NAMING_SAVED"), "0");
    EXPECT_EQ(Ini("EXP_DELAY"), "2500");
    EXPECT_EQ(Ini("AEC_EXP_TIME"), "2500");
    EXPECT_EQ(Ini("INTEGRATE"), "100");
    EXPECT_EQ(m_app.m_strExpDelay, "2500");
    EXPECT_EQ(m_app.m_imageStore.m_strImageName, "PATIENT.RAW");
    EXPECT_EQ(m_app.m_imageStore.m_strImagePath, "/data/images/");

    // The detector's answer refreshes every field with what it holds now.
    d.m_strFga = "typed over";
    m_clock.advance(100);
    EXPECT_EQ(d.m_strFga, "3");
    EXPECT_EQ(d.m_strAcquireDelay, "2500");
    EXPECT_EQ(d.m_strSetDelay, "700");
    EXPECT_EQ(d.m_strInnerDelay, "700");
    EXPECT_EQ(d.m_bSensor, (std::array<bool, 4>{true, true, true, false}));
    EXPECT_EQ(d.m_strTriggerText, "1:Auto");
}

TEST_F(ConfigDialog, AutoNamingKeepsTheImageName) {
    Dlg().m_bAutoNaming = true;
    Dlg().m_strImageName = "";
    ASSERT_TRUE(Dlg().OnWrite());
    EXPECT_EQ(Ini("AUTO_NAMING_SAVED"), "1");
    EXPECT_EQ(Ini("IMAGE_NAME"), "IMAGE.RAW");
    EXPECT_EQ(m_app.m_imageStore.m_bAutoNaming, 1);
}

TEST_F(ConfigDialog, ARefusedUpdateKeepsTheDelayText) {
    AcquisitionSim_DropLink(Handle());
    Dlg().m_strAcquireDelay = "300";
    Dlg().SelectTrigger(3);
    EXPECT_FALSE(Dlg().OnWrite());
    EXPECT_EQ(m_ui.texts(), Lines{});
    EXPECT_EQ(Frame().TriggerMode(), 7);       // already changed
    EXPECT_EQ(Ini("AUTO_NAMING_SAVED"), "0");  // already saved
    EXPECT_EQ(Ini("EXP_DELAY"), "0");          // not persisted
    EXPECT_EQ(m_app.m_strExpDelay, "0");
}

TEST_F(ConfigDialog, BrowseCancelResetAndExit) {
    const std::string strFolder = Dlg().m_strFolder;
    Dlg().OnBrowse("");
    EXPECT_EQ(Dlg().m_strFolder, strFolder);
    Dlg().OnBrowse("/srv/x/");
    EXPECT_EQ(Dlg().m_strFolder, "/srv/x/");

    // Reset: the factory values come back with the detector's answer.
    Dlg().m_strFga = "7";
    Acquisition_SetDRConfigPGA(Handle(), 2);
    Acquisition_DRConfigUpdateAll(Handle());
    Dlg().OnReset();
    m_clock.advance(200);
    EXPECT_EQ(Dlg().m_strFga, "5");

    Dlg().OnExit();
    EXPECT_EQ(Frame().ConfigDialog(), nullptr);
    EXPECT_EQ(m_ui.nConfigDestroyed, 1);
    m_clock.advance(200);  // later packets find no dialog
}

}  // namespace
}  // namespace orvi::test
