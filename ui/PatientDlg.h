#pragma once
// The "Patient" dialog: who the next exposures belong to (name, ID, birth
// date, sex, accession number, body part, view position). OK sets them;
// "Anonymous" clears them, so the images go to ANONYMOUS under an ID the
// station makes. Also the panel's "Patient" group that opens it and shows
// the patient now set.
#include "export/dicom/PatientStudy.h"

#include <QDialog>
#include <QGroupBox>

class QComboBox;
class QLabel;
class QLineEdit;

namespace orvi {

class CPatientDlg final : public QDialog {
    Q_OBJECT
public:
    explicit CPatientDlg(const dicom::CPatientStudy& patient, QWidget* pParent = nullptr);

    // The fields as a patient (the dialog's other study fields kept as given).
    dicom::CPatientStudy Patient() const;

    QLineEdit* FamilyEdit() const { return m_pFamily; }
    QLineEdit* IdEdit() const { return m_pId; }
    QComboBox* BodyPartBox() const { return m_pBodyPart; }

private:
    void Clear();

    dicom::CPatientStudy m_patient;
    QLineEdit* m_pFamily = nullptr;
    QLineEdit* m_pGiven = nullptr;
    QLineEdit* m_pId = nullptr;
    QLineEdit* m_pBirth = nullptr;
    QComboBox* m_pSex = nullptr;
    QLineEdit* m_pAccession = nullptr;
    QComboBox* m_pBodyPart = nullptr;
    QComboBox* m_pView = nullptr;
};

// The panel's group: the patient now set and the button that opens the dialog.
class CPatientBox final : public QGroupBox {
    Q_OBJECT
public:
    explicit CPatientBox(QWidget* pParent = nullptr);
    void ShowPatient(const dicom::CPatientStudy& patient);

signals:
    void EditClicked();

private:
    QLabel* m_pText = nullptr;
};

// The status bar's text for an exposure index, in the colour of its action level.
void ShowExposureIndex(QLabel* pLabel, const QString& strText, unsigned nRgb);

}  // namespace orvi
