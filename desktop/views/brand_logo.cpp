#include "brand_logo.hpp"

#include <QPainter>
#include <QSvgRenderer>

#include "style.hpp"

namespace plovik {

// The one drawing of the logo: the SVG that is also installed as the hicolor icon, carried in
// the Qt resources and rendered at the screen's pixel density.
QPixmap brandLogo(int size) {
    QPixmap pixmap = style::canvas(size);
    QSvgRenderer logo(QStringLiteral(":/plovik/cn.trenzo.workstation.svg"));
    QPainter painter(&pixmap);
    logo.render(&painter, QRectF(0, 0, size, size));
    return pixmap;
}

QIcon brandIcon() {
    QIcon icon;
    for (const int size : {16, 32, 48, 64, 128, 256}) icon.addPixmap(brandLogo(size));
    return icon;
}

}  // namespace plovik
