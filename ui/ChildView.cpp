#include "ui/ChildView.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPaintEvent>
#include <QPixmap>
#include <QRegion>
#include <QTimer>
#include <QWheelEvent>

#include <cmath>

namespace orvi {

namespace {

constexpr int kWheelNotch = 120;
const QColor kFrameColour(0, 150, 255);

// The window/level cursor: a sun beside a half-filled disc, 32 x 32, hot spot
// (16, 9), drawn black on a white halo so it reads on any grey.
QCursor MakeWindowLevelCursor() {
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    auto drawShapes = [&p](const QColor& c, qreal fWidth) {
        p.setPen(QPen(c, fWidth, Qt::SolidLine, Qt::RoundCap));
        // Sun: a disc with eight rays round (9, 9).
        p.setBrush(c);
        p.drawEllipse(QPointF(9, 9), 3.0, 3.0);
        for (int i = 0; i < 8; ++i) {
            const double a = i * M_PI / 4;
            p.drawLine(QPointF(9 + 5 * std::cos(a), 9 + 5 * std::sin(a)),
                       QPointF(9 + 7.5 * std::cos(a), 9 + 7.5 * std::sin(a)));
        }
        // Disc, left half filled, round (22, 21).
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QPointF(22, 21), 7.0, 7.0);
    };
    drawShapes(Qt::white, 3.5);
    drawShapes(Qt::black, 1.5);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::black);
    p.drawPie(QRectF(15, 14, 14, 14), 90 * 16, 180 * 16);
    p.setBrush(Qt::white);
    p.drawPie(QRectF(16.5, 15.5, 11, 11), 270 * 16, 180 * 16);
    p.end();
    return QCursor(pm, 16, 9);
}

}  // namespace

CChildView::CChildView(CImageStore& store, IUiPort* pUi, QWidget* pParent)
    : QWidget(pParent),
      m_store(store),
      m_lut(pUi),
      m_cursorMove(Qt::SizeAllCursor),
      m_cursorWindowLevel(MakeWindowLevelCursor()) {
    // Painting covers the whole client area: no background erase, no flicker.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    setMouseTracking(true);  // the readout follows the pointer without a button
    setFocusPolicy(Qt::ClickFocus);
    m_store.m_pView = this;
}

CChildView::~CChildView() {
    if (m_store.m_pView == this) m_store.m_pView = nullptr;
}

void CChildView::FitToWindow() { m_rcDisp = orvi::FitToWindow(width(), height(), m_sizeSrc.width(), m_sizeSrc.height()); }

// ---- Painting ---------------------------------------------------------------

void CChildView::paintEvent(QPaintEvent* pEvent) {
    QPainter painter(this);
    const QRect rcClip = pEvent->rect();
    const QRect rcPicture = RenderImage(painter, rcClip);
    // What the picture does not cover is black (each pixel written once).
    for (const QRect& rc : QRegion(rcClip).subtracted(QRegion(rcPicture))) painter.fillRect(rc, Qt::black);
    DrawFrame(painter);
}

// False when there is no picture to draw.
bool CChildView::ConvertImage() {
    const int32_t nW = m_store.m_nDispWidth, nH = m_store.m_nDispHeight;
    m_sizeSrc = QSize(nW, nH);
    if (!m_rcDisp.IsFitted()) FitToWindow();
    const uint16_t* pSrc = m_store.Display();
    const bool bFits = nW > 0 && nH > 0 && pSrc != nullptr &&
                       size_t(nW) * size_t(nH) <= m_store.m_pDisplay.size();
    if (!bFits) {
        m_image = QImage();
        return false;
    }
    if (m_image.width() != nW || m_image.height() != nH) {
        m_image = QImage(nW, nH, QImage::Format_Grayscale8);
        if (m_image.isNull()) return false;  // no memory for the picture: keep the flags, try again
        m_image.fill(0);
    }
    // Without a table the picture last converted stays on screen.
    if (!m_lut.IsValid()) return true;
    // Each row at the picture's own stride, so widths that are not multiples
    // of 4 keep their rows aligned.
    m_lut.Convert(pSrc, size_t(nW), size_t(nH), size_t(nW), m_image.bits(), size_t(m_image.bytesPerLine()));
    m_store.m_bNewImage = 0;
    m_lut.m_bChanged = false;
    return true;
}

