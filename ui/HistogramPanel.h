#pragma once
// The histogram panel under the window width and level boxes: the shown
// image's histogram (log counts over the 14-bit range) with the window drawn
// on it as a band between two handles. Dragging a handle moves that edge of
// the window, dragging the band moves the level; the image follows live.
// Below it: "Auto" (the automatic window again), "Invert" and "Keys".
// Drawn with QPainter: a few hundred columns and two lines need no chart library.
#include <QWidget>

#include <array>
#include <vector>

class QPushButton;

namespace orvi {

class CChildView;

class CHistogramPlot final : public QWidget {
    Q_OBJECT
public:
    explicit CHistogramPlot(CChildView* pView, QWidget* pParent = nullptr);

    // The view's histogram changed (a new image): the columns are rebuilt.
    void HistogramChanged();

    // The plot's x position of a 14-bit value, and back.
    double XOfValue(double fValue) const;
    double ValueOfX(double fX) const;

    enum class Grip { None, Low, High, Band };
    // What a press at x would take hold of.
    Grip GripAt(double fX) const;

    QSize sizeHint() const override { return {200, 110}; }

protected:
    void paintEvent(QPaintEvent* pEvent) override;
    void resizeEvent(QResizeEvent* pEvent) override;
    void mousePressEvent(QMouseEvent* pEvent) override;
    void mouseMoveEvent(QMouseEvent* pEvent) override;
    void mouseReleaseEvent(QMouseEvent* pEvent) override;

private:
    void BuildColumns();
    QRectF PlotRect() const;
    double WindowLow() const;
    double WindowHigh() const;

    CChildView* m_pView;
    std::vector<float> m_columns;  // 0 .. 1 per pixel column of the plot (log scale)
    Grip m_grip = Grip::None;
    double m_fPressX = 0;
    double m_fPressLow = 0;
    double m_fPressHigh = 0;
};

class CHistogramPanel final : public QWidget {
    Q_OBJECT
public:
    explicit CHistogramPanel(CChildView* pView, QWidget* pParent = nullptr);

    CHistogramPlot* Plot() const { return m_pPlot; }
    QPushButton* AutoButton() const { return m_pAuto; }
    QPushButton* InvertButton() const { return m_pInvert; }
    QPushButton* KeysButton() const { return m_pKeys; }

private:
    CChildView* m_pView;
    CHistogramPlot* m_pPlot = nullptr;
    QPushButton* m_pAuto = nullptr;
    QPushButton* m_pInvert = nullptr;
    QPushButton* m_pKeys = nullptr;
};

}  // namespace orvi
