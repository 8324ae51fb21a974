#include "brand_logo.hpp"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace plovik {

QPixmap brandLogo(int size) {
    QPixmap pixmap(size * 2, size * 2);
    pixmap.setDevicePixelRatio(2.0);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 128.0, size / 128.0);
    QLinearGradient sky(0, 0, 0, 128);
    sky.setColorAt(0, QColor(0x2f, 0x6f, 0xd6));
    sky.setColorAt(1, QColor(0x1b, 0x3f, 0x86));
    QPainterPath square;
    square.addRoundedRect(QRectF(0, 0, 128, 128), 30, 30);
    painter.fillPath(square, sky);
    QPainterPath letter;
    letter.moveTo(34, 96);
    letter.lineTo(34, 32);
    letter.lineTo(62, 32);
    letter.arcTo(QRectF(44, 32, 36, 36), 90, -180);
    letter.lineTo(50, 68);
    letter.lineTo(50, 96);
    letter.closeSubpath();
    painter.fillPath(letter, Qt::white);
    painter.setBrush(QColor(0x1b, 0x3f, 0x86));
    painter.setPen(Qt::NoPen);
    painter.drawRoundedRect(QRectF(50, 45, 14, 10), 5, 5);
    painter.setBrush(QColor(0x7f, 0xd4, 0xa8));
    painter.drawEllipse(QPointF(92, 88), 11, 11);
    return pixmap;
}

}  // namespace plovik
