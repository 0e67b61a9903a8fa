#pragma once
// Sizes of the dialogs' templates, given in dialog units, turned into pixels
// for the widget's own font: a horizontal unit is a quarter of the font's
// average character width, a vertical unit an eighth of its height. So the
// dialogs keep their templates' proportions at any font size.
#include <QFontMetrics>
#include <QSize>
#include <QWidget>

namespace orvi {

// The frame of the dialogs: a caption with the close box, no minimise or
// maximise box.
inline constexpr Qt::WindowFlags kDialogFrame =
    Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;

class CDialogUnits {
public:
    explicit CDialogUnits(const QWidget* pWidget) {
        const QFontMetrics fm(pWidget->font());
        const int nAlphabet =
            fm.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
        m_nBaseX = (nAlphabet / 26 + 1) / 2;
        m_nBaseY = fm.height();
    }
    int X(int nUnits) const { return (nUnits * m_nBaseX + 2) / 4; }
    int Y(int nUnits) const { return (nUnits * m_nBaseY + 4) / 8; }
    QSize Size(int nWidth, int nHeight) const { return {X(nWidth), Y(nHeight)}; }

private:
    int m_nBaseX = 6;
    int m_nBaseY = 13;
};

}  // namespace orvi
