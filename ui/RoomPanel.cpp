#include "ui/RoomPanel.h"

#include "acquisition/MainFrame.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadialGradient>
#include <QTextEdit>
#include <QTimer>
#include <QVBoxLayout>

namespace orvi {

namespace {

constexpr int kRefreshMs = 50;
constexpr int kLampDiameter = 34;
constexpr int kXrayResultMs = 2500;

const QColor kEnableColour(255, 176, 0);       // amber: exposure enabled, the countdown blinks it
const QColor kReadyColour(40, 200, 70);        // green: ready for X-ray, the hand switch's first stage
const QColor kConnectionColour(50, 140, 255);  // blue: connected, blinks while an image is processed

QString Hex(uint8_t by) { return QStringLiteral("%1").arg(by, 2, 16, QLatin1Char('0')).toUpper(); }

// The state line's colours: text and background.
std::pair<QColor, QColor> ToneColours(RoomTone tone) {
    switch (tone) {
    case RoomTone::Wait: return {QColor(60, 40, 0), QColor(255, 214, 120)};
    case RoomTone::Ready: return {QColor(255, 255, 255), QColor(30, 160, 60)};
    case RoomTone::Xray: return {QColor(255, 255, 255), QColor(200, 30, 30)};
    case RoomTone::Busy: return {QColor(255, 255, 255), QColor(50, 110, 210)};
    case RoomTone::Idle: break;
    }
    return {QColor(40, 40, 40), QColor(225, 225, 225)};
}

bool TypingInto(const QWidget* pWidget) {
    return qobject_cast<const QLineEdit*>(pWidget) != nullptr ||
           qobject_cast<const QAbstractSpinBox*>(pWidget) != nullptr ||
           qobject_cast<const QTextEdit*>(pWidget) != nullptr ||
           qobject_cast<const QPlainTextEdit*>(pWidget) != nullptr;
}

}  // namespace

// ---- Lamp ---------------------------------------------------------------------------

CLampWidget::CLampWidget(const QString& strName, const QColor& colour, QWidget* pParent)
    : QWidget(pParent), m_strName(strName), m_colour(colour) {
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    setToolTip(strName + QStringLiteral(" lamp: lit while its output bit is 0"));
}

void CLampWidget::SetLit(bool bLit) {
    if (bLit == m_bLit) return;
    m_bLit = bLit;
    update();
}

QSize CLampWidget::sizeHint() const {
    const QFontMetrics fm(font());
    return {std::max(kLampDiameter + 16, fm.horizontalAdvance(m_strName) + 8), kLampDiameter + 12 + fm.height()};
}

void CLampWidget::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF lamp((width() - kLampDiameter) / 2.0, 4, kLampDiameter, kLampDiameter);
    if (m_bLit) {
        // A glow around the lit lamp, then the lamp bright in its centre.
        QRadialGradient glow(lamp.center(), kLampDiameter * 0.75);
        QColor halo = m_colour;
        halo.setAlpha(110);
        glow.setColorAt(0.6, halo);
        glow.setColorAt(1.0, Qt::transparent);
        p.setPen(Qt::NoPen);
        p.setBrush(glow);
        p.drawEllipse(lamp.adjusted(-6, -4, 6, 4));
        QRadialGradient g(lamp.center() - QPointF(5, 5), kLampDiameter * 0.7);
        g.setColorAt(0.0, m_colour.lighter(170));
        g.setColorAt(1.0, m_colour);
        p.setBrush(g);
        p.setPen(QPen(m_colour.darker(150), 1.5));
    } else {
        p.setBrush(QColor(70, 70, 70));
        p.setPen(QPen(m_colour.darker(220), 2.0));
    }
    p.drawEllipse(lamp);
    QFont f = font();
    f.setBold(m_bLit);
    p.setFont(f);
    p.setPen(m_bLit ? palette().color(QPalette::WindowText)
                    : palette().color(QPalette::Disabled, QPalette::WindowText));
    p.drawText(QRect(0, kLampDiameter + 8, width(), height() - kLampDiameter - 8), Qt::AlignHCenter | Qt::AlignTop,
               m_strName);
}

