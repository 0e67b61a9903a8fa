#include "ui/ConfigDlg.h"

#include "acquisition/ConfigDialog.h"
#include "acquisition/MainFrame.h"
#include "ui/DialogUnits.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStandardPaths>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace orvi {

CConfigDlg::CConfigDlg(CMainFrame& frame, QWidget* pParent) : QDialog(pParent), m_frame(frame) {
    setWindowFlags(kDialogFrame);
    setWindowTitle(QStringLiteral("Config"));
    setModal(false);
    const CDialogUnits du(this);

    // The detector's parameters, one per row, with their units.
    auto* pForm = new QGridLayout;
    pForm->setHorizontalSpacing(du.X(4));
    pForm->setVerticalSpacing(du.Y(3));
    int nRow = 0;
    auto addRow = [&](const char* szLabel, QWidget* pField, const char* szUnit = nullptr) {
        pForm->addWidget(new QLabel(QString::fromLatin1(szLabel), this), nRow, 0);
        pForm->addWidget(pField, nRow, 1);
        if (szUnit != nullptr) pForm->addWidget(new QLabel(QString::fromLatin1(szUnit), this), nRow, 2);
        ++nRow;
    };
    addRow("Firmware Version:", AddEdit(IDC_VERSION, &CTarsoConfigDlg::m_strVersion, true));

    m_pTrigger = new QComboBox(this);
    m_pTrigger->setEditable(true);
    m_pTrigger->setInsertPolicy(QComboBox::NoInsert);
    m_pTrigger->setCompleter(nullptr);
    for (const char* szItem : kTriggerItems) m_pTrigger->addItem(QString::fromLatin1(szItem));
    m_pTrigger->setCurrentIndex(-1);
    m_controls[IDC_TRIGGER_MODE] = m_pTrigger;
    // An item chosen from the list selects it; text typed into the box is no
    // selection (Write then takes mode 1).
    connect(m_pTrigger, &QComboBox::activated, this, [this](int nIndex) {
        if (CTarsoConfigDlg* p = Logic(); p != nullptr && !m_bLoading) p->SelectTrigger(nIndex);
    });
    connect(m_pTrigger->lineEdit(), &QLineEdit::textEdited, this, [this](const QString& str) {
        CTarsoConfigDlg* p = Logic();
        if (p == nullptr || m_bLoading) return;
        p->m_nTriggerIndex = -1;
        p->m_strTriggerText = str.toStdString();
    });
    addRow("Trigger Mode :", m_pTrigger);
    addRow("FGA[0~7] :", AddEdit(IDC_FGA, &CTarsoConfigDlg::m_strFga));
    addRow("Acquire Delay:", AddEdit(IDC_ACQUIRE_DELAY, &CTarsoConfigDlg::m_strAcquireDelay), "ms");
    addRow("Set Delay:", AddEdit(IDC_SET_DELAY, &CTarsoConfigDlg::m_strSetDelay), "ms");
    addRow("Inner Delay:", AddEdit(IDC_INNER_DELAY, &CTarsoConfigDlg::m_strInnerDelay, true), "ms");
    pForm->setColumnStretch(1, 1);

    // Image naming: the folder, the name, Browse, Auto naming.
    auto* pGroup = new QGroupBox(QStringLiteral("Image file name"), this);
    m_controls[IDC_NAME_GROUP] = pGroup;
    auto* pNaming = new QGridLayout(pGroup);
    pNaming->setHorizontalSpacing(du.X(4));
    pNaming->setVerticalSpacing(du.Y(3));
    m_pFolder = new QLabel(pGroup);
    m_pFolder->setFrameShape(QFrame::StyledPanel);
    m_pFolder->setFrameShadow(QFrame::Sunken);
    m_pFolder->setMinimumHeight(du.Y(12));
    m_pFolder->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_pFolder->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    m_controls[IDC_FOLDER] = m_pFolder;
    pNaming->addWidget(m_pFolder, 0, 0, 1, 2);
    QLineEdit* pName = AddEdit(IDC_IMAGE_NAME, &CTarsoConfigDlg::m_strImageName);
    pName->setParent(pGroup);
    pNaming->addWidget(pName, 1, 0);
    QPushButton* pBrowse = AddButton(IDC_BROWSE, "Browse");
    pBrowse->setParent(pGroup);
    connect(pBrowse, &QPushButton::clicked, this, &CConfigDlg::OnBrowse);
    pNaming->addWidget(pBrowse, 1, 1);
    QCheckBox* pAuto =
        AddCheckBox(IDC_AUTO_NAMING, "Auto naming", [](CTarsoConfigDlg& d) -> bool& { return d.m_bAutoNaming; });
    pAuto->setParent(pGroup);
    pNaming->addWidget(pAuto, 2, 0, 1, 2);
    pNaming->setColumnStretch(0, 1);

    // Write, Reset, Exit.
    auto* pBottom = new QHBoxLayout;
    pBottom->setSpacing(du.X(6));
    QPushButton* pWrite = AddButton(IDC_WRITE, "Write");
    QPushButton* pReset = AddButton(IDC_RESET, "Reset");
    QPushButton* pExit = AddButton(IDC_EXIT, "Exit");
    connect(pWrite, &QPushButton::clicked, this, &CConfigDlg::OnWrite);
    connect(pReset, &QPushButton::clicked, this, &CConfigDlg::OnReset);
    connect(pExit, &QPushButton::clicked, this, &CConfigDlg::OnExit);
    for (QPushButton* p : {pWrite, pReset, pExit}) {
        p->setMinimumSize(du.Size(50, 14));
        pBottom->addWidget(p);
        if (p == pWrite) {
            // A Write that sent the parameters says so here.
            m_pWritten = new QLabel(this);
            m_pWritten->setStyleSheet(QStringLiteral("color: #1a7f37; font-weight: bold;"));
            m_pWritten->setMinimumWidth(du.X(30));
            pBottom->addWidget(m_pWritten);
        }
    }

    // Fields the detector keeps that the operator does not change here: they
    // are filled by the refresh and checked and sent by Write, but not shown.
    AddEdit(IDC_VT, &CTarsoConfigDlg::m_strVt);
    AddEdit(IDC_SPAN, &CTarsoConfigDlg::m_strSpan);
    AddEdit(IDC_INTEGRATE, &CTarsoConfigDlg::m_strIntegrate);
    AddEdit(IDC_CLEAR_TIME, &CTarsoConfigDlg::m_strClearTime);
    const char* kSensors[] = {"I", "II", "III", "Reset"};
    const char* kGains[] = {"GAIN0", "GAIN1", "GAIN2", "GAIN3"};
    for (size_t i = 0; i < 4; ++i) {
        AddCheckBox(IDC_SENSOR_I + int(i), kSensors[i], [i](CTarsoConfigDlg& d) -> bool& { return d.m_bSensor[i]; });
        AddCheckBox(IDC_GAIN0 + int(i), kGains[i], [i](CTarsoConfigDlg& d) -> bool& { return d.m_bGain[i]; });
    }
    QPushButton* pRead = AddButton(IDC_READ, "Read");
    connect(pRead, &QPushButton::clicked, this, &CConfigDlg::OnRead);
    pRead->setEnabled(false);
    for (int nId : {int(IDC_VT), int(IDC_SPAN), int(IDC_INTEGRATE), int(IDC_CLEAR_TIME), int(IDC_SENSOR_I),
                    int(IDC_SENSOR_II), int(IDC_SENSOR_III), int(IDC_SENSOR_RESET), int(IDC_GAIN0), int(IDC_GAIN1),
                    int(IDC_GAIN2), int(IDC_GAIN3), int(IDC_READ)})
        m_controls[nId]->setVisible(false);

    auto* pColumn = new QVBoxLayout(this);
    pColumn->setContentsMargins(du.X(8), du.Y(7), du.X(8), du.Y(7));
    pColumn->setSpacing(du.Y(6));
    pColumn->addLayout(pForm);
    pColumn->addWidget(pGroup);
    pColumn->addStretch(1);
    pColumn->addLayout(pBottom);
    const QSize sizeHint = this->sizeHint();
    setFixedSize(std::max(sizeHint.width(), du.X(204)), sizeHint.height());
    m_pTrigger->setFocus();

    Load();
}

