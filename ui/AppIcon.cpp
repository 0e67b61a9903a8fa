#include "ui/AppIcon.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace orvi {

namespace {

QPixmap DrawIcon(int n) {
    QPixmap pm(n, n);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = n / 32.0;
    // The detector's housing.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x2b, 0x3a, 0x4a));
    p.drawRoundedRect(QRectF(1 * s, 1 * s, 30 * s, 30 * s), 5 * s, 5 * s);
    // Its active area with a radiograph: a soft gradient, a disc and a wedge.
    const QRectF rcImage(5 * s, 5 * s, 22 * s, 22 * s);
    QLinearGradient grad(rcImage.topLeft(), rcImage.bottomRight());
    grad.setColorAt(0.0, QColor(0xe8, 0xe8, 0xe8));
    grad.setColorAt(1.0, QColor(0x9a, 0x9a, 0x9a));
    p.setBrush(grad);
    p.drawRect(rcImage);
    p.setBrush(QColor(0x30, 0x30, 0x30));
    p.drawEllipse(QPointF(19 * s, 12 * s), 4.5 * s, 4.5 * s);
    for (int i = 0; i < 4; ++i) {
        const int g = 0x40 + i * 0x28;
        p.setBrush(QColor(g, g, g));
        p.drawRect(QRectF((7 + i * 4.5) * s, 20 * s, 4.5 * s, 5 * s));
    }
    // The frame the view draws round the picture.
    p.setPen(QPen(QColor(0, 150, 255), std::max(1.0, 1.2 * s)));
    p.setBrush(Qt::NoBrush);
    p.drawRect(rcImage);
    return pm;
}

}  // namespace

QIcon MakeAppIcon() {
    QIcon icon;
    for (int n : {16, 24, 32, 48, 64, 128, 256}) icon.addPixmap(DrawIcon(n));
    return icon;
}

}  // namespace orvi
