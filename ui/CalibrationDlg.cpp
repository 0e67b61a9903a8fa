#include "ui/CalibrationDlg.h"

#include "acquisition/CalibrationDialog.h"
#include "ui/DialogUnits.h"

#include <QApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace orvi {

CCalibrationDlg::CCalibrationDlg(CCalibration& logic, QWidget* pParent) : QDialog(pParent), m_logic(logic) {
    setWindowFlags(kDialogFrame);
    setWindowTitle(QStringLiteral("Dialog"));
    setModal(true);
    const CDialogUnits du(this);

    // The list of calibration files, and the four buttons beside it.
    m_pList = new QListWidget(this);
    m_pList->setFixedSize(du.Size(151, 111));
    m_pList->setSelectionMode(QAbstractItemView::SingleSelection);
    m_pList->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_controls[IDC_FILE_LIST] = m_pList;
    // The logic follows the list's selection, not its current row: the list
    // makes its first row current (unselected) when it takes the focus, and
    // DELETE FILE must then delete nothing.
    connect(m_pList, &QListWidget::itemSelectionChanged, this, [this] {
        if (m_bLoading) return;
        const QList<QListWidgetItem*> selected = m_pList->selectedItems();
        m_logic.m_nSelected = selected.isEmpty() ? -1 : m_pList->row(selected.front());
    });

    auto* pButtons = new QVBoxLayout;
    pButtons->setSpacing(du.Y(2));
    pButtons->addWidget(AddButton(IDC_GET_BRIGHT, "GET BRIGHT", &CCalibrationDlg::OnGetBright));
    pButtons->addWidget(AddButton(IDC_GET_DARK, "GET DARK", &CCalibrationDlg::OnGetDark));
    pButtons->addWidget(AddButton(IDC_DELETE_FILE, "DELETE FILE", &CCalibrationDlg::OnDeleteFile));
    pButtons->addWidget(AddButton(IDC_MAKE_BPM, "MAKE BPM", &CCalibrationDlg::OnMakeBpm));
    pButtons->addStretch(1);
    auto* pTop = new QHBoxLayout;
    pTop->setSpacing(du.X(8));
    pTop->addWidget(m_pList);
    pTop->addLayout(pButtons);

    // The thresholds: area in percent of the block mean, line in grey levels.
    auto* pGroup = new QGroupBox(QStringLiteral("BPM Range"), this);
    auto* pGrid = new QGridLayout(pGroup);
    pGrid->setHorizontalSpacing(du.X(3));
    pGrid->setVerticalSpacing(du.Y(3));
    struct Box {
        int nId;
        std::string CCalibration::*pText;
        int nRow, nColumn;
    };
    const Box boxes[] = {
        {IDC_AREA_BRIGHT, &CCalibration::m_strAreaBright, 0, 1},
        {IDC_AREA_DARK, &CCalibration::m_strAreaDark, 0, 4},
        {IDC_LINE_BRIGHT, &CCalibration::m_strLineBright, 1, 1},
        {IDC_LINE_DARK, &CCalibration::m_strLineDark, 1, 4},
    };
    for (const Box& b : boxes) {
        auto* pEdit = new QLineEdit(pGroup);
        pEdit->setFixedSize(du.Size(40, 14));
        m_controls[b.nId] = pEdit;
        pGrid->addWidget(pEdit, b.nRow, b.nColumn);
        // Typed values go to the logic at once; MAKE BPM reads them there.
        connect(pEdit, &QLineEdit::textChanged, this, [this, p = b.pText](const QString& str) {
            if (!m_bLoading) m_logic.*p = str.toStdString();
        });
    }
    auto label = [pGroup](const char* sz, Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter) {
        auto* pLabel = new QLabel(QString::fromLatin1(sz), pGroup);
        pLabel->setAlignment(align);
        return pLabel;
    };
    const Qt::Alignment right = Qt::AlignRight | Qt::AlignVCenter;
    pGrid->addWidget(label("Area   Bright :"), 0, 0);
    pGrid->addWidget(label("%"), 0, 2);
    pGrid->addWidget(label("Dark :", right), 0, 3);
    pGrid->addWidget(label("%"), 0, 5);
    pGrid->addWidget(label("Line    Bright :"), 1, 0);
    pGrid->addWidget(label("Dark :", right), 1, 3);
    pGrid->setColumnMinimumWidth(2, du.X(6));
    pGrid->setColumnMinimumWidth(5, du.X(6));
    pGrid->setColumnStretch(3, 1);

    auto* pColumn = new QVBoxLayout(this);
    pColumn->setContentsMargins(du.X(8), du.Y(7), du.X(8), du.Y(7));
    pColumn->setSpacing(du.Y(5));
    pColumn->addLayout(pTop);
    // The progress of GET BRIGHT / GET DARK and the result of MAKE BPM.
    m_pProgress = new QLabel(this);
    m_pProgress->setMinimumHeight(du.Y(10));
    m_pProgress->setStyleSheet(QStringLiteral("color: #1f4e79; font-weight: bold;"));
    pColumn->addWidget(m_pProgress);
    pColumn->addWidget(pGroup);
    pColumn->setSizeConstraint(QLayout::SetFixedSize);

    Load();
}

