#pragma once
// The strip of thumbnails along the foot of the image view: the exposures of
// this run that the image history kept, newest on the right. A click on one
// asks for it to be shown. Hidden until the first exposure.
#include "imaging/AcquiredImage.h"
#include "imaging/ImageHistory.h"

#include <QImage>
#include <QListWidget>

#include <vector>

namespace orvi {

class CHistoryStrip final : public QListWidget {
    Q_OBJECT
public:
    static constexpr int kThumbSide = 96;

    explicit CHistoryStrip(QWidget* pParent = nullptr);

    // A kept exposure: its history entry and the picture it came from.
    void AddEntry(const CHistoryEntry& entry, const CAcquiredImage& image);
    const std::vector<CHistoryEntry>& Entries() const { return m_entries; }
    // Marks the entry shown (-1: none of them).
    void SetCurrent(int nIndex);

    // The thumbnail of an image: at most kThumbSide a side, aspect kept, in
    // the entry's automatic window.
    static QImage MakeThumbnail(const uint16_t* pPixels, int32_t nWidth, int32_t nHeight, int32_t nWindowWidth,
                                int32_t nWindowLevel);

signals:
    void EntryChosen(int nIndex);

private:
    std::vector<CHistoryEntry> m_entries;
};

}  // namespace orvi
