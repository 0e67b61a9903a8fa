#include "ui/HistogramPanel.h"

#include "ui/ChildView.h"

#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QSignalBlocker>
#include <QToolTip>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace orvi {

namespace {

constexpr double kRange = 16384.0;  // the 14-bit values across the plot
constexpr double kGripPx = 6.0;     // how near a handle a press takes it
const QColor kBackground(28, 32, 38);
const QColor kBars(150, 160, 172);
const QColor kWindow(0, 150, 255);

}  // namespace

CHistogramPlot::CHistogramPlot(CChildView* pView, QWidget* pParent) : QWidget(pParent), m_pView(pView) {
    setMinimumHeight(96);
    setMouseTracking(true);
    setToolTip(QStringLiteral("Drag a handle to move that edge of the window, the band to move the level"));
    connect(pView, &CChildView::NewImageShown, this, &CHistogramPlot::HistogramChanged);
    connect(pView, &CChildView::WindowApplied, this, qOverload<>(&QWidget::update));
    connect(pView, &CChildView::WindowLevelShown, this, qOverload<>(&QWidget::update));
}

QRectF CHistogramPlot::PlotRect() const { return QRectF(rect()).adjusted(4, 4, -4, -14); }

double CHistogramPlot::XOfValue(double fValue) const {
    const QRectF rc = PlotRect();
    return rc.left() + fValue / kRange * rc.width();
}

double CHistogramPlot::ValueOfX(double fX) const {
    const QRectF rc = PlotRect();
    return (fX - rc.left()) / rc.width() * kRange;
}

double CHistogramPlot::WindowLow() const { return m_pView->Lut().m_fLevel - m_pView->Lut().m_fWidth * 0.5; }
double CHistogramPlot::WindowHigh() const { return m_pView->Lut().m_fLevel + m_pView->Lut().m_fWidth * 0.5; }

void CHistogramPlot::HistogramChanged() {
    BuildColumns();
    update();
}

void CHistogramPlot::resizeEvent(QResizeEvent* pEvent) {
    QWidget::resizeEvent(pEvent);
    BuildColumns();
}

// One column per plot pixel: the largest bin it covers, on a log scale of
// the largest bin of all, so that both the bone and the open field show.
void CHistogramPlot::BuildColumns() {
    const int nColumns = std::max(1, int(PlotRect().width()));
    m_columns.assign(size_t(nColumns), 0.f);
    const CHistogram& h = m_pView->Histogram();
    if (h.nTotal == 0 || h.nPeak == 0) return;
    const double fLogPeak = std::log1p(double(h.nPeak));
    for (int c = 0; c < nColumns; ++c) {
        const size_t b0 = size_t(double(c) * kRange / nColumns);
        const size_t b1 = std::max(b0 + 1, size_t(double(c + 1) * kRange / nColumns));
        uint32_t nMax = 0;
        for (size_t b = b0; b < b1 && b < kHistogramBins; ++b) nMax = std::max(nMax, h.counts[b]);
        m_columns[size_t(c)] = float(std::log1p(double(nMax)) / fLogPeak);
    }
}

void CHistogramPlot::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), kBackground);
    const QRectF rc = PlotRect();

    // The histogram as a filled outline.
    if (!m_columns.empty()) {
        QPainterPath path(QPointF(rc.left(), rc.bottom()));
        for (size_t c = 0; c < m_columns.size(); ++c)
            path.lineTo(rc.left() + double(c), rc.bottom() - double(m_columns[c]) * rc.height());
        path.lineTo(rc.left() + double(m_columns.size()), rc.bottom());
        path.closeSubpath();
        p.fillPath(path, kBars);
    }

    // The window: a band, the grey ramp across it, and the two handles.
    {
        const double xLow = XOfValue(WindowLow()), xHigh = XOfValue(WindowHigh());
        const QRectF rcBand(QPointF(std::max(xLow, rc.left()), rc.top()),
                            QPointF(std::min(xHigh, rc.right()), rc.bottom()));
        QColor band = kWindow;
        band.setAlpha(m_grip == Grip::Band ? 70 : 45);
        p.fillRect(rcBand, band);
        p.setRenderHint(QPainter::Antialiasing);
        const bool bInverted = m_pView->Lut().IsInverted();
        p.setPen(QPen(QColor(255, 255, 255, 150), 1, Qt::DashLine));
        p.drawLine(QPointF(xLow, bInverted ? rc.top() : rc.bottom()),
                   QPointF(xHigh, bInverted ? rc.bottom() : rc.top()));
        for (const auto& [x, grip] : {std::pair{xLow, Grip::Low}, std::pair{xHigh, Grip::High}}) {
            if (x < rc.left() - 1 || x > rc.right() + 1) continue;
            p.setPen(QPen(kWindow.lighter(m_grip == grip ? 150 : 120), m_grip == grip ? 3 : 2));
            p.drawLine(QPointF(x, rc.top()), QPointF(x, rc.bottom()));
            // A grip triangle at the foot.
            QPainterPath tri;
            tri.moveTo(x, rc.bottom() + 1);
            tri.lineTo(x - 5, rc.bottom() + 9);
            tri.lineTo(x + 5, rc.bottom() + 9);
            tri.closeSubpath();
            p.fillPath(tri, kWindow.lighter(m_grip == grip ? 150 : 120));
        }
    }

    // The figures of the window in the corner.
    p.setPen(QColor(220, 226, 232));
    QFont font = p.font();
    font.setPointSizeF(font.pointSizeF() * 0.85);
    p.setFont(font);
    const QString strWl =
        QStringLiteral("W %1  L %2").arg(int(m_pView->Lut().m_fWidth)).arg(int(m_pView->Lut().m_fLevel));
    p.drawText(rc.adjusted(4, 2, -4, 0), Qt::AlignTop | Qt::AlignRight, strWl);
    if (!m_pView->HasImage()) {
        p.setPen(QColor(130, 136, 142));
        p.drawText(rc, Qt::AlignCenter, QStringLiteral("No image"));
    }
}