// ---- Hand switch ----------------------------------------------------------------------

CHandSwitchWidget::CHandSwitchWidget(QWidget* pParent) : QWidget(pParent) {
    auto* pLayout = new QVBoxLayout(this);
    pLayout->setContentsMargins(0, 0, 0, 0);
    pLayout->setSpacing(4);
    auto* pTitle = new QLabel(tr("Hand switch (hold)"), this);
    m_pReady = new QPushButton(tr("1  Ready   (Space)"), this);
    m_pExpose = new QPushButton(tr("2  Expose   (Shift+Space)"), this);
    for (QPushButton* pButton : {m_pReady, m_pExpose}) {
        // Space belongs to the hand switch: the buttons never take the focus.
        pButton->setFocusPolicy(Qt::NoFocus);
        pButton->setMinimumHeight(30);
        pButton->setStyleSheet(
            QStringLiteral("QPushButton:pressed { background: #2ec84a; color: white; "
                           "font-weight: bold; }"));
    }
    m_pExpose->setStyleSheet(
        QStringLiteral("QPushButton:pressed { background: #d02020; color: white; "
                       "font-weight: bold; }"));
    pLayout->addWidget(pTitle);
    pLayout->addWidget(m_pReady);
    pLayout->addWidget(m_pExpose);
    connect(m_pReady, &QPushButton::pressed, this, [this] { emit StageAsked(HandStage::Ready); });
    connect(m_pExpose, &QPushButton::pressed, this, [this] { emit StageAsked(HandStage::Expose); });
    connect(m_pReady, &QPushButton::released, this, [this] { emit StageAsked(HandStage::Released); });
    connect(m_pExpose, &QPushButton::released, this, [this] { emit StageAsked(HandStage::Released); });
}

void CHandSwitchWidget::ShowStage(HandStage stage) {
    // The second stage is pressed through the first.
    const bool bReady = stage != HandStage::Released;
    const bool bExpose = stage == HandStage::Expose;
    if (m_pReady->isDown() != bReady) m_pReady->setDown(bReady);
    if (m_pExpose->isDown() != bExpose) m_pExpose->setDown(bExpose);
}

// ---- One board --------------------------------------------------------------------------

CBoardView::CBoardView(QWidget* pParent) : QWidget(pParent) {
    auto* pLayout = new QVBoxLayout(this);
    pLayout->setContentsMargins(0, 4, 0, 4);
    pLayout->setSpacing(4);
    m_pTitle = new QLabel(this);
    QFont f = m_pTitle->font();
    f.setBold(true);
    m_pTitle->setFont(f);
    auto* pLamps = new QHBoxLayout;
    pLamps->setSpacing(2);
    m_pEnable = new CLampWidget(tr("Enable"), kEnableColour, this);
    m_pReady = new CLampWidget(tr("Ready"), kReadyColour, this);
    m_pConnection = new CLampWidget(tr("Connection"), kConnectionColour, this);
    pLamps->addWidget(m_pEnable);
    pLamps->addWidget(m_pReady);
    pLamps->addWidget(m_pConnection);
    m_pBytes = new QLabel(this);
    m_pBytes->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_pBytes->setAlignment(Qt::AlignHCenter);
    m_pBytes->setToolTip(
        tr("The bytes of the last write command to the board (d1 d2 d3 d4):\n"
           "d2 = output byte 2 (bit 4 ready output, bit 5 expose output),\n"
           "d3 = output byte 1 (bit 2 enable, bit 3 ready, bit 4 connection lamp);\n"
           "0 = on."));
    m_pOutputs = new QLabel(this);
    m_pOutputs->setAlignment(Qt::AlignHCenter);
    m_pOutputs->setToolTip(tr("The ready and expose outputs of output byte 2, wired to the generator"));
    m_pSwitch = new CHandSwitchWidget(this);
    pLayout->addWidget(m_pTitle);
    pLayout->addLayout(pLamps);
    pLayout->addWidget(m_pBytes);
    pLayout->addWidget(m_pOutputs);
    pLayout->addWidget(m_pSwitch);
}

