#pragma once
// CMeridStatusBar: the main window's status bar with five fixed-width panes:
// what the station waits for and does, the ROI's or ruler's figures, the
// pixel position and value under the pointer, the value with the last dark
// frame added back, and the acquisition progress. A text longer than its pane is clipped; the widths never change,
// and a window narrower than the panes simply cuts the last ones off.
#include <QStatusBar>

#include <array>

class QLabel;

namespace orvi {

class CMeridStatusBar final : public QStatusBar {
    Q_OBJECT
public:
    static constexpr int kPaneCount = 5;
    static constexpr std::array<int, kPaneCount> kPaneWidths{500, 380, 220, 100, 600};

    explicit CMeridStatusBar(QWidget* pParent = nullptr);

    // Text of pane nPane (0 to 4); other indices are ignored. Shown at once.
    void SetPaneText(int nPane, const QString& strText);
    QString PaneText(int nPane) const;
    QLabel* Pane(int nPane) const;

private:
    std::array<QLabel*, kPaneCount> m_panes{};
};

}  // namespace orvi
