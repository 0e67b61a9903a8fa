#include "ui/ChildView.h"

#include "display/AutoWindow.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPixmap>
#include <QRegion>
#include <QTimer>
#include <QToolTip>
#include <QWheelEvent>

#include <algorithm>
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
      m_lutReport(pUi),
      m_lut(&m_lutReport),
      m_cursorMove(Qt::SizeAllCursor),
      m_cursorWindowLevel(MakeWindowLevelCursor()),
      m_pHistogram(std::make_unique<CHistogram>()) {
    // Painting covers the whole client area: no background erase, no flicker.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    setMouseTracking(true);  // the readout follows the pointer without a button
    setFocusPolicy(Qt::ClickFocus);
    setToolTip(KeysText());
    m_store.m_pView = this;
}

CChildView::~CChildView() {
    if (m_store.m_pView == this) m_store.m_pView = nullptr;
}

void CChildView::FitToWindow() {
    m_rcDisp = orvi::FitToWindow(width(), height(), m_sizeSrc.width(), m_sizeSrc.height());
    m_bAtFit = m_rcDisp.IsFitted();
}

void CChildView::resizeEvent(QResizeEvent* pEvent) {
    QWidget::resizeEvent(pEvent);
    if (m_bAtFit) FitToWindow();
}

// ---- Painting ---------------------------------------------------------------

void CChildView::paintEvent(QPaintEvent* pEvent) {
    QPainter painter(this);
    const QRect rcClip = pEvent->rect();
    const QRect rcPicture = RenderImage(painter, rcClip);
    // What the picture does not cover is black (each pixel written once).
    for (const QRect& rc : QRegion(rcClip).subtracted(QRegion(rcPicture))) painter.fillRect(rc, Qt::black);
    DrawFrame(painter);
    DrawMeasurement(painter);
    DrawGuide(painter);
}

// False when there is no picture to draw.
bool CChildView::ConvertImage() {
    const int32_t nW = m_store.m_nDispWidth, nH = m_store.m_nDispHeight;
    const bool bNewSize = m_sizeSrc != QSize(nW, nH);
    m_sizeSrc = QSize(nW, nH);
    if (!m_rcDisp.IsFitted() || (bNewSize && m_bAtFit)) FitToWindow();
    const uint16_t* pSrc = m_store.Display();
    const bool bFits = nW > 0 && nH > 0 && pSrc != nullptr && size_t(nW) * size_t(nH) <= m_store.m_pDisplay.size();
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
    const bool bWindowChanged = m_lut.m_bChanged;
    m_lut.m_bChanged = false;
    if (bWindowChanged) emit WindowApplied();
    return true;
}

QRect CChildView::RenderImage(QPainter& painter, const QRect& rcClip) {
    const bool bPending = m_store.m_bNewImage || m_lut.m_bChanged;
    if (bPending && !m_bPanned) {
        const bool bNewImage = m_store.m_bNewImage != 0;
        if (!ConvertImage()) return {};  // nothing drawn, no flag cleared
        // A new image under a readout already shown: its panes show the new
        // value at the same point, without waiting for the mouse to move.
        // After this paint: the panes repaint at once, and a paint inside a
        // paint would break the window's backing store.
        if (bNewImage && m_bReadoutShown) QTimer::singleShot(0, this, [this] { UpdatePixelReadoutAt(m_ptReadout); });
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
    const CPixelPos pos = PointerToPixel(m_rcDisp, m_sizeSrc.width(), m_sizeSrc.height(), ptClient.x(), ptClient.y());
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
    // Shift: a rectangle's statistics; Ctrl: a distance. Neither pans.
    const Qt::KeyboardModifiers mods = pEvent->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier);
    if (pEvent->button() == Qt::LeftButton && mods != Qt::NoModifier && m_rcDisp.Contains(pt.x(), pt.y()) &&
        m_bHasImage) {
        m_measure = (mods & Qt::ControlModifier) ? Measure::Ruler : Measure::Roi;
        m_bMeasuring = true;
        m_ptMeasureA = m_ptMeasureB = ClientToImage(pEvent->position());
        m_lastButtons = Qt::NoButton;
        setCursor(Qt::CrossCursor);
        update();
        return;
    }
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
    if (m_bMeasuring && pEvent->button() == Qt::LeftButton) {
        m_bMeasuring = false;
        m_ptMeasureB = ClientToImage(pEvent->position());
        if (m_measure == Measure::Roi)
            MeasureRoi(int32_t(m_ptMeasureA.x()), int32_t(m_ptMeasureA.y()), int32_t(m_ptMeasureB.x()),
                       int32_t(m_ptMeasureB.y()));
        else
            MeasureRuler(m_ptMeasureA.x(), m_ptMeasureA.y(), m_ptMeasureB.x(), m_ptMeasureB.y());
        if (!m_strMeasure.isEmpty()) QToolTip::showText(pEvent->globalPosition().toPoint(), m_strMeasure, this);
        UpdateCursor(pEvent->buttons());
        return;
    }
    if (pEvent->button() == Qt::LeftButton || pEvent->button() == Qt::RightButton) Remember(pEvent);
    UpdateCursor(pEvent->buttons());
}

