#pragma once
// Helpers for widget tests.
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <string>
#include <vector>

namespace orvi::test {

// Answers every modal message box that opens while it lives, keeping its text.
class MessageBoxCloser {
public:
    MessageBoxCloser() {
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            if (auto* pBox = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                texts.push_back(pBox->text().toStdString());
                captions.push_back(pBox->windowTitle().toStdString());
                icons.push_back(pBox->icon());
                pBox->accept();
            }
        });
        m_timer.start();
    }
    std::vector<std::string> texts;
    std::vector<std::string> captions;
    std::vector<QMessageBox::Icon> icons;

private:
    QTimer m_timer;
};

}  // namespace orvi::test

#include "display/ImageStore.h"

#include <cstdint>
#include <functional>

namespace orvi::test {

// Gives the store a width x height image without a configuration file: all
// three buffers hold pixel(column, row), the display shows it, the view must
// convert it.
inline void LoadStore(CImageStore& store, int32_t nWidth, int32_t nHeight,
                      const std::function<uint16_t(int32_t, int32_t)>& fnPixel) {
    store.m_nWidth = nWidth;
    store.m_nHeight = nHeight;
    store.m_pDisplay.resize(size_t(nWidth) * size_t(nHeight));
    for (int32_t r = 0; r < nHeight; ++r)
        for (int32_t c = 0; c < nWidth; ++c) store.m_pDisplay[size_t(r) * size_t(nWidth) + size_t(c)] = fnPixel(c, r);
    store.m_pFrame1 = store.m_pDisplay;
    store.m_pFrame2 = store.m_pDisplay;
    store.m_nDispWidth = nWidth;
    store.m_nDispHeight = nHeight;
    store.m_bNewImage = 1;
}

// A radiograph-like test picture: a soft horizontal gradient, a step wedge
// of ten steps across the middle, a bright disc and a dark bar.
inline uint16_t PhantomPixel(int32_t c, int32_t r, int32_t nWidth, int32_t nHeight) {
    const int32_t nBand0 = nHeight * 2 / 5, nBand1 = nHeight * 3 / 5;
    if (r >= nBand0 && r < nBand1) return uint16_t(1200 + 1500 * (c * 10 / nWidth));
    const int32_t dx = c - nWidth * 3 / 4, dy = r - nHeight / 5;
    const int32_t nRadius = nWidth / 10;
    if (int64_t(dx) * dx + int64_t(dy) * dy < int64_t(nRadius) * nRadius) return 15000;
    if (c > nWidth / 8 && c < nWidth / 8 + nWidth / 20 && r > nHeight * 2 / 3) return 500;
    return uint16_t(3000 + 9000 * int64_t(c) / nWidth + 2000 * int64_t(r) / nHeight);
}

}  // namespace orvi::test

#include <QMouseEvent>
#include <QWheelEvent>

namespace orvi::test {

// Delivers a mouse event at a client position of w, as the window system would.
inline void SendMouse(QWidget* w, QEvent::Type type, QPoint pt, Qt::MouseButton button, Qt::MouseButtons buttons) {
    QMouseEvent ev(type, QPointF(pt), QPointF(w->mapToGlobal(pt)), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &ev);
}
inline void Press(QWidget* w, QPoint pt, Qt::MouseButton button, Qt::MouseButtons held = Qt::NoButton) {
    SendMouse(w, QEvent::MouseButtonPress, pt, button, held | button);
}
inline void Release(QWidget* w, QPoint pt, Qt::MouseButton button, Qt::MouseButtons held = Qt::NoButton) {
    SendMouse(w, QEvent::MouseButtonRelease, pt, button, held);
}
inline void Move(QWidget* w, QPoint pt, Qt::MouseButtons held = Qt::NoButton) {
    SendMouse(w, QEvent::MouseMove, pt, Qt::NoButton, held);
}
// Press, release, double-click, release: what a double-click delivers.
inline void DoubleClick(QWidget* w, QPoint pt, Qt::MouseButton button) {
    Press(w, pt, button);
    Release(w, pt, button);
    SendMouse(w, QEvent::MouseButtonDblClick, pt, button, button);
    Release(w, pt, button);
}
// A wheel turn of nDelta (120 a notch) at a client position of w; true when
// w took it (a disabled widget, or one that ignores it, passes it to its
// parent when the window system delivers it).
inline bool Wheel(QWidget* w, QPoint pt, int nDelta) {
    QWheelEvent ev(QPointF(pt), QPointF(w->mapToGlobal(pt)), QPoint(), QPoint(0, nDelta), Qt::NoButton, Qt::NoModifier,
                   Qt::NoScrollPhase, false);
    const bool bHandled = QApplication::sendEvent(w, &ev);
    return bHandled && ev.isAccepted();
}

}  // namespace orvi::test