CHistogramPlot::Grip CHistogramPlot::GripAt(double fX) const {
    const double xLow = XOfValue(WindowLow()), xHigh = XOfValue(WindowHigh());
    // The nearer handle wins when they are close together.
    const double dLow = std::fabs(fX - xLow), dHigh = std::fabs(fX - xHigh);
    if (std::min(dLow, dHigh) <= kGripPx) return dLow < dHigh ? Grip::Low : Grip::High;
    if (fX > xLow && fX < xHigh) return Grip::Band;
    return Grip::None;
}

void CHistogramPlot::mousePressEvent(QMouseEvent* pEvent) {
    if (pEvent->button() != Qt::LeftButton) return;
    m_grip = GripAt(pEvent->position().x());
    m_fPressX = pEvent->position().x();
    m_fPressLow = WindowLow();
    m_fPressHigh = WindowHigh();
    update();
}

void CHistogramPlot::mouseMoveEvent(QMouseEvent* pEvent) {
    const double fX = pEvent->position().x();
    if (m_grip == Grip::None) {
        const Grip g = GripAt(fX);
        setCursor(g == Grip::Band ? Qt::OpenHandCursor : g == Grip::None ? Qt::ArrowCursor : Qt::SizeHorCursor);
        return;
    }
    const double fDelta = ValueOfX(fX) - ValueOfX(m_fPressX);
    double fLow = m_fPressLow, fHigh = m_fPressHigh;
    switch (m_grip) {
    case Grip::Low: fLow = std::min(m_fPressLow + fDelta, fHigh - 1); break;
    case Grip::High: fHigh = std::max(m_fPressHigh + fDelta, fLow + 1); break;
    case Grip::Band:
        fLow += fDelta;
        fHigh += fDelta;
        setCursor(Qt::ClosedHandCursor);
        break;
    case Grip::None: break;
    }
    m_pView->SetWindowLevel(int(std::lround(fHigh - fLow)), int(std::lround((fLow + fHigh) / 2)));
    // Each step of the drag is on screen before the next one is read.
    m_pView->repaint();
    repaint();
}

void CHistogramPlot::mouseReleaseEvent(QMouseEvent*) {
    m_grip = Grip::None;
    unsetCursor();
    update();
}

CHistogramPanel::CHistogramPanel(CChildView* pView, QWidget* pParent) : QWidget(pParent), m_pView(pView) {
    setObjectName(QStringLiteral("HistogramPanel"));
    auto* pColumn = new QVBoxLayout(this);
    pColumn->setContentsMargins(0, 0, 0, 0);
    pColumn->setSpacing(4);
    m_pPlot = new CHistogramPlot(pView, this);
    pColumn->addWidget(m_pPlot);
    auto* pRow = new QHBoxLayout;
    pRow->setSpacing(4);
    m_pAuto = new QPushButton(QStringLiteral("Auto"), this);
    m_pAuto->setToolTip(QStringLiteral("Window from the image's own histogram (0.5 % to 99.5 %)"));
    m_pInvert = new QPushButton(QStringLiteral("Invert"), this);
    m_pInvert->setCheckable(true);
    m_pInvert->setToolTip(QStringLiteral("Negative display (I)"));
    m_pKeys = new QPushButton(QStringLiteral("Keys"), this);
    m_pKeys->setToolTip(CChildView::KeysText());
    for (QPushButton* b : {m_pAuto, m_pInvert, m_pKeys}) {
        b->setFocusPolicy(Qt::NoFocus);  // the keys stay with the image
        pRow->addWidget(b);
    }
    pColumn->addLayout(pRow);
    connect(m_pAuto, &QPushButton::clicked, pView, &CChildView::ApplyAutoWindow);
    connect(m_pInvert, &QPushButton::toggled, pView, [this](bool b) {
        m_pView->SetInverted(b);
        m_pPlot->update();
    });
    connect(pView, &CChildView::WindowApplied, this, [this] {
        if (m_pInvert->isChecked() != m_pView->Lut().IsInverted()) {
            const QSignalBlocker block(m_pInvert);
            m_pInvert->setChecked(m_pView->Lut().IsInverted());
        }
    });
    connect(m_pKeys, &QPushButton::clicked, this, [this] {
        QToolTip::showText(m_pKeys->mapToGlobal(QPoint(0, m_pKeys->height())), CChildView::KeysText(), m_pKeys);
    });
}

}  // namespace orvi
