#include "ui/MeridStatusBar.h"

#include <QFontDatabase>
#include <QLabel>
#include <QResizeEvent>

#include <algorithm>
#include <vector>

namespace orvi {

namespace {

// Initial texts: a blank message line, three blanks sizing pane 1, a blank
// readout, three blanks sizing pane 3, an empty progress pane.
constexpr const char* kInitialTexts[CMeridStatusBar::kPaneCount] = {" ", "   ", " ", "   ", ""};
constexpr int kPaneGap = 2;
constexpr int kPaneIndent = 4;

// The readout panes use a fixed-pitch font, so their columns stay still as the
// pointer moves, at the largest size up to the bar's own at which the widest
// readouts fit their panes.
QFont ReadoutFont(const QFont& fontBar) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    if (!QFontInfo(font).fixedPitch()) {
        // Some platforms answer with the general font: ask for a typewriter face.
        font = QFont(QStringLiteral("monospace"));
        font.setStyleHint(QFont::TypeWriter);
        font.setFixedPitch(true);
    }
    const qreal fMax = fontBar.pointSizeF() > 0 ? fontBar.pointSizeF() : 9.0;
    const struct {
        int nPane;
        const char* szWidest;
    } kWidest[] = {{2, "Pos(X:-9999 Y:-9999 ) Value: 65535"}, {3, "Original: 65535"}};
    for (qreal fSize = fMax; fSize >= 6.0; fSize -= 0.5) {
        font.setPointSizeF(fSize);
        const QFontMetrics fm(font);
        bool bFits = true;
        for (const auto& w : kWidest)
            bFits = bFits && fm.horizontalAdvance(QString::fromLatin1(w.szWidest)) + 2 * kPaneIndent + 4 <=
                                 CMeridStatusBar::kPaneWidths[size_t(w.nPane)];
        if (bFits) break;
    }
    return font;
}

// Holds the panes at fixed positions and widths. Its minimum width is zero, so
// the panes never widen the window; what does not fit is clipped.
class CPaneStrip final : public QWidget {
public:
    explicit CPaneStrip(QWidget* pParent) : QWidget(pParent) {}
    void AddPane(QLabel* pPane) { m_panes.push_back(pPane); }

    QSize sizeHint() const override {
        int nWidth = 0;
        for (int w : CMeridStatusBar::kPaneWidths) nWidth += w + kPaneGap;
        return {nWidth, PaneHeight()};
    }
    QSize minimumSizeHint() const override { return {0, PaneHeight()}; }

protected:
    void resizeEvent(QResizeEvent* pEvent) override {
        QWidget::resizeEvent(pEvent);
        int x = 0;
        for (size_t i = 0; i < m_panes.size(); ++i) {
            m_panes[i]->setGeometry(x, 0, CMeridStatusBar::kPaneWidths[i], height());
            x += CMeridStatusBar::kPaneWidths[i] + kPaneGap;
        }
    }

private:
    int PaneHeight() const {
        int nHeight = 0;
        for (const QLabel* pPane : m_panes)
            nHeight = std::max({nHeight, pPane->minimumHeight(), pPane->sizeHint().height()});
        return nHeight;
    }
    std::vector<QLabel*> m_panes;
};

}  // namespace

CMeridStatusBar::CMeridStatusBar(QWidget* pParent) : QStatusBar(pParent) {
    auto* pStrip = new CPaneStrip(this);
    for (int i = 0; i < kPaneCount; ++i) {
        auto* pPane = new QLabel(QString::fromLatin1(kInitialTexts[i]), pStrip);
        pPane->setFrameShape(QFrame::Panel);
        pPane->setFrameShadow(QFrame::Sunken);
        pPane->setTextFormat(Qt::PlainText);
        pPane->setIndent(kPaneIndent);
        pPane->setFixedWidth(kPaneWidths[size_t(i)]);
        pPane->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
        if (i == 2 || i == 3) pPane->setFont(ReadoutFont(font()));
        pPane->setMinimumHeight(pPane->sizeHint().height() + 4);
        pStrip->AddPane(pPane);
        m_panes[size_t(i)] = pPane;
    }
    addWidget(pStrip, 1);
}

void CMeridStatusBar::SetPaneText(int nPane, const QString& strText) {
    QLabel* pPane = Pane(nPane);
    if (pPane == nullptr) return;
    pPane->setText(strText);
    // Shown at once: the window thread may block right after (a pause before a
    // dark frame, a board transfer).
    if (pPane->isVisible()) pPane->repaint();
}

QString CMeridStatusBar::PaneText(int nPane) const {
    QLabel* pPane = Pane(nPane);
    return pPane ? pPane->text() : QString();
}

QLabel* CMeridStatusBar::Pane(int nPane) const {
    if (nPane < 0 || nPane >= kPaneCount) return nullptr;
    return m_panes[size_t(nPane)];
}

}  // namespace orvi
