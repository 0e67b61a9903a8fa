// The calibration dialog on screen, run modally by Make Calibration files:
// its controls, the list in the order of a sorted list, DELETE FILE, MAKE BPM
// writing BPM.RAW from the typed thresholds, and GET BRIGHT updating the
// running dialog when the pair arrives.
#include "StationWindowFixture.h"
#include "acquisition/CalibrationDialog.h"
#include "imaging/RawFile.h"
#include "ui/CalibrationDlg.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTest>

namespace orvi::test {
namespace {

using Id = CCalibrationDlg::ControlId;
using Lines = std::vector<std::string>;

class CalibrationDlgTest : public StationWindow {
protected:
    void SetUp() override {
        StationWindow::SetUp();
        std::filesystem::create_directories(m_strCalDir);
    }
    // A calibration file of the frame's size, every pixel nValue.
    void CalFile(const std::string& strName, uint16_t nValue) {
        const std::vector<uint16_t> v(size_t{kUiSide} * kUiSide, nValue);
        ASSERT_TRUE(WriteRawFile(m_strCalDir + strName, v.data(), v.size()));
    }
    static Lines Items(CCalibrationDlg* pDlg) {
        Lines v;
        for (int i = 0; i < pDlg->List()->count(); ++i) v.push_back(pDlg->List()->item(i)->text().toStdString());
        return v;
    }
    // Opens the dialog with the panel's button and runs fn in it.
    void RunDialog(const std::function<void(CCalibrationDlg*)>& fn) {
        WhenModal<CCalibrationDlg> when([&](CCalibrationDlg* pDlg) {
            EXPECT_EQ(Window().CalibrationDlg(), pDlg);
            // The dialog is modal before it is the active window (activation
            // arrives later on a loaded machine); focus checks need both.
            EXPECT_TRUE(QTest::qWaitFor([pDlg] { return pDlg->isActiveWindow(); }, 5000));
            fn(pDlg);
        });
        Click(CToolDlgBar::IDC_MAKE_CALIBRATION);
        EXPECT_TRUE(when.bSeen);
        EXPECT_EQ(Window().CalibrationDlg(), nullptr);
    }
};

TEST_F(CalibrationDlgTest, ControlsListOrderDeleteAndMakeBpm) {
    CalFile("BRIGHT_02000.RAW", 3000);
    CalFile("DARK_01000.RAW", 1000);
    CalFile("BRIGHT_01000.RAW", 2000);
    WriteFile(m_strCalDir + "notes.txt", "not listed");
    WriteFile(m_strCalDir + "BPM.RAW", "old");
    ASSERT_NO_FATAL_FAILURE(CreateAndConnect());
    MessageBoxCloser closer;
    RunDialog([&](CCalibrationDlg* pDlg) {
        EXPECT_EQ(pDlg->windowTitle().toStdString(), "Dialog");
        EXPECT_TRUE(pDlg->isModal());
        // The buttons down the right of the list, in order.
        int nTop = -1;
        for (auto [nId, szCaption] :
             {std::pair{Id::IDC_GET_BRIGHT, "GET BRIGHT"}, std::pair{Id::IDC_GET_DARK, "GET DARK"},
              std::pair{Id::IDC_DELETE_FILE, "DELETE FILE"}, std::pair{Id::IDC_MAKE_BPM, "MAKE BPM"}}) {
            QPushButton* b = pDlg->Button(nId);
            EXPECT_EQ(b->text().toStdString(), szCaption);
            EXPECT_TRUE(b->isEnabled()) << szCaption;
            EXPECT_GT(b->y(), nTop);
            EXPECT_GT(b->x(), pDlg->List()->geometry().right());
            nTop = b->y();
        }
        // The four thresholds in their group, with their first values.
        auto* pGroup = pDlg->findChild<QGroupBox*>();
        ASSERT_NE(pGroup, nullptr);
        EXPECT_EQ(pGroup->title().toStdString(), "BPM Range");
        EXPECT_GT(pGroup->y(), pDlg->List()->geometry().bottom());
        const std::pair<int, const char*> boxes[] = {{Id::IDC_AREA_BRIGHT, "8"},
                                                     {Id::IDC_AREA_DARK, "8"},
                                                     {Id::IDC_LINE_BRIGHT, "500"},
                                                     {Id::IDC_LINE_DARK, "600"}};
        for (auto [nId, szText] : boxes) {
            EXPECT_EQ(pDlg->Edit(nId)->text().toStdString(), szText) << nId;
            EXPECT_EQ(pDlg->Edit(nId)->parentWidget(), pGroup) << nId;
        }
        EXPECT_LT(pDlg->Edit(Id::IDC_AREA_BRIGHT)->x(), pDlg->Edit(Id::IDC_AREA_DARK)->x());
        EXPECT_LT(pDlg->Edit(Id::IDC_AREA_BRIGHT)->y(), pDlg->Edit(Id::IDC_LINE_BRIGHT)->y());
        Lines labels;
        for (QLabel* p : pGroup->findChildren<QLabel*>()) labels.push_back(p->text().toStdString());
        for (const char* sz : {"Area   Bright :", "Line    Bright :", "Dark :", "%"})
            EXPECT_NE(std::find(labels.begin(), labels.end(), sz), labels.end()) << sz;

        // Sorted: bright files by level, then the dark file.
        EXPECT_EQ(Items(pDlg), (Lines{"BRIGHT_01000.RAW", "BRIGHT_02000.RAW", "DARK_01000.RAW"}));

        // DELETE FILE removes the selected file; the entry that moves up is selected.
        pDlg->List()->setCurrentRow(0);
        pDlg->Button(Id::IDC_DELETE_FILE)->click();
        EXPECT_FALSE(std::filesystem::exists(m_strCalDir + "BRIGHT_01000.RAW"));
        EXPECT_EQ(Items(pDlg), (Lines{"BRIGHT_02000.RAW", "DARK_01000.RAW"}));
        EXPECT_EQ(pDlg->List()->currentRow(), 0);
        // The dialog's focus widget, also while another window is active (a busy machine).
        EXPECT_EQ(pDlg->focusWidget(), pDlg->List());

        // MAKE BPM with a typed threshold: the dark file and the highest bright.
        pDlg->Edit(Id::IDC_AREA_BRIGHT)->setText(QStringLiteral("0"));
        pDlg->Button(Id::IDC_MAKE_BPM)->click();
        EXPECT_TRUE(pDlg->Button(Id::IDC_MAKE_BPM)->isEnabled());
    });
    EXPECT_EQ(closer.texts, Lines{});
    const std::string strBpm = ReadFile(m_strCalDir + "BPM.RAW");
    ASSERT_EQ(strBpm.size(), size_t{kUiSide} * kUiSide * 2);
    // A uniform bright file: with 0 % nothing departs from the mean, so no pixel is marked.
    EXPECT_EQ(strBpm.find_first_not_of('\0'), std::string::npos);

    // The next opening starts from the first thresholds again.
    RunDialog([](CCalibrationDlg* pDlg) { EXPECT_EQ(pDlg->Edit(Id::IDC_AREA_BRIGHT)->text().toStdString(), "8"); });
}

TEST_F(CalibrationDlgTest, DeleteFileFollowsTheSelectionNotTheCurrentRow) {
    CalFile("BRIGHT_01000.RAW", 2000);
    CalFile("BRIGHT_02000.RAW", 3000);
    CalFile("DARK_01000.RAW", 1000);
    ASSERT_NO_FATAL_FAILURE(CreateAndConnect());
    MessageBoxCloser closer;
    RunDialog([&](CCalibrationDlg* pDlg) {
        // The list takes the focus and makes its first row current, unselected.
        pDlg->List()->setFocus();
        pDlg->List()->setCurrentRow(0, QItemSelectionModel::NoUpdate);
        ASSERT_EQ(pDlg->List()->currentRow(), 0);
        ASSERT_TRUE(pDlg->List()->selectedItems().isEmpty());
        pDlg->Button(Id::IDC_DELETE_FILE)->click();
        EXPECT_EQ(ListFiles(m_strCalDir), (Lines{"BRIGHT_01000.RAW", "BRIGHT_02000.RAW", "DARK_01000.RAW"}));
        EXPECT_EQ(Items(pDlg).size(), 3u);

        // Selecting the second entry deletes only it.
        pDlg->List()->item(1)->setSelected(true);
        pDlg->Button(Id::IDC_DELETE_FILE)->click();
        EXPECT_EQ(ListFiles(m_strCalDir), (Lines{"BRIGHT_01000.RAW", "DARK_01000.RAW"}));
        EXPECT_EQ(Items(pDlg), (Lines{"BRIGHT_01000.RAW", "DARK_01000.RAW"}));

        // A selection cleared again leaves nothing to delete.
        pDlg->List()->clearSelection();
        pDlg->Button(Id::IDC_DELETE_FILE)->click();
        EXPECT_EQ(ListFiles(m_strCalDir), (Lines{"BRIGHT_01000.RAW", "DARK_01000.RAW"}));
    });
    EXPECT_EQ(closer.texts, Lines{});
}

TEST_F(CalibrationDlgTest, MakeBpmWithoutADarkFileSaysSoAndStaysDisabled) {
    CalFile("BRIGHT_01000.RAW", 2000);
    CalFile("BRIGHT_02000.RAW", 3000);
    ASSERT_NO_FATAL_FAILURE(CreateAndConnect());
    MessageBoxCloser closer;
    RunDialog([](CCalibrationDlg* pDlg) {
        pDlg->Button(Id::IDC_MAKE_BPM)->click();
        EXPECT_FALSE(pDlg->Button(Id::IDC_MAKE_BPM)->isEnabled());
    });
    EXPECT_EQ(closer.texts, Lines{"DARK file don`t exist!!"});
    EXPECT_EQ(closer.captions, Lines{"ORVI Manager"});
    EXPECT_EQ(closer.icons, std::vector<QMessageBox::Icon>{QMessageBox::Warning});  // a refusal
    EXPECT_FALSE(std::filesystem::exists(m_strCalDir + "BPM.RAW"));
}

TEST_F(CalibrationDlgTest, GetBrightFillsTheRunningDialogWhenThePairArrives) {
    CalFile("DARK_00999.RAW", 999);  // an older dark: replaced by the pair's
    ASSERT_NO_FATAL_FAILURE(CreateAndConnect());
    MessageBoxCloser closer;
    RunDialog([&](CCalibrationDlg* pDlg) {
        EXPECT_EQ(Items(pDlg), Lines{"DARK_00999.RAW"});
        pDlg->Button(Id::IDC_GET_BRIGHT)->click();
        for (int nId : {Id::IDC_GET_BRIGHT, Id::IDC_GET_DARK, Id::IDC_MAKE_BPM})
            EXPECT_FALSE(pDlg->Button(nId)->isEnabled()) << nId;
        EXPECT_TRUE(pDlg->Button(Id::IDC_DELETE_FILE)->isEnabled());
        // The exposure, the bright frame and its dark arrive while the dialog runs.
        m_clock.advance(30000);
        const Lines items = Items(pDlg);
        ASSERT_EQ(items.size(), 2u);
        EXPECT_EQ(items[0].rfind("BRIGHT_", 0), 0u) << items[0];
        EXPECT_EQ(items[1].rfind("DARK_", 0), 0u) << items[1];
        EXPECT_NE(items[1], "DARK_00999.RAW");
        for (int nId : {Id::IDC_GET_BRIGHT, Id::IDC_GET_DARK, Id::IDC_MAKE_BPM})
            EXPECT_TRUE(pDlg->Button(nId)->isEnabled()) << nId;
        EXPECT_EQ(pDlg->Button(Id::IDC_GET_BRIGHT)->text().toStdString(), "GET BRIGHT");
    });
    EXPECT_EQ(closer.texts, Lines{});
    EXPECT_FALSE(std::filesystem::exists(m_strCalDir + "DARK_00999.RAW"));
}

}  // namespace
}  // namespace orvi::test