void CBoardView::SetKind(const QString& strTitle, bool bSimulated) {
    m_pTitle->setText(strTitle);
    m_pSwitch->setVisible(bSimulated);
}

void CBoardView::ShowOutputs(uint8_t byOut1, uint8_t byOut2, const QString& strBytes) {
    m_pEnable->SetLit((byOut1 & kOut1EnableLamp) == 0);
    m_pReady->SetLit((byOut1 & kOut1ReadyLamp) == 0);
    m_pConnection->SetLit((byOut1 & kOut1ConnectionLamp) == 0);
    // The two switched outputs of byte 2 go to the generator's console.
    const auto onOff = [](bool bOn) { return bOn ? tr("ON") : tr("off"); };
    m_pBytes->setText(strBytes);
    m_pOutputs->setText(tr("Outputs: ready %1, expose %2")
                            .arg(onOff((byOut2 & kOut2ReadyOutput) == 0), onOff((byOut2 & kOut2ExposeOutput) == 0)));
}

// ---- The room -----------------------------------------------------------------------------

CRoomPanel::CRoomPanel(CMainFrame& frame, const CSimulatorControls& detectorSim, QWidget* pParent)
    : QDockWidget(tr("X-ray room  (F8)"), pParent),
      m_frame(frame),
      m_detectorSim(detectorSim),
      m_boardSim(CBoardSimControls::Lookup()) {
    setObjectName(QStringLiteral("RoomPanel"));
    setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable);
    setAllowedAreas(Qt::LeftDockWidgetArea | Qt::RightDockWidgetArea);
    // F8 hides and shows the room (the window's other keys belong to the view).
    toggleViewAction()->setShortcut(QKeySequence(Qt::Key_F8));
    toggleViewAction()->setText(tr("X-ray room"));
    if (pParent != nullptr) pParent->addAction(toggleViewAction());

    auto* pContent = new QWidget(this);
    auto* pLayout = new QVBoxLayout(pContent);
    pLayout->setContentsMargins(8, 6, 8, 6);
    pLayout->setSpacing(6);

    m_pState = new QLabel(pContent);
    m_pState->setAlignment(Qt::AlignCenter);
    m_pState->setWordWrap(true);
    QFont stateFont = m_pState->font();
    stateFont.setPointSizeF(stateFont.pointSizeF() * 1.25);
    stateFont.setBold(true);
    m_pState->setFont(stateFont);
    // Room for two lines, so that the panel does not move as the words change.
    m_pState->setFixedHeight(QFontMetrics(stateFont).lineSpacing() * 2 + 14);
    pLayout->addWidget(m_pState);

    for (int b = 0; b < kBoards; ++b) {
        auto* pBoard = new CBoardView(pContent);
        m_boards[static_cast<size_t>(b)] = pBoard;
        connect(pBoard->HandSwitch(), &CHandSwitchWidget::StageAsked, this,
                [this, b](HandStage stage) { SetStage(b, stage); });
        pLayout->addWidget(pBoard);
    }

    m_pGenerator = new QLabel(pContent);
    QFont countFont = m_pGenerator->font();
    countFont.setBold(true);
    m_pGenerator->setFont(countFont);
    m_pGenerator->setWordWrap(true);
    pLayout->addWidget(m_pGenerator);
    m_pXray = new QPushButton(tr("X-ray now"), pContent);
    m_pXray->setFocusPolicy(Qt::NoFocus);
    m_pXray->setMinimumHeight(34);
    m_pXray->setToolTip(tr("Fires the simulated generator now"));
    m_pXray->setStyleSheet(
        QStringLiteral("QPushButton:enabled { background: #c62828; color: white; "
                       "font-weight: bold; } QPushButton:pressed { background: #8e0000; }"));
    connect(m_pXray, &QPushButton::clicked, this, &CRoomPanel::FireXray);
    pLayout->addWidget(m_pXray);
    m_pXrayResult = new QLabel(pContent);
    m_pXrayResult->setWordWrap(true);
    pLayout->addWidget(m_pXrayResult);
    pLayout->addStretch(1);
    setWidget(pContent);

    m_byOut1 = g_byOut1;
    m_byOut2 = g_byOut2;
    m_nBoardCount = frame.BoardCount();
    m_frame.Board().AddObserver(this);
    qApp->installEventFilter(this);

    m_pRefresh = new QTimer(this);
    m_pRefresh->setInterval(kRefreshMs);
    connect(m_pRefresh, &QTimer::timeout, this, &CRoomPanel::Refresh);
    m_pRefresh->start();
    ShowLamps();
    Refresh();
}

