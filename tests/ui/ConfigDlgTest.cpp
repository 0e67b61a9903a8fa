// The configuration dialog on screen, refreshed by the simulated detector:
// its controls in order with hidden ones hidden, what a refresh shows, Write's
// checks in order with their messages and edge values, Escape hiding it while
// refreshes go on, Browse, and Exit.
#include "StationWindowFixture.h"
#include "acquisition/ConfigDialog.h"
#include "imaging/PostProcess.h"
#include "orviacquire/ORVIAcquireLib.h"
#include "ui/ConfigDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

#include <ostream>

namespace orvi::test {
namespace {

using Id = CConfigDlg::ControlId;
using Lines = std::vector<std::string>;

class ConfigDlgTest : public StationWindow {
protected:
    void SetUp() override {
        StationWindow::SetUp();
        ASSERT_NO_FATAL_FAILURE(CreateAndConnect());
        Click(CToolDlgBar::IDC_OPEN_CONFIG);
        m_clock.advance(1000);  // the detector's parameter block arrives
        ASSERT_NE(Dlg(), nullptr);
    }
    CConfigDlg* Dlg() { return Window().ConfigDlg(); }
    QLineEdit* Edit(int nId) { return Dlg()->Edit(nId); }
    std::string Text(int nId) { return Edit(nId)->text().toStdString(); }
    // The label in the dialog's grid left of a field.
    std::string LabelOf(QWidget* pField) {
        for (QLabel* p : Dlg()->findChildren<QLabel*>())
            if (std::abs(p->geometry().center().y() - pField->geometry().center().y()) < 4 &&
                p->geometry().right() < pField->geometry().left() && p->parentWidget() == pField->parentWidget())
                return p->text().toStdString();
        return "?";
    }
};

TEST_F(ConfigDlgTest, ControlsInOrderWithTheirLabelsAndHiddenOnesHidden) {
    CConfigDlg* pDlg = Dlg();
    EXPECT_TRUE(pDlg->isVisible());
    EXPECT_FALSE(pDlg->isModal());
    EXPECT_EQ(pDlg->windowTitle().toStdString(), "Config");
    // Centred on the main window's client area.
    const QPoint ptCentre = pDlg->geometry().center();
    const QPoint ptClient = Window().mapToGlobal(Window().rect().center());
    EXPECT_LE(std::abs(ptCentre.x() - ptClient.x()), 2);
    EXPECT_LE(std::abs(ptCentre.y() - ptClient.y()), 2);

    struct Field {
        int nId;
        const char* szLabel;
    };
    const Field fields[] = {
        {Id::IDC_VERSION, "Firmware Version:"},
        {Id::IDC_TRIGGER_MODE, "Trigger Mode :"},
        {Id::IDC_FGA, "FGA[0~7] :"},
        {Id::IDC_ACQUIRE_DELAY, "Acquire Delay:"},
        {Id::IDC_SET_DELAY, "Set Delay:"},
        {Id::IDC_INNER_DELAY, "Inner Delay:"},
    };
    int nTop = -1;
    for (const Field& f : fields) {
        QWidget* w = pDlg->Control(f.nId);
        EXPECT_TRUE(w->isVisible()) << f.nId;
        EXPECT_EQ(LabelOf(w), f.szLabel);
        EXPECT_GT(w->y(), nTop) << f.szLabel << " below the field before it";
        nTop = w->y();
    }
    EXPECT_TRUE(Edit(Id::IDC_VERSION)->isReadOnly());
    EXPECT_TRUE(Edit(Id::IDC_INNER_DELAY)->isReadOnly());
    EXPECT_FALSE(Edit(Id::IDC_FGA)->isReadOnly());

    // The naming group below the fields: folder, name, Browse, Auto naming.
    auto* pGroup = qobject_cast<QGroupBox*>(pDlg->Control(Id::IDC_NAME_GROUP));
    EXPECT_EQ(pGroup->title().toStdString(), "Image file name");
    EXPECT_GT(pGroup->y(), nTop);
    QPoint ptLast(-1, -1);
    for (int nId : {Id::IDC_FOLDER, Id::IDC_IMAGE_NAME, Id::IDC_BROWSE, Id::IDC_AUTO_NAMING}) {
        QWidget* w = pDlg->Control(nId);
        EXPECT_EQ(w->parentWidget(), pGroup) << nId;
        const QPoint pt = w->pos();
        EXPECT_TRUE(pt.y() > ptLast.y() + 2 || (std::abs(pt.y() - ptLast.y()) <= 2 && pt.x() > ptLast.x())) << nId;
        ptLast = pt;
    }
    EXPECT_EQ(pDlg->Button(Id::IDC_BROWSE)->text().toStdString(), "Browse");
    EXPECT_EQ(pDlg->CheckBox(Id::IDC_AUTO_NAMING)->text().toStdString(), "Auto naming");

    // Write, Reset, Exit along the bottom.
    int nLeft = -1;
    for (auto [nId, szCaption] :
         {std::pair{Id::IDC_WRITE, "Write"}, std::pair{Id::IDC_RESET, "Reset"}, std::pair{Id::IDC_EXIT, "Exit"}}) {
        QPushButton* b = pDlg->Button(nId);
        EXPECT_EQ(b->text().toStdString(), szCaption);
        EXPECT_GT(b->x(), nLeft);
        EXPECT_GT(b->y(), pGroup->geometry().bottom());
        nLeft = b->x();
    }

    // Kept but never shown.
    for (int nId : {Id::IDC_VT, Id::IDC_SPAN, Id::IDC_INTEGRATE, Id::IDC_CLEAR_TIME, Id::IDC_SENSOR_I,
                    Id::IDC_SENSOR_II, Id::IDC_SENSOR_III, Id::IDC_SENSOR_RESET, Id::IDC_GAIN0, Id::IDC_GAIN1,
                    Id::IDC_GAIN2, Id::IDC_GAIN3, Id::IDC_READ})
        EXPECT_FALSE(pDlg->Control(nId)->isVisible()) << nId;
    EXPECT_FALSE(pDlg->Button(Id::IDC_READ)->isEnabled());
    const char* kBoxes[] = {"I", "II", "III", "Reset", "GAIN0", "GAIN1", "GAIN2", "GAIN3"};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(pDlg->CheckBox(Id::IDC_SENSOR_I + i)->text().toStdString(), kBoxes[i]);
}

TEST_F(ConfigDlgTest, RefreshShowsVersionTriggerItemsAndCheckBoxes) {
    const uint32_t h = Frame().Detector();
    int32_t a = 0, b = 0, c = 0;
    Acquisition_GetDRConfigVersion(h, &a, &b, &c);
    char sz[64];
    std::snprintf(sz, sizeof sz, "8.%d.%d.%d", (a - 3) & 0xFFFF, (b - 3) & 0xFFFF, (c - 7) & 0xFFFF);
    EXPECT_EQ(Text(Id::IDC_VERSION), sz);
    EXPECT_EQ(Text(Id::IDC_VT), "2.50");
    EXPECT_EQ(Text(Id::IDC_FGA), "5");
    EXPECT_EQ(Text(Id::IDC_INNER_DELAY), "1000");
    EXPECT_EQ(Text(Id::IDC_CLEAR_TIME), "1500");
    EXPECT_EQ(Text(Id::IDC_IMAGE_NAME), "IMAGE.RAW");
    EXPECT_EQ(Dlg()->FolderLabel()->text().toStdString(), m_strImageDir);

    QComboBox* pTrigger = Dlg()->TriggerBox();
    ASSERT_EQ(pTrigger->count(), 4);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(pTrigger->itemText(i).toStdString(), kTriggerItems[i]);
    EXPECT_EQ(pTrigger->currentIndex(), 1) << "EXT_TRIGGER=1";
    EXPECT_EQ(pTrigger->currentText().toStdString(), "1:Auto");

    // The detector's exposure-control flags arrive ticked.
    Acquisition_SetDRConfigAecSensor(h, 1, 0, 1, 1);
    Acquisition_SetDRConfigAecGain(h, 0, 1, 0, 1);
    Acquisition_DRConfigUpdateAll(h);
    Acquisition_ReadDRConfig(h);
    m_clock.advance(1000);
    const bool kTicks[] = {true, false, true, true, false, true, false, true};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(Dlg()->CheckBox(Id::IDC_SENSOR_I + i)->isChecked(), kTicks[i]) << i;

    // Without the exposure-control mode the trigger box is emptied.
    Acquisition_SetDRConfigAecMode(h, 0);
    Acquisition_DRConfigUpdateAll(h);
    Acquisition_ReadDRConfig(h);
    m_clock.advance(1000);
    EXPECT_EQ(pTrigger->currentIndex(), -1);
    EXPECT_TRUE(pTrigger->currentText().isEmpty());
}

// Under a German desktop locale the station's numbers keep the point: the
// dialog shows VT as 2.50, a typed 1.25 is sent as 1.25, and the exposure
// check's log line reads STDDEV:500.021000 style.
TEST_F(ConfigDlgTest, NumbersKeepThePointUnderAGermanLocale) {
    GermanLocale german;
    if (!german.Active()) GTEST_SKIP() << german.strWhyNot;
    const uint32_t h = Frame().Detector();
    Acquisition_ReadDRConfig(h);
    m_clock.advance(1000);
    EXPECT_EQ(Text(Id::IDC_VT), "2.50");

    Edit(Id::IDC_VT)->setText(QStringLiteral("1.25"));
    MessageBoxCloser closer;
    Dlg()->Button(Id::IDC_WRITE)->click();
    EXPECT_EQ(closer.texts, Lines{});  // "1.25" read as 1 would be refused
    m_clock.advance(1000);
    EXPECT_FLOAT_EQ(Acquisition_GetDRConfigVT(h), 1.25f);

    g_bWriteLog = 1;
    std::vector<uint16_t> frame(size_t{kUiSide} * kUiSide, 1000);
    for (size_t i = 0; i < frame.size(); i += 2) frame[i] = 3000;  // sd about 1000
    CheckExposure(frame.data(), kUiSide, kUiSide, 75);
    const std::string strLog = ReadFile(m_dir.file(kLogFileName));
    const size_t nAt = strLog.find("Get expose Image.(STDDEV:");
    ASSERT_NE(nAt, std::string::npos) << strLog;
    const std::string strValue = strLog.substr(nAt + 25, strLog.find(')', nAt) - nAt - 25);
    EXPECT_EQ(strValue.find(','), std::string::npos) << strValue;
    EXPECT_NE(strValue.find('.'), std::string::npos) << strValue;
}

struct CWriteCase {
    const char* szName;
    std::vector<std::pair<int, const char*>> edits;  // field id, text typed
    const char* szMessage;                           // nullptr: accepted and sent
};

void PrintTo(const CWriteCase& c, std::ostream* os) { *os << c.szName; }

class WriteChecks : public ConfigDlgTest, public ::testing::WithParamInterface<CWriteCase> {};

TEST_P(WriteChecks, TheFirstBadFieldIsNamedAndNothingIsSaved) {
    const CWriteCase& c = GetParam();
    for (const auto& [nId, szText] : c.edits) Edit(nId)->setText(QString::fromLatin1(szText));
    MessageBoxCloser closer;
    Dlg()->Button(Id::IDC_WRITE)->click();
    if (c.szMessage == nullptr) {
        EXPECT_EQ(closer.texts, Lines{});
        EXPECT_EQ(Ini("AUTO_NAMING_SAVED"), "0");
        EXPECT_EQ(Ini("EXP_DELAY"), Text(Id::IDC_ACQUIRE_DELAY));
        EXPECT_EQ(Dlg()->WrittenLabel()->text().toStdString(), "Written");
    } else {
        EXPECT_EQ(Dlg()->WrittenLabel()->text().toStdString(), "");
        EXPECT_EQ(closer.texts, Lines{c.szMessage});
        EXPECT_EQ(closer.captions, Lines{"ORVI Manager"});
        EXPECT_EQ(Ini("AUTO_NAMING_SAVED"), "<none>");
        EXPECT_EQ(Ini("AEC_EXP_TIME"), "<none>");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Fields, WriteChecks,
    ::testing::Values(
        CWriteCase{"Vt125", {{Id::IDC_VT, "1.25"}}, nullptr}, CWriteCase{"Vt450", {{Id::IDC_VT, "4.50"}}, nullptr},
        CWriteCase{"Vt124", {{Id::IDC_VT, "1.24"}}, kVtError}, CWriteCase{"Vt451", {{Id::IDC_VT, "4.51"}}, kVtError},
        CWriteCase{"Pga0", {{Id::IDC_FGA, "0"}}, nullptr}, CWriteCase{"Pga7", {{Id::IDC_FGA, "7"}}, nullptr},
        CWriteCase{"PgaMinus1", {{Id::IDC_FGA, "-1"}}, kPgaError}, CWriteCase{"Pga8", {{Id::IDC_FGA, "8"}}, kPgaError},
        CWriteCase{"Span1799", {{Id::IDC_SPAN, "1799"}}, kSpanError},
        CWriteCase{"Delay65535", {{Id::IDC_ACQUIRE_DELAY, "65535"}}, nullptr},
        CWriteCase{"Delay65536", {{Id::IDC_ACQUIRE_DELAY, "65536"}}, kDelayError},
        CWriteCase{"Integrate101", {{Id::IDC_INTEGRATE, "101"}}, kIntegrateError},
        CWriteCase{"ClearTime1499", {{Id::IDC_CLEAR_TIME, "1499"}}, kClearTimeError},
        CWriteCase{"NameEmpty", {{Id::IDC_IMAGE_NAME, ""}}, kImageNameEmpty},
        // Only the first failure, in the order of the checks.
        CWriteCase{"VtBeforePga", {{Id::IDC_FGA, "8"}, {Id::IDC_VT, "1.24"}}, kVtError},
        CWriteCase{"PgaBeforeDelay", {{Id::IDC_ACQUIRE_DELAY, "65536"}, {Id::IDC_FGA, "-1"}}, kPgaError},
        CWriteCase{"DelayBeforeName", {{Id::IDC_IMAGE_NAME, ""}, {Id::IDC_ACQUIRE_DELAY, "-1"}}, kDelayError}),
    [](const ::testing::TestParamInfo<CWriteCase>& info) { return std::string(info.param.szName); });

TEST_F(ConfigDlgTest, WriteTakesTheTypedTriggerModeAndTheTickedBoxes) {
    QComboBox* pTrigger = Dlg()->TriggerBox();
    pTrigger->setCurrentIndex(3);
    emit pTrigger->activated(3);
    Dlg()->CheckBox(Id::IDC_AUTO_NAMING)->click();
    Dlg()->Button(Id::IDC_WRITE)->click();
    EXPECT_EQ(Frame().TriggerMode(), kTriggerRepeat);
    EXPECT_EQ(Ini("AUTO_NAMING_SAVED"), "1");
    EXPECT_EQ(m_app.m_imageStore.m_bAutoNaming, 1);

    // Text typed into the trigger box is no item: Write takes mode 1.
    QTest::keyClicks(pTrigger->lineEdit(), QStringLiteral("x"));
    Dlg()->Button(Id::IDC_WRITE)->click();
    EXPECT_EQ(Frame().TriggerMode(), kTriggerAuto);
}

TEST_F(ConfigDlgTest, EscapeHidesItAndRefreshesGoOnUntilExitEndsIt) {
    Edit(Id::IDC_FGA)->setText(QStringLiteral("3"));  // an unsent edit
    QTest::keyClick(Edit(Id::IDC_FGA), Qt::Key_Escape);
    EXPECT_FALSE(Dlg()->isVisible());
    ASSERT_NE(Frame().ConfigDialog(), nullptr) << "hidden, not destroyed";
    Acquisition_ReadDRConfig(Frame().Detector());
    m_clock.advance(1000);
    EXPECT_EQ(Text(Id::IDC_FGA), "5") << "a refresh overwrites every field, also while hidden";

    // Open Config shows the same window again; Enter in a field hides it too.
    CConfigDlg* pFirst = Dlg();
    Click(CToolDlgBar::IDC_OPEN_CONFIG);
    EXPECT_EQ(Dlg(), pFirst);
    EXPECT_TRUE(pFirst->isVisible());
    QTest::keyClick(Edit(Id::IDC_SET_DELAY), Qt::Key_Return);
    EXPECT_FALSE(pFirst->isVisible());

    // Exit: the logic is gone at once, the window closes.
    Click(CToolDlgBar::IDC_OPEN_CONFIG);
    QPointer<CConfigDlg> pGone = Dlg();
    pGone->Button(Id::IDC_EXIT)->click();
    EXPECT_EQ(Frame().ConfigDialog(), nullptr);
    EXPECT_EQ(Dlg(), nullptr);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(pGone.isNull());
    Click(CToolDlgBar::IDC_OPEN_CONFIG);
    ASSERT_NE(Dlg(), nullptr) << "a new dialog";
    m_clock.advance(1000);
    EXPECT_EQ(Text(Id::IDC_FGA), "5");
}

TEST_F(ConfigDlgTest, BrowsePutsThePickedFolderWithASlashAndCancelChangesNothing) {
    const std::string strBefore = Dlg()->FolderLabel()->text().toStdString();
    Dlg()->SetFolderPicker([](QWidget*) { return QString(); });
    Dlg()->Button(Id::IDC_BROWSE)->click();
    EXPECT_EQ(Dlg()->FolderLabel()->text().toStdString(), strBefore);

    // The folder dialog itself: titled "Select path", folders only.
    const std::string strPicked = m_dir.dir() + "picked";
    std::filesystem::create_directories(strPicked);
    Dlg()->SetFolderPicker(&CConfigDlg::PickFolder);
    WhenModal<QFileDialog> pick([&](QFileDialog* pDlg) {
        EXPECT_EQ(pDlg->windowTitle().toStdString(), "Select path");
        EXPECT_EQ(pDlg->fileMode(), QFileDialog::Directory);
        pDlg->setDirectory(QString::fromStdString(strPicked));
        static_cast<QDialog*>(pDlg)->accept();  // the dialog's own Open
    });
    Dlg()->Button(Id::IDC_BROWSE)->click();
    EXPECT_TRUE(pick.bSeen);
    EXPECT_EQ(Dlg()->FolderLabel()->text().toStdString(), strPicked + "/");
    Dlg()->Button(Id::IDC_WRITE)->click();
    EXPECT_EQ(Ini("IMAGE_PATH"), strPicked + "/");
}

}  // namespace
}  // namespace orvi::test