QRect CChildView::RenderImage(QPainter& painter, const QRect& rcClip) {
    const bool bPending = m_store.m_bNewImage || m_lut.m_bChanged;
    if (bPending && !m_bPanned) {
        const bool bNewImage = m_store.m_bNewImage != 0;
        if (!ConvertImage()) return {};  // nothing drawn, no flag cleared
        // A new image under a readout already shown: its panes show the new
        // value at the same point, without waiting for the mouse to move.
        if (bNewImage && m_bReadoutShown) UpdatePixelReadoutAt(m_ptReadout);
    } else if (bPending) {
        // A pan defers the conversion to keep dragging fluid; the next paint
        // does it, so a frame that arrived during the pan is not left unseen.
        QTimer::singleShot(0, this, [this] { update(); });
    }
    m_bPanned = false;
    if (m_image.isNull() || !m_rcDisp.IsFitted() || m_sizeSrc.isEmpty()) return {};

    // Stretch only the visible part: the cost follows the window, not the zoom.
    const QRect rcTarget(m_rcDisp.nX, m_rcDisp.nY, m_rcDisp.nW, m_rcDisp.nH);
    const QRect rcVisible = rcTarget.intersected(rcClip).intersected(rect());
    if (rcVisible.isEmpty()) return {};
    const double fSx = double(m_sizeSrc.width()) / m_rcDisp.nW;
    const double fSy = double(m_sizeSrc.height()) / m_rcDisp.nH;
    const QRectF rcSource((rcVisible.x() - rcTarget.x()) * fSx, (rcVisible.y() - rcTarget.y()) * fSy,
                          rcVisible.width() * fSx, rcVisible.height() * fSy);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.drawImage(QRectF(rcVisible), m_image, rcSource);
    return rcVisible;
}

void CChildView::DrawFrame(QPainter& painter) const {
    if (!m_bDrawFrame || !m_rcDisp.IsFitted()) return;
    QPen pen(kFrameColour, 2);
    pen.setJoinStyle(Qt::MiterJoin);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    // From (x - 1, y) to (x + w + 1, y + h + 1), the pen centred on the outline.
    painter.drawRect(QRectF(m_rcDisp.nX - 1, m_rcDisp.nY, m_rcDisp.nW + 2.0, m_rcDisp.nH + 1.0));
}

// ---- Readout ----------------------------------------------------------------

void CChildView::UpdatePixelReadout() { UpdatePixelReadoutAt(mapFromGlobal(QCursor::pos())); }

void CChildView::UpdatePixelReadoutAt(const QPoint& ptClient) {
    if (!m_rcDisp.IsFitted()) return;
    m_ptReadout = ptClient;
    m_bReadoutShown = true;
    const CPixelPos pos =
        PointerToPixel(m_rcDisp, m_sizeSrc.width(), m_sizeSrc.height(), ptClient.x(), ptClient.y());
    int32_t nValue = 0;
    const uint16_t* pDisplay = m_store.Display();
    if (pDisplay != nullptr && pos.nColumn >= 0 && pos.nColumn < m_store.m_nDispWidth && pos.nRow >= 0 &&
        pos.nRow < m_store.m_nDispHeight) {
        const size_t i = size_t(pos.nRow) * size_t(m_store.m_nDispWidth) + size_t(pos.nColumn);
        if (i < m_store.m_pDisplay.size()) nValue = pDisplay[i];
    }
    emit StatusText(2, QString::fromStdString(PixelReadoutText(pos.nColumn, pos.nRow, nValue)));
    emit StatusText(3, QString::fromStdString(OriginalValueText(m_store.GetOriginalValue(pos.nColumn, pos.nRow))));
}

// ---- Mouse --------------------------------------------------------------------

void CChildView::Remember(const QMouseEvent* pEvent) {
    m_lastButtons = pEvent->buttons();
    m_ptLast = pEvent->position().toPoint();
}

void CChildView::UpdateCursor(Qt::MouseButtons buttons) {
    if (buttons & Qt::LeftButton)
        setCursor(m_cursorMove);
    else
        unsetCursor();
}