CRoomPanel::~CRoomPanel() {
    qApp->removeEventFilter(this);
    m_frame.Board().RemoveObserver(this);
}

bool CRoomPanel::SimulatorLoaded() const { return m_boardSim.Boards() > 0 || m_detectorSim.Available(); }

void CRoomPanel::OnOutputs(uint8_t byOut1, uint8_t byOut2, int32_t nBoardCount) {
    m_byOut1 = byOut1;
    m_byOut2 = byOut2;
    if (nBoardCount != m_nBoardCount) m_written = {};  // other boards now: forget what the old ones got
    m_nBoardCount = nBoardCount;
    ShowLamps();
}

void CRoomPanel::OnBoardWrite(int32_t nBoard, uint8_t byOut1, uint8_t byOut2, bool bWritten) {
    if (!bWritten || nBoard < 0 || nBoard >= kBoards) return;
    m_written[static_cast<size_t>(nBoard)] = {true, byOut1, byOut2};
    ShowLamps();
}

// Per board the bytes that reached it; without a board, the station's own
// outputs, so the room still shows what a board would get.
void CRoomPanel::ShowLamps() {
    const bool bSim = m_boardSim.InUse();
    const int nRows = m_nBoardCount > 0 ? std::min(m_nBoardCount, kBoards) : 1;
    for (int b = 0; b < kBoards; ++b) {
        CBoardView* pBoard = m_boards[static_cast<size_t>(b)];
        pBoard->setVisible(b < nRows);
        if (b >= nRows) continue;
        if (m_nBoardCount == 0) {
            pBoard->SetKind(tr("No board: the station's outputs"), false);
            pBoard->ShowOutputs(m_byOut1, m_byOut2, tr("out1 %1  out2 %2").arg(Hex(m_byOut1), Hex(m_byOut2)));
            continue;
        }
        pBoard->SetKind(bSim ? tr("Board %1 (simulated)").arg(b) : tr("Board %1 (real)").arg(b), bSim);
        const CWritten& w = m_written[static_cast<size_t>(b)];
        pBoard->ShowOutputs(
            w.byOut1, w.byOut2,
            w.bAny ? tr("written 00 %1 %2 00").arg(Hex(w.byOut2), Hex(w.byOut1)) : tr("nothing written yet"));
    }
}

