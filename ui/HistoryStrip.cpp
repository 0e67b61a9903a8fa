#include "ui/HistoryStrip.h"

#include "display/WindowLevelLut.h"

#include <QIcon>
#include <QPainter>
#include <QPixmap>
#include <QScrollBar>
#include <QSignalBlocker>

#include <algorithm>
#include <vector>

namespace orvi {

CHistoryStrip::CHistoryStrip(QWidget* pParent) : QListWidget(pParent) {
    setObjectName(QStringLiteral("HistoryStrip"));
    setViewMode(QListView::IconMode);
    setFlow(QListView::LeftToRight);
    setWrapping(false);
    setMovement(QListView::Static);
    setResizeMode(QListView::Adjust);
    setIconSize(QSize(kThumbSide, kThumbSide));
    setSpacing(4);
    setUniformItemSizes(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setFocusPolicy(Qt::NoFocus);  // the keys stay with the image
    setFixedHeight(kThumbSide + 48);
    setStyleSheet(QStringLiteral(
        "#HistoryStrip { background: #1c2026; border: none; border-top: 1px solid #3a4048; color: #c8ced6; }"
        "#HistoryStrip::item { border: 2px solid transparent; border-radius: 3px; padding: 2px; }"
        "#HistoryStrip::item:selected { border: 2px solid #0096ff; background: #26303c; color: white; }"
        "#HistoryStrip::item:hover { background: #262c34; }"));
    setVisible(false);
    connect(this, &QListWidget::itemClicked, this, [this](QListWidgetItem* pItem) { emit EntryChosen(row(pItem)); });
}

QImage CHistoryStrip::MakeThumbnail(const uint16_t* pPixels, int32_t nWidth, int32_t nHeight, int32_t nWindowWidth,
                                    int32_t nWindowLevel) {
    if (pPixels == nullptr || nWidth <= 0 || nHeight <= 0) return {};
    const double fScale = double(kThumbSide) / std::max(nWidth, nHeight);
    const int nW = std::max(1, int(nWidth * fScale)), nH = std::max(1, int(nHeight * fScale));
    std::vector<unsigned char> table(kLutEntries);
    BuildWindowLevelTable(float(std::max(1, nWindowWidth)), float(nWindowLevel), table.data());
    QImage img(nW, nH, QImage::Format_Grayscale8);
    // Each thumbnail pixel is the mean of the block of image pixels it covers
    // (a few sampled rows and columns): a smooth, noise-free preview.
    for (int y = 0; y < nH; ++y) {
        uchar* pOut = img.scanLine(y);
        const int32_t r0 = int32_t(y / fScale), r1 = std::max(r0 + 1, std::min(nHeight, int32_t((y + 1) / fScale)));
        for (int x = 0; x < nW; ++x) {
            const int32_t c0 = int32_t(x / fScale), c1 = std::max(c0 + 1, std::min(nWidth, int32_t((x + 1) / fScale)));
            const int32_t nStepR = std::max(1, (r1 - r0) / 4), nStepC = std::max(1, (c1 - c0) / 4);
            uint64_t nSum = 0, n = 0;
            for (int32_t r = r0; r < r1; r += nStepR)
                for (int32_t c = c0; c < c1; c += nStepC) {
                    nSum += pPixels[size_t(r) * size_t(nWidth) + size_t(c)];
                    ++n;
                }
            pOut[x] = table[size_t(nSum / std::max<uint64_t>(n, 1)) & kLutMaxIn];
        }
    }
    return img;
}

void CHistoryStrip::AddEntry(const CHistoryEntry& entry, const CAcquiredImage& image) {
    m_entries.push_back(entry);
    const QImage thumb =
        MakeThumbnail(image.pixels.data(), image.Width(), image.Height(), entry.nWindowWidth, entry.nWindowLevel);
    // Centred on a square, so every item is the same size.
    QPixmap pm(kThumbSide, kThumbSide);
    pm.fill(Qt::black);
    if (!thumb.isNull()) {
        QPainter p(&pm);
        p.drawImage((kThumbSide - thumb.width()) / 2, (kThumbSide - thumb.height()) / 2, thumb);
    }
    auto* pItem = new QListWidgetItem(QIcon(pm), QString::fromStdString(entry.strTime));
    pItem->setToolTip(QStringLiteral("%1.RAW\n%2 x %3, trigger mode %4, detector %5")
                          .arg(QString::fromStdString(entry.strName))
                          .arg(entry.nWidth)
                          .arg(entry.nHeight)
                          .arg(entry.nTriggerMode)
                          .arg(QChar(entry.cDetector)));
    pItem->setTextAlignment(Qt::AlignHCenter);
    addItem(pItem);
    setVisible(true);
    SetCurrent(count() - 1);
    scrollToItem(pItem);
}

void CHistoryStrip::SetCurrent(int nIndex) {
    const QSignalBlocker block(this);
    if (nIndex < 0 || nIndex >= count())
        clearSelection();
    else
        setCurrentRow(nIndex);
}

}  // namespace orvi
