#include "surface.hpp"

#include <QPainter>
#include <QPainterPath>

#include "accessible_roles.hpp"
#include "style.hpp"

namespace plovik {

Surface::Surface(const QString& title, QWidget* parent) : QFrame(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(22, 22, 22, 22);
    layout->setSpacing(17);
    if (!title.isEmpty()) layout->addWidget(style::label(title, style::Text::headline));
    m_content = new QVBoxLayout;
    m_content->setSpacing(12);
    layout->addLayout(m_content);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    accessibleRoles::markAsGroup(this, title);
}

void Surface::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 16, 16);
    painter.fillPath(shape, palette().color(QPalette::Base));
    painter.setPen(QPen(style::color(style::Tone::quaternary), 1));
    painter.drawPath(shape);
}

}  // namespace plovik
