#include "accessible_roles.hpp"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QLabel>
#include <QVariant>

namespace plovik::accessibleRoles {

namespace {

// The role is carried by a dynamic property, read by the factory below, so any widget can be
// given one without a class of its own.
constexpr const char* roleProperty = "plovikAccessibleRole";

class RoledWidget : public QAccessibleWidget {
public:
    RoledWidget(QWidget* widget, QAccessible::Role role) : QAccessibleWidget(widget, role) {}

    QString text(QAccessible::Text kind) const override {
        if (kind != QAccessible::Name) return QAccessibleWidget::text(kind);
        if (!widget()->accessibleName().isEmpty()) return widget()->accessibleName();
        if (auto* label = qobject_cast<const QLabel*>(widget())) return label->text();
        return {};
    }
};

QAccessibleInterface* factory(const QString&, QObject* object) {
    auto* widget = qobject_cast<QWidget*>(object);
    if (!widget) return nullptr;
    const QVariant role = widget->property(roleProperty);
    if (!role.isValid()) return nullptr;
    return new RoledWidget(widget, static_cast<QAccessible::Role>(role.toInt()));
}

// Gives the widget its role. An interface Qt already made for it (a widget that changed its
// text has one) is dropped, so that the next question makes it anew, with the role.
void setRole(QWidget* widget, QAccessible::Role role) {
    widget->setProperty(roleProperty, static_cast<int>(role));
    if (QAccessibleInterface* made = QAccessible::queryAccessibleInterface(widget);
        made && !dynamic_cast<RoledWidget*>(made)) {
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
    }
}

}  // namespace

void install() {
    static const bool installed = [] {
        QAccessible::installFactory(factory);
        return true;
    }();
    (void)installed;
}

void markAsGroup(QWidget* widget, const QString& name) {
    widget->setAccessibleName(name);
    setRole(widget, QAccessible::Grouping);
}

void markAsHeading(QLabel* label) {
    setRole(label, QAccessible::Heading);
}

void markAsNotification(QLabel* label) {
    setRole(label, QAccessible::Notification);
}

void announce(QLabel* label) {
    QAccessibleEvent changed(label, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&changed);
    QAccessibleEvent alert(label, QAccessible::Alert);
    QAccessible::updateAccessibility(&alert);
}

}  // namespace plovik::accessibleRoles
