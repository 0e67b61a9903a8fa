#include "ui/GbeDlg.h"

#include "acquisition/CalibrationDialog.h"
#include "ui/DialogUnits.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace orvi {

namespace {

// A drop-down box with an edit field: no item chosen and an empty field at
// first; a typed name is kept as typed (not added, not completed).
QComboBox* MakeNameBox(QWidget* pParent, const std::vector<std::string>& items) {
    auto* pBox = new QComboBox(pParent);
    pBox->setEditable(true);
    pBox->setInsertPolicy(QComboBox::NoInsert);
    pBox->setCompleter(nullptr);
    pBox->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    for (const std::string& s : items) pBox->addItem(QString::fromStdString(s));
    pBox->setCurrentIndex(-1);
    pBox->setEditText(QString());
    return pBox;
}

}  // namespace

CGbeDlg::CGbeDlg(const std::vector<std::string>& adapters, const std::vector<std::string>& ports, bool bSecondDetector,
                 QWidget* pParent)
    : QDialog(pParent) {
    setWindowFlags(kDialogFrame);
    setWindowTitle(QStringLiteral("Select network adapter"));
    setModal(true);
    const CDialogUnits du(this);

    std::vector<std::string> sorted = adapters;
    std::stable_sort(sorted.begin(), sorted.end(), ListBoxLess);

    auto* pGroup = new QGroupBox(QStringLiteral("Detector"), this);
    m_controls[IDC_DETECTOR_GROUP] = pGroup;
    auto* pGrid = new QGridLayout(pGroup);
    pGrid->setHorizontalSpacing(du.X(6));
    pGrid->setVerticalSpacing(du.Y(4));
    auto* pPortLabel = new QLabel(QStringLiteral("Serial ports list:"), pGroup);
    m_controls[IDC_PORT_LABEL] = pPortLabel;
    auto* pAdapterLabel = new QLabel(QStringLiteral("Network adapter list:"), pGroup);
    QComboBox* pPort1 = MakeNameBox(pGroup, ports);
    QComboBox* pPort2 = MakeNameBox(pGroup, ports);
    QComboBox* pAdapter1 = MakeNameBox(pGroup, sorted);
    QComboBox* pAdapter2 = MakeNameBox(pGroup, sorted);
    m_controls[IDC_PORT_1] = pPort1;
    m_controls[IDC_PORT_2] = pPort2;
    m_controls[IDC_ADAPTER_1] = pAdapter1;
    m_controls[IDC_ADAPTER_2] = pAdapter2;
    pPort1->setMinimumWidth(du.X(90));
    pAdapter1->setMinimumWidth(du.X(220));
    pGrid->addWidget(pPortLabel, 0, 0);
    pGrid->addWidget(pPort1, 1, 0);
    pGrid->addWidget(pPort2, 2, 0);
    pGrid->addWidget(pAdapterLabel, 0, 1);
    pGrid->addWidget(pAdapter1, 1, 1);
    pGrid->addWidget(pAdapter2, 2, 1);
    pGrid->setColumnStretch(1, 1);
    // Slot B is never shown; without a second detector it is disabled too.
    for (QComboBox* pBox : {pPort2, pAdapter2}) {
        pBox->setVisible(false);
        pBox->setEnabled(bSecondDetector);
    }

    auto* pButtons = new QDialogButtonBox(this);
    QPushButton* pOk = pButtons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    QPushButton* pCancel = pButtons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    pOk->setDefault(true);
    for (QPushButton* p : {pOk, pCancel}) p->setMinimumSize(du.Size(50, 14));
    m_controls[IDOK] = pOk;
    m_controls[IDCANCEL] = pCancel;
    connect(pButtons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(pButtons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* pColumn = new QVBoxLayout(this);
    pColumn->setContentsMargins(du.X(7), du.Y(7), du.X(7), du.Y(7));
    pColumn->setSpacing(du.Y(7));
    pColumn->addWidget(pGroup, 1);
    pColumn->addWidget(pButtons);
    pColumn->setSizeConstraint(QLayout::SetFixedSize);
    pGroup->setMinimumWidth(du.X(340));
    pPort1->setFocus();
}

CAdapterChoice CGbeDlg::Choice() const {
    auto text = [this](int nId) { return Box(nId)->currentText().toStdString(); };
    return {text(IDC_ADAPTER_1), text(IDC_ADAPTER_2), text(IDC_PORT_1), text(IDC_PORT_2)};
}

QWidget* CGbeDlg::Control(int nId) const {
    auto it = m_controls.find(nId);
    return it == m_controls.end() ? nullptr : it->second;
}

QComboBox* CGbeDlg::Box(int nId) const { return qobject_cast<QComboBox*>(Control(nId)); }

}  // namespace orvi