CTarsoConfigDlg* CConfigDlg::Logic() const { return m_frame.ConfigDialog(); }

QLineEdit* CConfigDlg::AddEdit(int nId, std::string CTarsoConfigDlg::*pField, bool bReadOnly) {
    auto* pEdit = new QLineEdit(this);
    pEdit->setReadOnly(bReadOnly);
    if (bReadOnly) {
        // Read-only fields look it: the dialog's face instead of a white field.
        QPalette pal = pEdit->palette();
        pal.setColor(QPalette::Base, pal.color(QPalette::Window));
        pEdit->setPalette(pal);
    }
    m_controls[nId] = pEdit;
    m_editFields[nId] = pField;
    connect(pEdit, &QLineEdit::textChanged, this, [this, pField](const QString& str) {
        if (CTarsoConfigDlg* p = Logic(); p != nullptr && !m_bLoading) p->*pField = str.toStdString();
    });
    return pEdit;
}

QCheckBox* CConfigDlg::AddCheckBox(int nId, const char* szCaption, std::function<bool&(CTarsoConfigDlg&)> fnField) {
    auto* pBox = new QCheckBox(QString::fromLatin1(szCaption), this);
    m_controls[nId] = pBox;
    m_checkFields[nId] = fnField;
    connect(pBox, &QCheckBox::toggled, this, [this, fnField](bool bOn) {
        if (CTarsoConfigDlg* p = Logic(); p != nullptr && !m_bLoading) fnField(*p) = bOn;
    });
    return pBox;
}