void CChildView::mousePressEvent(QMouseEvent* pEvent) {
    const QPoint pt = pEvent->position().toPoint();
    switch (pEvent->button()) {
    case Qt::LeftButton:
        // A pan starts only from a press inside the picture.
        if (m_rcDisp.Contains(pt.x(), pt.y())) Remember(pEvent);
        break;
    case Qt::RightButton: Remember(pEvent); break;
    case Qt::MiddleButton: update(); break;
    default: break;
    }
    UpdateCursor(pEvent->buttons());
}

void CChildView::mouseReleaseEvent(QMouseEvent* pEvent) {
    if (pEvent->button() == Qt::LeftButton || pEvent->button() == Qt::RightButton) Remember(pEvent);
    UpdateCursor(pEvent->buttons());
}

void CChildView::mouseMoveEvent(QMouseEvent* pEvent) {
    const QPoint pt = pEvent->position().toPoint();
    // Outside the picture the move is ignored and its position not remembered.
    if (!m_rcDisp.Contains(pt.x(), pt.y())) return;
    const Qt::MouseButtons buttons = pEvent->buttons();
    const QPoint d = pt - m_ptLast;
    bool bRepaint = false;
    if ((buttons & Qt::LeftButton) && (m_lastButtons & Qt::LeftButton)) {
        Pan(m_rcDisp, d.x(), d.y());
        m_bPanned = true;
        bRepaint = true;
    }
    if ((buttons & Qt::RightButton) && (m_lastButtons & Qt::RightButton)) {
        setCursor(m_cursorWindowLevel);
        const CWindowLevel wl = DragWindowLevel(m_lut.m_fWidth, m_lut.m_fLevel, d.x(), d.y());
        m_lut.SetWindowLevel(wl.nWidth, wl.nLevel);
        bRepaint = true;
    }
    m_lastButtons = buttons;
    m_ptLast = pt;
    if (bRepaint) update();
    UpdatePixelReadoutAt(pt);
    emit WindowLevelShown(static_cast<int>(m_lut.m_fWidth), static_cast<int>(m_lut.m_fLevel));
}

void CChildView::mouseDoubleClickEvent(QMouseEvent* pEvent) {
    // The double-click takes the place of the second press: nothing is remembered.
    switch (pEvent->button()) {
    case Qt::LeftButton:
        m_rcDisp = SquareFit(width(), height());
        update();
        break;
    case Qt::RightButton:
        // The panel's boxes follow at the next move over the picture.
        m_lut.SetWindowLevel(kDefaultWindowWidth, kDefaultWindowLevel);
        update();
        break;
    case Qt::MiddleButton:
        // Flip to the other detector's last frame, only with a second detector configured.
        if (!m_store.m_strDetectorName2.empty()) {
            m_store.m_bShowSecond = !m_store.m_bShowSecond;
            m_store.ShowSelected();
        }
        break;
    default: break;
    }
    UpdateCursor(pEvent->buttons());
}

void CChildView::wheelEvent(QWheelEvent* pEvent) {
    OnMouseWheel(pEvent->angleDelta().y(), pEvent->globalPosition().toPoint());
    pEvent->accept();
}

void CChildView::OnMouseWheel(int nDelta, const QPoint& ptGlobal) {
    const QPoint pt = mapFromGlobal(ptGlobal);
    // A mouse turns 120 a notch; high-resolution wheels and touchpads send
    // parts of a notch, which add up to one 10 % step.
    if ((nDelta > 0 && m_nWheelRest < 0) || (nDelta < 0 && m_nWheelRest > 0)) m_nWheelRest = 0;
    m_nWheelRest += nDelta;
    const int nSteps = m_nWheelRest / kWheelNotch;
    m_nWheelRest -= nSteps * kWheelNotch;
    for (int i = 0; i < std::abs(nSteps); ++i) {
        if (!ZoomAtPointer(m_rcDisp, m_sizeSrc.width(), nSteps > 0 ? kWheelNotch : -kWheelNotch, pt.x(), pt.y())) {
            m_nWheelRest = 0;
            if (i > 0) update();
            return;  // at the limit: no zoom, no readout
        }
    }
    if (nSteps != 0) update();
    UpdatePixelReadoutAt(pt);
}

}  // namespace orvi