void CRoomPanel::Refresh() {
    const uint32_t hDetector = m_frame.Detector();
    const bool bGenerator = m_detectorSim.CanFire();
    const int32_t nDueMs = bGenerator && hDetector != 0 ? m_detectorSim.XrayDue(hDetector) : -1;
    CRoomFacts facts = RoomFactsOf(m_frame);
    facts.nXrayDueMs = nDueMs;
    const CRoomState state = DescribeRoom(facts);
    const QString strWords = QString::fromStdString(state.strWords);
    if (strWords != m_pState->text()) m_pState->setText(strWords);
    if (state.tone != m_tone || m_pState->styleSheet().isEmpty()) {
        m_tone = state.tone;
        const auto [text, back] = ToneColours(state.tone);
        m_pState->setStyleSheet(QStringLiteral("QLabel { color: %1; background: %2; border-radius: 4px; "
                                               "padding: 6px; }")
                                    .arg(text.name(), back.name()));
    }

    m_pXray->setVisible(bGenerator);
    m_pGenerator->setVisible(bGenerator);
    if (bGenerator) {
        const QString strGenerator = QString::fromStdString(DescribeGenerator(hDetector != 0, nDueMs));
        if (strGenerator != m_pGenerator->text()) m_pGenerator->setText(strGenerator);
        m_pXray->setEnabled(hDetector != 0);
    }

    // The simulated switches as the library holds them (the mouse, the keyboard, a script).
    if (m_boardSim.InUse())
        for (int b = 0; b < kBoards; ++b) {
            const int32_t nStage = m_boardSim.HandSwitch(b);
            if (nStage >= 0) m_boards[static_cast<size_t>(b)]->HandSwitch()->ShowStage(static_cast<HandStage>(nStage));
        }
}

void CRoomPanel::SetStage(int nBoard, HandStage stage) {
    m_boardSim.SetHandSwitch(nBoard, stage);
    m_boards[static_cast<size_t>(nBoard)]->HandSwitch()->ShowStage(stage);
}

void CRoomPanel::KeyboardStage() {
    SetStage(0, !m_bSpace ? HandStage::Released : m_bShift ? HandStage::Expose : HandStage::Ready);
}

bool CRoomPanel::eventFilter(QObject* pWatched, QEvent* pEvent) {
    const QEvent::Type type = pEvent->type();
    if (type == QEvent::ApplicationDeactivate && m_bSpace) {
        // The window lost the keyboard: the key's release will not come.
        m_bSpace = false;
        KeyboardStage();
        return false;
    }
    if (type != QEvent::KeyPress && type != QEvent::KeyRelease) return false;
    auto* pWidget = qobject_cast<QWidget*>(pWatched);
    // The main window's keys, also while the room floats in a window of its own.
    const QWidget* pHost = parentWidget() != nullptr ? parentWidget()->window() : window();
    if (pWidget == nullptr || (pWidget->window() != pHost && pWidget->window() != window()) || !m_boardSim.InUse())
        return false;
    auto* pKey = static_cast<QKeyEvent*>(pEvent);
    const bool bPress = type == QEvent::KeyPress;
    if (pKey->key() == Qt::Key_Shift) {
        m_bShift = bPress;
        if (m_bSpace) KeyboardStage();
        return false;  // Shift means something elsewhere too
    }
    if (pKey->key() != Qt::Key_Space || TypingInto(QApplication::focusWidget())) return false;
    if (!pKey->isAutoRepeat()) {
        m_bSpace = bPress;
        m_bShift = (pKey->modifiers() & Qt::ShiftModifier) != 0;
        KeyboardStage();
    }
    return true;  // Space never clicks a focused button meanwhile
}

void CRoomPanel::FireXray() {
    const uint32_t hDetector = m_frame.Detector();
    if (hDetector == 0) return;
    const int32_t nResult = m_detectorSim.FireXray(hDetector);
    m_pXrayResult->setText(nResult == 1   ? tr("X-ray fired.")
                           : nResult == 0 ? tr("X-ray lost: the detector was not armed.")
                                          : tr("X-ray refused by the detector (%1).").arg(nResult));
    QTimer::singleShot(kXrayResultMs, m_pXrayResult, [p = m_pXrayResult] { p->clear(); });
    Refresh();
}

}  // namespace orvi