QPushButton* CCalibrationDlg::AddButton(int nId, const char* szCaption, void (CCalibrationDlg::*pSlot)()) {
    auto* pButton = new QPushButton(QString::fromLatin1(szCaption), this);
    pButton->setFixedSize(CDialogUnits(this).Size(50, 26));
    pButton->setAutoDefault(false);
    m_controls[nId] = pButton;
    connect(pButton, &QPushButton::clicked, this, pSlot);
    return pButton;
}

void CCalibrationDlg::Load() {
    m_bLoading = true;
    {
        const QSignalBlocker block(m_pList);
        const std::vector<std::string>& files = m_logic.Files();
        // Rebuilt only when the names changed, so the scroll position stays.
        bool bSame = m_pList->count() == static_cast<int>(files.size());
        for (int i = 0; bSame && i < m_pList->count(); ++i)
            bSame = m_pList->item(i)->text().toStdString() == files[static_cast<size_t>(i)];
        if (!bSame) {
            m_pList->clear();
            for (const std::string& s : files) m_pList->addItem(QString::fromStdString(s));
        }
        if (m_logic.m_nSelected >= 0 && m_logic.m_nSelected < m_pList->count()) {
            m_pList->setCurrentRow(m_logic.m_nSelected, QItemSelectionModel::ClearAndSelect);
        } else {
            m_pList->clearSelection();
        }
    }
    Button(IDC_GET_BRIGHT)->setText(QString::fromStdString(m_logic.m_strGetBrightCaption));
    Button(IDC_GET_BRIGHT)->setEnabled(m_logic.m_bGetBrightEnabled);
    Button(IDC_GET_DARK)->setEnabled(m_logic.m_bGetDarkEnabled);
    Button(IDC_MAKE_BPM)->setEnabled(m_logic.m_bMakeBpmEnabled);
    m_pProgress->setText(QString::fromStdString(m_logic.m_strProgress));
    const std::pair<int, const std::string*> texts[] = {
        {IDC_AREA_BRIGHT, &m_logic.m_strAreaBright},
        {IDC_AREA_DARK, &m_logic.m_strAreaDark},
        {IDC_LINE_BRIGHT, &m_logic.m_strLineBright},
        {IDC_LINE_DARK, &m_logic.m_strLineDark},
    };
    for (const auto& [nId, pText] : texts) {
        QLineEdit* pEdit = Edit(nId);
        const QString str = QString::fromStdString(*pText);
        if (pEdit->text() != str) pEdit->setText(str);  // a box being typed in keeps its cursor
    }
    m_bLoading = false;
}

void CCalibrationDlg::OnGetBright() {
    m_logic.OnGetBright();
    Load();
}

void CCalibrationDlg::OnGetDark() {
    m_logic.OnGetDark();
    Load();
}

void CCalibrationDlg::OnDeleteFile() {
    m_logic.OnDeleteFile();
    Load();
    // The entry that moved up is selected, with the focus on the list.
    m_pList->setFocus();
}

void CCalibrationDlg::OnMakeBpm() {
    // The map is built inside this click; the dialog does not respond meanwhile.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    m_logic.OnMakeBpm();
    QApplication::restoreOverrideCursor();
    Load();
}

QWidget* CCalibrationDlg::Control(int nId) const {
    auto it = m_controls.find(nId);
    return it == m_controls.end() ? nullptr : it->second;
}

QPushButton* CCalibrationDlg::Button(int nId) const { return qobject_cast<QPushButton*>(Control(nId)); }

QLineEdit* CCalibrationDlg::Edit(int nId) const { return qobject_cast<QLineEdit*>(Control(nId)); }

}  // namespace orvi