void CChildView::mouseMoveEvent(QMouseEvent* pEvent) {
    const QPoint pt = pEvent->position().toPoint();
    if (m_bMeasuring) {
        // The measurement follows the pointer live, held inside the image.
        m_ptMeasureB = ClientToImage(pEvent->position());
        if (m_measure == Measure::Roi)
            MeasureRoi(int32_t(m_ptMeasureA.x()), int32_t(m_ptMeasureA.y()), int32_t(m_ptMeasureB.x()),
                       int32_t(m_ptMeasureB.y()));
        else
            MeasureRuler(m_ptMeasureA.x(), m_ptMeasureA.y(), m_ptMeasureB.x(), m_ptMeasureB.y());
        if (m_rcDisp.Contains(pt.x(), pt.y())) UpdatePixelReadoutAt(pt);
        return;
    }
    // Outside the picture the move is ignored and its position not remembered.
    if (!m_rcDisp.Contains(pt.x(), pt.y())) return;
    const Qt::MouseButtons buttons = pEvent->buttons();
    const QPoint d = pt - m_ptLast;
    bool bRepaint = false;
    if ((buttons & Qt::LeftButton) && (m_lastButtons & Qt::LeftButton)) {
        Pan(m_rcDisp, d.x(), d.y());
        m_bPanned = true;
        m_bAtFit = false;
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
        m_bAtFit = false;
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
    if (nSteps != 0) m_bAtFit = false;
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

// ---- New image, window, keys ------------------------------------------------------

void CChildView::InvalidateView() {
    if (m_store.m_bNewImage) OnNewImage();
    update();
}

void CChildView::OnNewImage() {
    m_bHasImage = true;
    ClearMeasurement();
    ComputeFieldHistogram(m_store.Display(), m_store.m_nDispWidth, m_store.m_nDispHeight, *m_pHistogram);
    if (m_bAutoWindow) {
        const CWindowLevel wl = ComputeAutoWindow(*m_pHistogram);
        m_lut.SetWindowLevel(std::clamp(wl.nWidth, 1, kMaxWindowValue), std::clamp(wl.nLevel, 0, kMaxWindowValue));
        // The panel's boxes follow once the image is handed over: the store's
        // producer is still at work now, and the boxes repaint the status bar.
        QMetaObject::invokeMethod(
            this, [this] { emit WindowLevelShown(static_cast<int>(m_lut.m_fWidth), static_cast<int>(m_lut.m_fLevel)); },
            Qt::QueuedConnection);
    }
    emit NewImageShown();
}

void CChildView::ApplyAutoWindow() {
    if (!m_bHasImage) return;
    const CWindowLevel wl = ComputeAutoWindow(*m_pHistogram);
    SetWindowLevel(wl.nWidth, wl.nLevel);
}

void CChildView::SetWindowLevel(int nWidth, int nLevel) {
    nWidth = std::clamp(nWidth, 1, kMaxWindowValue);
    nLevel = std::clamp(nLevel, 0, kMaxWindowValue);
    m_lut.SetWindowLevel(nWidth, nLevel);
    update();
    emit WindowLevelShown(static_cast<int>(m_lut.m_fWidth), static_cast<int>(m_lut.m_fLevel));
}

void CChildView::SetInverted(bool bInverted) {
    m_lut.SetInvert(bInverted);
    update();
    emit WindowApplied();
}

void CChildView::ZoomAboutCentre(bool bIn) {
    if (!m_rcDisp.IsFitted()) return;
    if (ZoomAtPointer(m_rcDisp, m_sizeSrc.width(), bIn ? kWheelNotch : -kWheelNotch, width() / 2, height() / 2)) {
        m_bAtFit = false;
        update();
    }
}

void CChildView::ShowOneToOne() {
    if (!m_rcDisp.IsFitted() || m_sizeSrc.isEmpty()) return;
    // The image point at the view's centre stays there.
    const int32_t nCx = width() / 2, nCy = height() / 2;
    const double fPx = double(nCx - m_rcDisp.nX) * m_sizeSrc.width() / m_rcDisp.nW;
    const double fPy = double(nCy - m_rcDisp.nY) * m_sizeSrc.height() / m_rcDisp.nH;
    m_rcDisp = CDispRect{nCx - int32_t(fPx), nCy - int32_t(fPy), m_sizeSrc.width(), m_sizeSrc.height()};
    m_bAtFit = false;
    update();
}

bool CChildView::HandleKey(int nKey, Qt::KeyboardModifiers modifiers) {
    // Arrows step by 1 % of the 14-bit range, with Shift by 10 %.
    const int nStep = (modifiers & Qt::ShiftModifier) ? (kMaxWindowValue + 1) / 10 : (kMaxWindowValue + 1) / 100;
    const int nWidth = static_cast<int>(m_lut.m_fWidth), nLevel = static_cast<int>(m_lut.m_fLevel);
    switch (nKey) {
    case Qt::Key_Up: SetWindowLevel(nWidth, nLevel + nStep); return true;
    case Qt::Key_Down: SetWindowLevel(nWidth, nLevel - nStep); return true;
    case Qt::Key_Right: SetWindowLevel(nWidth + nStep, nLevel); return true;
    case Qt::Key_Left: SetWindowLevel(nWidth - nStep, nLevel); return true;
    case Qt::Key_Plus:
    case Qt::Key_Equal: ZoomAboutCentre(true); return true;
    case Qt::Key_Minus: ZoomAboutCentre(false); return true;
    case Qt::Key_F:
        FitToWindow();
        update();
        return true;
    case Qt::Key_1: ShowOneToOne(); return true;
    case Qt::Key_I: SetInverted(!m_lut.IsInverted()); return true;
    case Qt::Key_R: SetWindowLevel(kDefaultWindowWidth, kDefaultWindowLevel); return true;
    case Qt::Key_Escape:
        if (m_measure == Measure::None) return false;
        ClearMeasurement();
        return true;
    default: return false;
    }
}

void CChildView::keyPressEvent(QKeyEvent* pEvent) {
    if (!HandleKey(pEvent->key(), pEvent->modifiers())) QWidget::keyPressEvent(pEvent);
}

QString CChildView::KeysText() {
    return QStringLiteral(
        "Up / Down\tlevel \u00b1 1 % (Shift: 10 %)\n"
        "Right / Left\twidth \u00b1 1 % (Shift: 10 %)\n"
        "+ / -\tzoom about the centre\n"
        "F\tfit the image to the view\n"
        "1\t100 % (one image pixel per screen pixel)\n"
        "I\tinvert (negative)\n"
        "R\treset the window to 16383 / 8191\n"
        "Ctrl+O\tOpen File\n"
        "Shift+drag\tROI: mean, SD, min, max, count\n"
        "Ctrl+drag\truler: pixels and mm\n"
        "Esc\tclear the ROI or ruler\n"
        "Right drag\twindow and level (double-click: reset)\n"
        "Wheel / left drag\tzoom about the pointer / pan");
}

// ---- Measurement ----------------------------------------------------------------------

QPointF CChildView::ClientToImage(const QPointF& pt) const {
    if (!m_rcDisp.IsFitted() || m_sizeSrc.isEmpty()) return {};
    const double fX = (pt.x() - m_rcDisp.nX) * m_sizeSrc.width() / m_rcDisp.nW;
    const double fY = (pt.y() - m_rcDisp.nY) * m_sizeSrc.height() / m_rcDisp.nH;
    return {std::clamp(fX, 0.0, m_sizeSrc.width() - 0.001), std::clamp(fY, 0.0, m_sizeSrc.height() - 0.001)};
}

QPointF CChildView::ImageToClient(double fX, double fY) const {
    return {m_rcDisp.nX + fX * m_rcDisp.nW / m_sizeSrc.width(), m_rcDisp.nY + fY * m_rcDisp.nH / m_sizeSrc.height()};
}

void CChildView::MeasureRoi(int32_t nX0, int32_t nY0, int32_t nX1, int32_t nY1) {
    m_measure = Measure::Roi;
    m_ptMeasureA = QPointF(nX0, nY0);
    m_ptMeasureB = QPointF(nX1, nY1);
    const CRoiStats st = ComputeRoiStats(m_store.Display(), m_store.m_nDispWidth, m_store.m_nDispHeight,
                                         RectBetween(nX0, nY0, nX1, nY1));
    ShowMeasurement(QString::fromStdString(RoiStatsText(st)));
}

void CChildView::MeasureRuler(double fX0, double fY0, double fX1, double fY1) {
    m_measure = Measure::Ruler;
    m_ptMeasureA = QPointF(fX0, fY0);
    m_ptMeasureB = QPointF(fX1, fY1);
    ShowMeasurement(QString::fromStdString(RulerText(RulerLength(fX0, fY0, fX1, fY1, m_nPitchUm))));
}

void CChildView::ShowMeasurement(const QString& strText) {
    m_strMeasure = strText;
    setToolTip(strText.isEmpty() ? KeysText() : strText);
    emit StatusText(1, strText);
    update();
}

void CChildView::ClearMeasurement() {
    const bool bHad = m_measure != Measure::None;
    m_measure = Measure::None;
    m_bMeasuring = false;
    if (bHad) {
        QToolTip::hideText();
        ShowMeasurement(QString());
    }
}

void CChildView::DrawMeasurement(QPainter& painter) const {
    if (m_measure == Measure::None || !m_rcDisp.IsFitted() || m_sizeSrc.isEmpty()) return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor colour(255, 200, 0);
    QPen pen(colour, 1.5);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    QPointF ptLabel;
    if (m_measure == Measure::Roi) {
        const CPixelRect rc = RectBetween(int32_t(m_ptMeasureA.x()), int32_t(m_ptMeasureA.y()),
                                          int32_t(m_ptMeasureB.x()), int32_t(m_ptMeasureB.y()));
        const QRectF rcClient(ImageToClient(rc.nX, rc.nY), ImageToClient(rc.nX + rc.nW, rc.nY + rc.nH));
        painter.fillRect(rcClient, QColor(255, 200, 0, 40));
        painter.drawRect(rcClient);
        ptLabel = rcClient.topLeft();
    } else {
        // From pixel centre to pixel centre, with end ticks.
        const QPointF a = ImageToClient(m_ptMeasureA.x(), m_ptMeasureA.y());
        const QPointF b = ImageToClient(m_ptMeasureB.x(), m_ptMeasureB.y());
        painter.drawLine(a, b);
        painter.setBrush(colour);
        painter.drawEllipse(a, 3, 3);
        painter.drawEllipse(b, 3, 3);
        ptLabel = b + QPointF(10, -4);
    }
    // The figures above the shape (the pointer's tooltip goes below it), on a
    // dark plate so they read on any grey.
    QFont font = painter.font();
    font.setPointSizeF(font.pointSizeF() + 1);
    painter.setFont(font);
    const QRectF rcText = painter.fontMetrics().boundingRect(m_strMeasure).adjusted(-6, -3, 6, 3);
    const QRectF rcPlate(ptLabel - QPointF(0, rcText.height() + 4), rcText.size());
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 0, 0, 170));
    painter.drawRoundedRect(rcPlate, 4, 4);
    painter.setPen(colour);
    painter.drawText(rcPlate, Qt::AlignCenter, m_strMeasure);
    painter.restore();
}