QPushButton* CConfigDlg::AddButton(int nId, const char* szCaption) {
    auto* pButton = new QPushButton(QString::fromLatin1(szCaption), this);
    pButton->setAutoDefault(false);
    m_controls[nId] = pButton;
    return pButton;
}

void CConfigDlg::Load() {
    CTarsoConfigDlg* p = Logic();
    if (p == nullptr) return;
    m_bLoading = true;
    for (const auto& [nId, pField] : m_editFields) {
        QLineEdit* pEdit = Edit(nId);
        const QString str = QString::fromStdString(p->*pField);
        if (pEdit->text() != str) pEdit->setText(str);
    }
    for (const auto& [nId, fnField] : m_checkFields) CheckBox(nId)->setChecked(fnField(*p));
    if (p->m_nTriggerIndex >= 0 && p->m_nTriggerIndex < m_pTrigger->count()) {
        m_pTrigger->setCurrentIndex(p->m_nTriggerIndex);
    } else {
        m_pTrigger->setCurrentIndex(-1);
        m_pTrigger->setEditText(QString::fromStdString(p->m_strTriggerText));
    }
    m_pFolder->setText(QString::fromStdString(p->m_strFolder));
    m_pFolder->setToolTip(m_pFolder->text());
    m_bLoading = false;
}

void CConfigDlg::keyPressEvent(QKeyEvent* pEvent) {
    const bool bEnter = pEvent->key() == Qt::Key_Return || pEvent->key() == Qt::Key_Enter;
    if (bEnter && pEvent->modifiers() == Qt::NoModifier && qobject_cast<QPushButton*>(focusWidget()) == nullptr) {
        accept();  // hides the modeless dialog
        return;
    }
    QDialog::keyPressEvent(pEvent);
}

void CConfigDlg::OnWrite() {
    m_pWritten->clear();
    CTarsoConfigDlg* p = Logic();
    if (p == nullptr || !p->OnWrite()) return;
    m_pWritten->setText(QStringLiteral("Written"));
    QTimer::singleShot(4000, m_pWritten, &QLabel::clear);
}

QString CConfigDlg::PickFolder(QWidget* pParent) {
    QString strStart = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    if (strStart.isEmpty() || !QDir(strStart).exists()) strStart = QDir::homePath();
    return QFileDialog::getExistingDirectory(pParent, QStringLiteral("Select path"), strStart,
                                             QFileDialog::ShowDirsOnly);
}

void CConfigDlg::OnBrowse() {
    const QString strPicked = m_fnPickFolder ? m_fnPickFolder(this) : QString();
    CTarsoConfigDlg* p = Logic();  // the dialog may have been refreshed meanwhile, never destroyed
    if (p == nullptr) return;
    p->OnBrowse(strPicked.toStdString());
    Load();
}

void CConfigDlg::OnRead() {
    if (CTarsoConfigDlg* p = Logic()) p->OnRead();
}

void CConfigDlg::OnReset() {
    if (CTarsoConfigDlg* p = Logic()) p->OnReset();
}

void CConfigDlg::OnExit() {
    // The logic is deleted inside; the main window closes this widget later.
    if (CTarsoConfigDlg* p = Logic()) p->OnExit();
}

QWidget* CConfigDlg::Control(int nId) const {
    auto it = m_controls.find(nId);
    return it == m_controls.end() ? nullptr : it->second;
}

QLineEdit* CConfigDlg::Edit(int nId) const { return qobject_cast<QLineEdit*>(Control(nId)); }

QCheckBox* CConfigDlg::CheckBox(int nId) const { return qobject_cast<QCheckBox*>(Control(nId)); }

QPushButton* CConfigDlg::Button(int nId) const { return qobject_cast<QPushButton*>(Control(nId)); }

}  // namespace orvi
