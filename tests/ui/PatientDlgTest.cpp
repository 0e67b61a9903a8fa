// The Patient dialog and the exposure index on screen: the patient set in the
// dialog reaches the next exposure's DICOM file, the panel shows who it is,
// and the status bar shows the exposure index in its colour.
#include "StationWindowFixture.h"
#include "export/DicomTestSupport.h"
#include "ui/ChildView.h"
#include "ui/PatientDlg.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QStatusBar>

namespace orvi::test {
namespace {

using Id = CToolDlgBar;

class PatientSession : public StationWindow {
protected:
    // The status bar's exposure index: the label whose text starts with "EI".
    QLabel* ExposureIndexLabel() {
        for (QLabel* p : Window().statusBar()->findChildren<QLabel*>())
            if (p->text().startsWith("EI")) return p;
        return nullptr;
    }
};

TEST_F(PatientSession, ThePatientOfTheDialogGoesIntoTheNextFileAndTheIndexIntoTheStatusBar) {
    SetConfig("CALIBRATION", "0");
    ASSERT_NO_FATAL_FAILURE(CreateAndConnect());
    Window().AttachDicom();
    auto* pBox = Window().findChild<CPatientBox*>();
    ASSERT_NE(pBox, nullptr);

    WhenModal<CPatientDlg> fill([](CPatientDlg* pDlg) {
        pDlg->FamilyEdit()->setText("Doe");
        pDlg->findChildren<QLineEdit*>()[1]->setText("Jane");
        pDlg->IdEdit()->setText("P-7");
        pDlg->BodyPartBox()->setCurrentText("CHEST");
        pDlg->accept();
    });
    Window().OnPatient();
    ASSERT_TRUE(fill.bSeen);
    EXPECT_EQ(Window().Dicom()->Patient().strPatientName, "Doe^Jane");
    EXPECT_TRUE(pBox->findChild<QLabel*>()->toolTip().contains("Doe, Jane (P-7)"));

    Click(Id::IDC_ACQUISITION);
    m_clock.advance(30000);
    Window().Dicom()->Finish();  // the file is written on the DICOM writer's thread
    const std::string strFile = Window().Dicom()->LastFile();
    ASSERT_FALSE(strFile.empty());
    const CDicomRead r = ReadDicom(strFile);
    EXPECT_EQ(r["PatientName"], "Doe^Jane");
    EXPECT_EQ(r["PatientID"], "P-7");
    EXPECT_EQ(r["BodyPartExamined"], "CHEST");
    // The window on screen for this image (its automatic window), not the one before it.
    const CWLLUT& lut = Window().View()->Lut();
    EXPECT_LT(lut.m_fWidth, 16000.0);
    EXPECT_EQ(std::stod(r["WindowWidth"]), double(int(lut.m_fWidth)));
    EXPECT_EQ(std::stod(r["WindowCenter"]), double(int(lut.m_fLevel)));
    const std::string strRaw = ReadFile(m_strImageDir + "IMAGE.RAW");
    EXPECT_EQ(strRaw, std::string(reinterpret_cast<const char*>(r.pixels.data()), r.pixels.size() * 2));

    QLabel* pEI = ExposureIndexLabel();
    ASSERT_NE(pEI, nullptr);
    EXPECT_TRUE(pEI->text().contains("target") || pEI->text().contains("exposure")) << pEI->text().toStdString();
    EXPECT_TRUE(pEI->styleSheet().contains("color: #")) << pEI->styleSheet().toStdString();

    // "Anonymous" clears the patient for the exposures that follow.
    WhenModal<CPatientDlg> clear([](CPatientDlg* pDlg) {
        for (QPushButton* p : pDlg->findChildren<QPushButton*>())
            if (p->text() == "Anonymous") p->click();
        pDlg->accept();
    });
    Window().OnPatient();
    EXPECT_FALSE(Window().Dicom()->Patient().IsSet());
    EXPECT_EQ(pBox->findChild<QLabel*>()->text(), "ANONYMOUS");
}

}  // namespace
}  // namespace orvi::test