void CChildView::SetGuideLines(const QStringList& lines) {
    if (lines == m_guide) return;
    m_guide = lines;
    update();
}

void CChildView::DrawGuide(QPainter& painter) const {
    if (m_bHasImage || m_guide.isEmpty()) return;
    painter.save();
    painter.setRenderHint(QPainter::TextAntialiasing);
    // Centred over the start-up field (or the view before its first paint).
    const QRect rc = m_rcDisp.IsFitted() ? QRect(m_rcDisp.nX, m_rcDisp.nY, m_rcDisp.nW, m_rcDisp.nH) : rect();
    QFont fontTitle = painter.font();
    fontTitle.setPointSizeF(fontTitle.pointSizeF() * 2.2);
    QFont fontLine = painter.font();
    fontLine.setPointSizeF(fontLine.pointSizeF() * 1.5);
    const QFontMetrics fmTitle(fontTitle), fmLine(fontLine);
    const int nGap = fmLine.height() / 2;
    int nTotal = fmTitle.height();
    for (int i = 1; i < m_guide.size(); ++i) nTotal += nGap + fmLine.height();
    int y = rc.center().y() - nTotal / 2;
    painter.setPen(QColor(112, 118, 124));
    painter.setFont(fontTitle);
    painter.drawText(QRect(rc.x(), y, rc.width(), fmTitle.height()), Qt::AlignCenter, m_guide.front());
    y += fmTitle.height();
    painter.setFont(fontLine);
    for (int i = 1; i < m_guide.size(); ++i) {
        y += nGap;
        painter.drawText(QRect(rc.x(), y, rc.width(), fmLine.height()), Qt::AlignCenter, m_guide[i]);
        y += fmLine.height();
    }
    painter.restore();
}

}  // namespace orvi
