#include "ui/ToolDlgBar.h"

#include "display/ViewGeometry.h"
#include "ui/ChildView.h"

#include <QAbstractEventDispatcher>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <QWheelEvent>

namespace orvi {

namespace {

// A drop-down list that leaves wheel turns alone unless it has the focus, so
// turning the wheel over the panel never switches detector or offset by
// accident; the turn goes on to the main window, which zooms the image.
class CPanelComboBox final : public QComboBox {
public:
    explicit CPanelComboBox(QWidget* pParent) : QComboBox(pParent) { setFocusPolicy(Qt::StrongFocus); }

protected:
    void wheelEvent(QWheelEvent* pEvent) override {
        if (hasFocus())
            QComboBox::wheelEvent(pEvent);
        else
            pEvent->ignore();
    }
};

constexpr int kPanelWidth = 220;  // the template's 143 dialog units at the panel's font
constexpr int kButtonHeight = 30;

}  // namespace

CToolDlgBar::CToolDlgBar(CChildView* pView, QWidget* pParent) : QDockWidget(pParent), m_pView(pView) {
    setObjectName(QStringLiteral("ToolDlgBar"));
    // Docked for good on the right: no title bar, cannot float or close.
    setFeatures(QDockWidget::NoDockWidgetFeatures);
    setAllowedAreas(Qt::RightDockWidgetArea);
    setTitleBarWidget(new QWidget(this));

    auto* pContent = new QFrame(this);
    pContent->setObjectName(QStringLiteral("ToolDlgBarContent"));
    // The bar's border on its left side.
    pContent->setStyleSheet(QStringLiteral("#ToolDlgBarContent { border-left: 1px solid palette(mid); }"));
    pContent->setFixedWidth(kPanelWidth);
    auto* pColumn = new QVBoxLayout(pContent);
    m_pColumn = pColumn;
    pColumn->setContentsMargins(10, 8, 9, 8);
    pColumn->setSpacing(10);

    // Connection: Connect and Disconnect side by side.
    auto* pConnection = new QGroupBox(QStringLiteral("Connection"), pContent);
    m_controls[IDC_CONNECTION_GROUP] = pConnection;
    auto* pConnRow = new QHBoxLayout(pConnection);
    pConnRow->setSpacing(6);
    pConnRow->addWidget(AddButton(IDC_CONNECT, "Connect", &CToolDlgBar::ConnectClicked));
    pConnRow->addWidget(AddButton(IDC_DISCONNECT, "Disconnect", &CToolDlgBar::DisconnectClicked));
    pColumn->addWidget(pConnection);
    pColumn->addWidget(AddCheckBox(IDC_SHOW_NETWORK, "Show Network Window", &CToolDlgBar::ShowNetworkWindowClicked));

    // Acquisition, configuration, calibration.
    auto* pAcqGroup = new QGroupBox(pContent);
    m_controls[IDC_ACQUISITION_GROUP] = pAcqGroup;
    auto* pAcqColumn = new QVBoxLayout(pAcqGroup);
    pAcqColumn->setSpacing(6);
    // The exposure button is the one used all day: larger, in bold.
    QPushButton* pAcquisition = AddButton(IDC_ACQUISITION, "Acqusition", &CToolDlgBar::AcquisitionClicked);
    QFont fontBold = pAcquisition->font();
    fontBold.setBold(true);
    pAcquisition->setFont(fontBold);
    pAcquisition->setMinimumHeight(kButtonHeight * 3 / 2);
    pAcqColumn->addWidget(pAcquisition);
    pAcqColumn->addWidget(AddButton(IDC_OPEN_CONFIG, "Open Config", &CToolDlgBar::OpenConfigClicked));
    pAcqColumn->addWidget(
        AddButton(IDC_MAKE_CALIBRATION, "Make Calibration files", &CToolDlgBar::MakeCalibrationClicked));
    pColumn->addWidget(pAcqGroup);

    // Files.
    auto* pFileGroup = new QGroupBox(pContent);
    m_controls[IDC_FILE_GROUP] = pFileGroup;
    auto* pFileColumn = new QVBoxLayout(pFileGroup);
    pFileColumn->addWidget(AddButton(IDC_OPEN_FILE, "Open File", &CToolDlgBar::OpenFileClicked));
    pColumn->addWidget(pFileGroup);

    // Window width and level.
    auto* pWindowGroup = new QGroupBox(pContent);
    m_controls[IDC_WINDOW_GROUP] = pWindowGroup;
    auto* pGrid = new QGridLayout(pWindowGroup);
    pGrid->setHorizontalSpacing(8);
    pGrid->setVerticalSpacing(6);
    m_pWidth = new QLineEdit(QStringLiteral("16383"), pWindowGroup);
    m_pLevel = new QLineEdit(QStringLiteral("8191"), pWindowGroup);
    for (QLineEdit* pEdit : {m_pWidth, m_pLevel}) {
        pEdit->setMaximumWidth(80);
        connect(pEdit, &QLineEdit::textChanged, this, [this] {
            OnWindowLevelEdited();
            ApplyState();
        });
    }
    m_controls[IDC_WINDOW_WIDTH] = m_pWidth;
    m_controls[IDC_WINDOW_LEVEL] = m_pLevel;
    pGrid->addWidget(new QLabel(QStringLiteral("Window Width:"), pWindowGroup), 0, 0);
    pGrid->addWidget(m_pWidth, 0, 1);
    pGrid->addWidget(new QLabel(QStringLiteral("Window Level :"), pWindowGroup), 1, 0);
    pGrid->addWidget(m_pLevel, 1, 1);
    pColumn->addWidget(pWindowGroup);

    // Below the groups: Dark, the offset and detector selectors, Gain,
    // Defect, No Clear and Save adapter. Only the detector selector is ever
    // shown (when both detectors are connected).
    pColumn->addWidget(AddButton(IDC_DARK, "Dark", &CToolDlgBar::DarkClicked));
    m_pOffsetLabel = new QLabel(QStringLiteral("Offset:"), pContent);
    pColumn->addWidget(m_pOffsetLabel);
    auto* pSelectors = new QGridLayout;
    pSelectors->setHorizontalSpacing(6);
    pSelectors->setColumnStretch(0, 1);
    pSelectors->setColumnStretch(1, 1);
    m_pOffset = new CPanelComboBox(pContent);
    m_pDetector = new CPanelComboBox(pContent);
    m_controls[IDC_OFFSET_SELECTOR] = m_pOffset;
    m_controls[IDC_DETECTOR_SELECTOR] = m_pDetector;
    pSelectors->addWidget(m_pOffset, 0, 0);
    pSelectors->addWidget(m_pDetector, 0, 1);
    // The detector selector keeps its place beside the hidden offset selector.
    pSelectors->setColumnMinimumWidth(0, (kPanelWidth - 25) / 2);
    pColumn->addLayout(pSelectors);
    pColumn->addWidget(AddCheckBox(IDC_GAIN, "Gain", &CToolDlgBar::GainClicked));
    pColumn->addWidget(AddCheckBox(IDC_DEFECT, "Defect", &CToolDlgBar::DefectClicked));
    auto* pBottom = new QHBoxLayout;
    pBottom->setSpacing(6);
    pBottom->addWidget(AddButton(IDC_NO_CLEAR, "No Clear", &CToolDlgBar::NoClearClicked));
    pBottom->addWidget(AddButton(IDC_SAVE_ADAPTER, "Save adapter", &CToolDlgBar::SaveAdapterClicked));
    pColumn->addLayout(pBottom);
    pColumn->addStretch(1);
    for (int nId :
         {IDC_DARK, IDC_OFFSET_SELECTOR, IDC_DETECTOR_SELECTOR, IDC_GAIN, IDC_DEFECT, IDC_NO_CLEAR, IDC_SAVE_ADAPTER})
        m_controls[nId]->setVisible(false);
    m_pOffsetLabel->setVisible(false);
    setWidget(pContent);

    // Creation: the selectors' entries and first choices, then the boxes'
    // texts handed to the view's table as a typed change would be.
    m_pOffset->addItems({QStringLiteral("NO"), QStringLiteral("PREV"), QStringLiteral("POST")});
    m_pOffset->setCurrentIndex(0);
    m_pDetector->addItems({QStringLiteral("A"), QStringLiteral("B")});
    m_pDetector->setCurrentIndex(0);
    connect(m_pOffset, &QComboBox::activated, this, &CToolDlgBar::OnOffsetChosen);
    connect(m_pDetector, &QComboBox::activated, this, &CToolDlgBar::OnDetectorChosen);
    m_pWidth->setText(QStringLiteral("16383"));
    m_pLevel->setText(QStringLiteral("8191"));
    OnWindowLevelEdited();

    // The idle-time update: whenever the event loop has nothing left to do.
    if (auto* pDispatcher = QAbstractEventDispatcher::instance())
        m_idle = connect(pDispatcher, &QAbstractEventDispatcher::aboutToBlock, this, &CToolDlgBar::ApplyState);
    ApplyState();
}

CToolDlgBar::~CToolDlgBar() { disconnect(m_idle); }

QPushButton* CToolDlgBar::AddButton(int nId, const char* szCaption, void (CToolDlgBar::*pSignal)()) {
    auto* pButton = new QPushButton(QString::fromLatin1(szCaption));
    pButton->setAutoDefault(false);
    pButton->setMinimumHeight(kButtonHeight);
    m_controls[nId] = pButton;
    connect(pButton, &QPushButton::clicked, this, [this, pSignal] {
        emit(this->*pSignal)();
        ApplyState();
    });
    return pButton;
}

QCheckBox* CToolDlgBar::AddCheckBox(int nId, const char* szCaption, void (CToolDlgBar::*pSignal)()) {
    auto* pBox = new QCheckBox(QString::fromLatin1(szCaption));
    m_controls[nId] = pBox;
    // The box flips its own tick; ApplyState sets it back to the flag, so a
    // switch the controller refuses shows unticked again.
    connect(pBox, &QCheckBox::clicked, this, [this, pSignal] {
        emit(this->*pSignal)();
        ApplyState();
    });
    return pBox;
}

void CToolDlgBar::SetState(const CPanelState* pState) {
    m_pState = pState ? pState : &m_created;
    ApplyState();
}

void CToolDlgBar::ApplyState() {
    const CPanelState& s = *m_pState;
    const std::pair<int, bool> enables[] = {
        {IDC_CONNECT, s.bConnect},
        {IDC_DISCONNECT, s.bDisconnect},
        {IDC_DARK, s.bDark},
        {IDC_NO_CLEAR, s.bNoClear},
        {IDC_OPEN_CONFIG, s.bOpenConfig},
        {IDC_ACQUISITION, s.bAcquisition},
        {IDC_SAVE_ADAPTER, s.bSaveAdapter},
        {IDC_MAKE_CALIBRATION, s.bMakeCalibration},
        {IDC_OFFSET_SELECTOR, s.bOffsetSelector},
        {IDC_DETECTOR_SELECTOR, s.bDetectorSelector},
    };
    for (const auto& [nId, bEnabled] : enables) m_controls[nId]->setEnabled(bEnabled);
    CheckBox(IDC_SHOW_NETWORK)->setChecked(s.bShowNetworkTicked);
    CheckBox(IDC_GAIN)->setChecked(s.bGainTicked);
    CheckBox(IDC_DEFECT)->setChecked(s.bDefectTicked);
    m_pDetector->setVisible(s.bDetectorSelectorVisible);
    // The controller's selections are shown, never reported as a new choice.
    const QSignalBlocker blockOffset(m_pOffset), blockDetector(m_pDetector);
    if (s.nOffsetSelection >= 0 && s.nOffsetSelection < m_pOffset->count())
        m_pOffset->setCurrentIndex(s.nOffsetSelection);
    if (s.nDetectorSelection >= 0 && s.nDetectorSelection < m_pDetector->count())
        m_pDetector->setCurrentIndex(s.nDetectorSelection);
}

void CToolDlgBar::OnOffsetChosen(int nIndex) {
    emit OffsetSelectionChanged(nIndex);
    ApplyState();
}

void CToolDlgBar::OnDetectorChosen(int nIndex) {
    emit DetectorSelectionChanged(nIndex);
    ApplyState();
}

void CToolDlgBar::AddFooterGroup(QWidget* pGroup) {
    // Below the stretch: at the foot of the panel, well away from its controls.
    pGroup->setParent(widget());
    m_pColumn->addWidget(pGroup);
}

void CToolDlgBar::AddBelowWindowGroup(QWidget* pWidget) {
    pWidget->setParent(widget());
    const int nIndex = m_pColumn->indexOf(m_controls[IDC_WINDOW_GROUP]);
    m_pColumn->insertWidget(nIndex + 1, pWidget);
}

void CToolDlgBar::FocusMakeCalibration() { Button(IDC_MAKE_CALIBRATION)->setFocus(); }

void CToolDlgBar::OnWindowLevelEdited() {
    // Out-of-range or non-numeric text is corrected here, not in the boxes.
    const CWindowLevel wl = ClampPanelWindowLevel(ReadSignedInt(m_pWidth->text().toStdString()),
                                                  ReadSignedInt(m_pLevel->text().toStdString()));
    if (m_pView == nullptr) return;
    m_pView->Lut().SetWindowLevel(wl.nWidth, wl.nLevel);
    m_pView->update();
    m_pView->UpdatePixelReadout();
}

void CToolDlgBar::ShowWindowLevel(int nWidth, int nLevel) {
    // Only a changed text is written, so a box being typed in keeps its cursor.
    // Both boxes change before the pair is handed back to the table once (as
    // two separate notifications would, without the table briefly taking the
    // new width with the old level).
    const QString strWidth = QString::number(nWidth), strLevel = QString::number(nLevel);
    bool bChanged = false;
    for (auto [pEdit, pText] : {std::pair{m_pWidth, &strWidth}, std::pair{m_pLevel, &strLevel}}) {
        if (pEdit->text() == *pText) continue;
        const QSignalBlocker block(pEdit);
        pEdit->setText(*pText);
        bChanged = true;
    }
    if (bChanged) {
        OnWindowLevelEdited();
        ApplyState();
    }
}

QWidget* CToolDlgBar::Control(int nId) const {
    auto it = m_controls.find(nId);
    return it == m_controls.end() ? nullptr : it->second;
}

QPushButton* CToolDlgBar::Button(int nId) const { return qobject_cast<QPushButton*>(Control(nId)); }

QCheckBox* CToolDlgBar::CheckBox(int nId) const { return qobject_cast<QCheckBox*>(Control(nId)); }

}  // namespace orvi
