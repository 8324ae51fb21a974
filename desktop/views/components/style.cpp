#include "style.hpp"

#include <QApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QPixmap>
#include <QStyle>

namespace plovik::style {

QFont font(Text text) {
    QFont base = QApplication::font();
    const qreal size = base.pointSizeF() > 0 ? base.pointSizeF() : 10;
    auto scaled = [&](qreal factor, QFont::Weight weight) {
        QFont f = base;
        f.setPointSizeF(size * factor);
        f.setWeight(weight);
        return f;
    };
    switch (text) {
        case Text::largeTitle: {
            QFont f = base;
            f.setPixelSize(30);
            f.setWeight(QFont::DemiBold);
            return f;
        }
        case Text::title3:
            return scaled(1.4, QFont::Normal);
        case Text::headline:
            return scaled(1.1, QFont::DemiBold);
        case Text::body:
            return base;
        case Text::callout:
            return scaled(0.95, QFont::Normal);
        case Text::subheadline:
            return scaled(0.92, QFont::Medium);
        case Text::caption:
            return scaled(0.85, QFont::Normal);
        case Text::caption2:
            return scaled(0.8, QFont::Normal);
    }
    return base;
}

QColor color(Tone tone) {
    const QPalette palette = QApplication::palette();
    QColor text = palette.color(QPalette::WindowText);
    switch (tone) {
        case Tone::primary:
            return text;
        case Tone::secondary:
            text.setAlphaF(0.68f);
            return text;
        case Tone::tertiary:
            text.setAlphaF(0.45f);
            return text;
        case Tone::quaternary:
            text.setAlphaF(0.18f);
            return text;
    }
    return text;
}

void apply(QLabel* label, Text style, Tone tone) {
    // What labels show is people's and servers' text (names, notes, paths, replies, errors):
    // never markup, whatever it looks like.
    label->setTextFormat(Qt::PlainText);
    label->setFont(font(style));
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color(tone));
    label->setPalette(palette);
}

QLabel* label(const QString& text, Text style, Tone tone, bool selectable) {
    auto* created = new QLabel(text);
    apply(created, style, tone);
    created->setWordWrap(true);
    if (selectable)
        created->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    return created;
}

QString buttonText(const QString& text) {
    QString escaped = text;
    return escaped.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

QIcon icon(const char* themeName, int standardPixmap) {
    const QIcon fallback =
        QApplication::style()->standardIcon(static_cast<QStyle::StandardPixmap>(standardPixmap));
    return QIcon::fromTheme(QString::fromLatin1(themeName), fallback);
}

QPixmap canvas(int size) {
    const qreal ratio = qApp ? qApp->devicePixelRatio() : 1.0;
    QPixmap pixmap(QSize(size, size) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

QIcon circle(bool filled, const QColor& color) {
    QPixmap pixmap = canvas(32);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(color, 3));
    painter.setBrush(filled ? QBrush(color) : Qt::NoBrush);
    painter.drawEllipse(QRectF(4, 4, 24, 24));
    return QIcon(pixmap);
}

QIcon check(const QColor& color) {
    QPixmap pixmap = canvas(32);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    painter.drawEllipse(QRectF(2, 2, 28, 28));
    painter.setPen(QPen(Qt::white, 3.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    QPainterPath tick;
    tick.moveTo(9, 16.5);
    tick.lineTo(14, 21.5);
    tick.lineTo(23, 11);
    painter.drawPath(tick);
    return QIcon(pixmap);
}

}  // namespace plovik::style
