#pragma once
// CChildView: the image view that fills the main window between the control
// panel and the status bar. It shows the image store's display buffer in
// 8-bit grey through its own window/level table, scaled without smoothing,
// and lets the operator pan (left drag), zoom about the pointer (wheel),
// square-fit (left double-click), change window and level (right drag, right
// double-click resets) and flip between two detectors (middle double-click).
// The value under the pointer goes to status panes 2 and 3.
//
// Beyond that it reads like the viewers radiographers know: each new image
// gets its histogram and (AUTO_WINDOW) an automatic window; the keyboard
// steps window and level, zooms, fits, shows 1:1 and inverts; Shift+left drag
// measures a rectangle (mean, SD, min, max, count), Ctrl+left drag a distance
// (pixels and mm); Esc clears the measurement. Before the first image a quiet
// guide says what to do.
#include "acquisition/UiPort.h"
#include "display/Histogram.h"
#include "display/ImageStore.h"
#include "display/Measure.h"
#include "display/ViewGeometry.h"
#include "display/WindowLevelLut.h"

#include <QCursor>
#include <QImage>
#include <QStringList>
#include <QWidget>

#include <memory>

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

    // IImageView: the display buffer or its flag changed. A new image gets
    // its histogram and, when enabled, its automatic window at once.
    void InvalidateView() override;

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

    // ---- Window, histogram, keys ---------------------------------------------------

    // AUTO_WINDOW: each new image gets its automatic window (default on).
    void SetAutoWindow(bool bAuto) { m_bAutoWindow = bAuto; }
    bool AutoWindow() const { return m_bAutoWindow; }
    // The automatic window of the image shown, now (the panel's "Auto").
    void ApplyAutoWindow();
    // Sets the table's window (clamped to the 14-bit range), repaints, and
    // tells the panel's boxes.
    void SetWindowLevel(int nWidth, int nLevel);
    // Negative display on or off.
    void SetInverted(bool bInverted);
    // The histogram of the shown image's exposed field (empty before the first).
    const CHistogram& Histogram() const { return *m_pHistogram; }
    // True once an image (an exposure, a file) has been shown.
    bool HasImage() const { return m_bHasImage; }

    // A key of the view's keyboard: true when it was one (handled).
    bool HandleKey(int nKey, Qt::KeyboardModifiers modifiers);
    // + / -: one zoom step about the view's centre; 1: one image pixel per
    // screen pixel about the centre.
    void ZoomAboutCentre(bool bIn);
    void ShowOneToOne();
    // The list of keys and mouse gestures, for the panel's "Keys".
    static QString KeysText();

    // ---- Measurement ------------------------------------------------------------------

    // PIXEL_PITCH_UM: the ruler's millimetres (0 or less: pixels only).
    void SetPixelPitchUm(int32_t nPitchUm) { m_nPitchUm = nPitchUm; }
    // The ROI's or ruler's text ("" without one); Esc clears it.
    QString MeasurementText() const { return m_strMeasure; }
    void ClearMeasurement();
    // The measurement between two image pixels, as a drag would set it.
    void MeasureRoi(int32_t nX0, int32_t nY0, int32_t nX1, int32_t nY1);
    void MeasureRuler(double fX0, double fY0, double fX1, double fY1);

    // ---- Before the first image ---------------------------------------------------------

    // The guide's lines, drawn centred over the start-up field until the first image.
    void SetGuideLines(const QStringList& lines);
    QStringList GuideLines() const { return m_guide; }

signals:
    // Text of a status bar pane (2: position and value, 3: original value).
    void StatusText(int nPane, const QString& strText);
    // The table's width and level after a mouse move over the picture, for
    // the control panel's boxes.
    void WindowLevelShown(int nWidth, int nLevel);
    // A new image is shown: its histogram is ready (and its window set).
    void NewImageShown();
    // The table was rebuilt (any window change, invert): the histogram's
    // handles follow.
    void WindowApplied();

protected:
    void paintEvent(QPaintEvent* pEvent) override;
    void mousePressEvent(QMouseEvent* pEvent) override;
    void mouseReleaseEvent(QMouseEvent* pEvent) override;
    void mouseMoveEvent(QMouseEvent* pEvent) override;
    void mouseDoubleClickEvent(QMouseEvent* pEvent) override;
    void wheelEvent(QWheelEvent* pEvent) override;
    void keyPressEvent(QKeyEvent* pEvent) override;
    void resizeEvent(QResizeEvent* pEvent) override;

private:
    enum class Measure { None, Roi, Ruler };
    void OnNewImage();
    void DrawMeasurement(QPainter& painter) const;
    void DrawGuide(QPainter& painter) const;
    QPointF ImageToClient(double fX, double fY) const;
    QPointF ClientToImage(const QPointF& pt) const;
    void ShowMeasurement(const QString& strText);

    // Reconverts the picture when the image or the table changed (and no pan
    // is pending), then stretches its visible part into rcClip. Returns the
    // client rectangle the picture covered (empty when nothing was drawn).
    QRect RenderImage(QPainter& painter, const QRect& rcClip);
    bool ConvertImage();
    void DrawFrame(QPainter& painter) const;
    void Remember(const QMouseEvent* pEvent);
    void UpdateCursor(Qt::MouseButtons buttons);

    CImageStore& m_store;
    CShowingReport m_lutReport;  // shows "Memory less." when the table's storage is missing
    CWLLUT m_lut;
    QImage m_image;         // 8-bit grey, image size, rows at its own stride
    QSize m_sizeSrc{0, 0};  // source rectangle of the stretch (left and top 0)
    CDispRect m_rcDisp;     // where the picture is drawn
    Qt::MouseButtons m_lastButtons = Qt::NoButton;
    QPoint m_ptLast;
    bool m_bPanned = false;  // a pan moved the picture since the last paint
    QPoint m_ptReadout;      // client point of the readout panes 2 and 3 show
    bool m_bReadoutShown = false;
    bool m_bDrawFrame = true;
    int m_nWheelRest = 0;  // part of a notch from high-resolution wheels
    QCursor m_cursorMove;
    QCursor m_cursorWindowLevel;

    std::unique_ptr<CHistogram> m_pHistogram;
    bool m_bAutoWindow = true;
    bool m_bHasImage = false;
    // The picture is as FitToWindow placed it (no zoom or pan since): a
    // resized view or an image of another size is fitted again.
    bool m_bAtFit = false;
    int32_t m_nPitchUm = 0;
    QStringList m_guide;
    // The measurement in image pixels (the ROI's corners, the ruler's ends).
    Measure m_measure = Measure::None;
    bool m_bMeasuring = false;  // a measuring drag is on
    QPointF m_ptMeasureA, m_ptMeasureB;
    QString m_strMeasure;
};

}  // namespace orvi
