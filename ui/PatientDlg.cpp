#include "ui/PatientDlg.h"

#include "export/dicom/DxWriter.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include <algorithm>

namespace orvi {

namespace {

QString Q(const std::string& s) { return QString::fromUtf8(s); }
std::string S(const QString& s) { return s.trimmed().toStdString(); }

// A combo box of "" and the coded terms.
QComboBox* TermBox(const dicom::CCodedTerm* pTable, size_t nCount, const std::string& strCurrent) {
    auto* pBox = new QComboBox;
    pBox->addItem("");
    for (size_t i = 0; i < nCount; ++i) pBox->addItem(pTable[i].szTerm);
    pBox->setCurrentIndex(std::max(0, pBox->findText(Q(strCurrent))));
    return pBox;
}

}  // namespace

CPatientDlg::CPatientDlg(const dicom::CPatientStudy& patient, QWidget* pParent) : QDialog(pParent), m_patient(patient) {
    setWindowTitle("Patient");
    const std::string& strName = patient.strPatientName;
    const size_t nCaret = strName.find('^');
    m_pFamily = new QLineEdit(Q(strName.substr(0, nCaret)));
    m_pGiven = new QLineEdit(nCaret == std::string::npos ? QString() : Q(strName.substr(nCaret + 1)));
    m_pId = new QLineEdit(Q(patient.strPatientId));
    m_pId->setMaxLength(64);
    m_pBirth = new QLineEdit(Q(patient.strBirthDate));
    m_pBirth->setPlaceholderText("YYYYMMDD");
    m_pBirth->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]{0,8}"), m_pBirth));
    m_pSex = new QComboBox;
    m_pSex->addItems({"", "M", "F", "O"});
    m_pSex->setCurrentIndex(std::max(0, m_pSex->findText(Q(patient.strSex))));
    m_pAccession = new QLineEdit(Q(patient.strAccessionNumber));
    m_pAccession->setMaxLength(16);
    size_t nParts = 0, nViews = 0;
    const dicom::CCodedTerm* pParts = dicom::BodyPartTable(nParts);
    const dicom::CCodedTerm* pViews = dicom::ViewPositionTable(nViews);
    m_pBodyPart = TermBox(pParts, nParts, patient.strBodyPart);
    m_pView = TermBox(pViews, nViews, patient.strViewPosition);

    auto* pForm = new QFormLayout;
    pForm->addRow("Family name", m_pFamily);
    pForm->addRow("Given name", m_pGiven);
    pForm->addRow("Patient ID", m_pId);
    pForm->addRow("Birth date", m_pBirth);
    pForm->addRow("Sex", m_pSex);
    pForm->addRow("Accession number", m_pAccession);
    pForm->addRow("Body part", m_pBodyPart);
    pForm->addRow("View position", m_pView);

    auto* pButtons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    QPushButton* pAnonymous = pButtons->addButton("Anonymous", QDialogButtonBox::ResetRole);
    connect(pAnonymous, &QPushButton::clicked, this, &CPatientDlg::Clear);
    connect(pButtons, &QDialogButtonBox::accepted, this, [this] {
        // A birth date is all eight digits or none.
        if (!m_pBirth->text().isEmpty() && m_pBirth->text().size() != 8) {
            m_pBirth->setFocus();
            return;
        }
        accept();
    });
    connect(pButtons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* pLayout = new QVBoxLayout(this);
    pLayout->addLayout(pForm);
    pLayout->addWidget(pButtons);
}

void CPatientDlg::Clear() {
    for (QLineEdit* p : {m_pFamily, m_pGiven, m_pId, m_pBirth, m_pAccession}) p->clear();
    for (QComboBox* p : {m_pSex, m_pBodyPart, m_pView}) p->setCurrentIndex(0);
}

dicom::CPatientStudy CPatientDlg::Patient() const {
    dicom::CPatientStudy p = m_patient;
    const std::string strFamily = S(m_pFamily->text()), strGiven = S(m_pGiven->text());
    p.strPatientName = strGiven.empty() ? strFamily : strFamily + "^" + strGiven;
    p.strPatientId = S(m_pId->text());
    p.strBirthDate = S(m_pBirth->text());
    p.strSex = S(m_pSex->currentText());
    // A new accession number or patient is a new request: a worklist's study UID no longer applies.
    if (p.strPatientId != m_patient.strPatientId || S(m_pAccession->text()) != m_patient.strAccessionNumber)
        p.strStudyInstanceUid.clear();
    p.strAccessionNumber = S(m_pAccession->text());
    p.strBodyPart = S(m_pBodyPart->currentText());
    p.strViewPosition = S(m_pView->currentText());
    return p;
}

CPatientBox::CPatientBox(QWidget* pParent) : QGroupBox("Patient", pParent) {
    m_pText = new QLabel;
    auto* pButton = new QPushButton("Patient...");
    connect(pButton, &QPushButton::clicked, this, &CPatientBox::EditClicked);
    auto* pLayout = new QVBoxLayout(this);
    pLayout->addWidget(m_pText);
    pLayout->addWidget(pButton);
    ShowPatient({});
}

void CPatientBox::ShowPatient(const dicom::CPatientStudy& p) {
    if (!p.IsSet()) {
        m_pText->setText("ANONYMOUS");
        m_pText->setToolTip("");
        return;
    }
    // One line in the panel, elided to its width; all of it in the tool tip.
    QString s = Q(p.strPatientName).replace('^', ", ");
    if (!p.strPatientId.empty()) s += " (" + Q(p.strPatientId) + ")";
    QString strTip = s;
    if (!p.strBodyPart.empty()) strTip += "\n" + Q(p.strBodyPart) + " " + Q(p.strViewPosition);
    if (!p.strAccessionNumber.empty()) strTip += "\nAccession " + Q(p.strAccessionNumber);
    m_pText->setText(m_pText->fontMetrics().elidedText(s, Qt::ElideRight, std::max(80, m_pText->width())));
    m_pText->setToolTip(strTip);
}

void ShowExposureIndex(QLabel* pLabel, const QString& strText, unsigned nRgb) {
    pLabel->setText(strText);
    pLabel->setStyleSheet(QString("QLabel { color: #%1; font-weight: bold; }").arg(nRgb, 6, 16, QChar('0')));
}

}  // namespace orvi
