#pragma once
// CChildView: the image view that fills the main window between the control
// panel and the status bar. It shows the image store's display buffer in
// 8-bit grey through its own window/level table, scaled without smoothing,
// and lets the operator pan (left drag), zoom about the pointer (wheel),
// square-fit (left double-click), change window and level (right drag, right
// double-click resets) and flip between two detectors (middle double-click).
// The value under the pointer goes to status panes 2 and 3.
#include "display/ImageStore.h"
#include "display/ViewGeometry.h"
#include "display/WindowLevelLut.h"

#include <QCursor>
#include <QImage>
#include <QWidget>

namespace orvi {

class IUiPort;

class CChildView final : public QWidget, public IImageView {
    Q_OBJECT
public:
    // Registers itself as the store's view; pUi shows "Memory less." should
    // the table storage be refused.
    explicit CChildView(CImageStore& store, IUiPort* pUi = nullptr, QWidget* pParent = nullptr);
    ~CChildView() override;
    CChildView(const CChildView&) = delete;
    CChildView& operator=(const CChildView&) = delete;

    // IImageView: the display buffer or its flag changed.
    void InvalidateView() override { update(); }

    // The view's window/level table. After changing it, repaint and call
    // UpdatePixelReadout (the panel's width and level boxes do).
    CWLLUT& Lut() { return m_lut; }
    const CWLLUT& Lut() const { return m_lut; }

    // Where the picture is drawn (client pixels); not fitted before the first paint.
    const CDispRect& DispRect() const { return m_rcDisp; }
    // The image size of the last conversion (the source of the stretch).
    QSize SourceSize() const { return m_sizeSrc; }
    // The last converted 8-bit grey picture, at the image's size.
    const QImage& GreyImage() const { return m_image; }

    // Readout at the pointer's current position, or at a client position.
    void UpdatePixelReadout();
    void UpdatePixelReadoutAt(const QPoint& ptClient);

    // A wheel turn of nDelta (120 a notch) with the pointer at ptGlobal: zoom
    // about the pointer. The main window forwards its own wheel turns here.
    void OnMouseWheel(int nDelta, const QPoint& ptGlobal);

    // Fits the whole image to the client area (aspect kept, centred).
    void FitToWindow();

signals:
    // Text of a status bar pane (2: position and value, 3: original value).
    void StatusText(int nPane, const QString& strText);
    // The table's width and level after a mouse move over the picture, for
    // the control panel's boxes.
    void WindowLevelShown(int nWidth, int nLevel);

protected:
    void paintEvent(QPaintEvent* pEvent) override;
    void mousePressEvent(QMouseEvent* pEvent) override;
    void mouseReleaseEvent(QMouseEvent* pEvent) override;
    void mouseMoveEvent(QMouseEvent* pEvent) override;
    void mouseDoubleClickEvent(QMouseEvent* pEvent) override;
    void wheelEvent(QWheelEvent* pEvent) override;

private:
    // Reconverts the picture when the image or the table changed (and no pan
    // is pending), then stretches its visible part into rcClip. Returns the
    // client rectangle the picture covered (empty when nothing was drawn).
    QRect RenderImage(QPainter& painter, const QRect& rcClip);
    bool ConvertImage();
    void DrawFrame(QPainter& painter) const;
    void Remember(const QMouseEvent* pEvent);
    void UpdateCursor(Qt::MouseButtons buttons);

    CImageStore& m_store;
    CWLLUT m_lut;
    QImage m_image;               // 8-bit grey, image size, rows at its own stride
    QSize m_sizeSrc{0, 0};        // source rectangle of the stretch (left and top 0)
    CDispRect m_rcDisp;           // where the picture is drawn
    Qt::MouseButtons m_lastButtons = Qt::NoButton;
    QPoint m_ptLast;
    bool m_bPanned = false;       // a pan moved the picture since the last paint
    QPoint m_ptReadout;           // client point of the readout panes 2 and 3 show
    bool m_bReadoutShown = false;
    bool m_bDrawFrame = true;
    int m_nWheelRest = 0;         // part of a notch from high-resolution wheels
    QCursor m_cursorMove;
    QCursor m_cursorWindowLevel;
};

}  // namespace orvi
