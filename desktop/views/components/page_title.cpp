#include "page_title.hpp"

#include <QVBoxLayout>

#include "accessible_roles.hpp"
#include "style.hpp"

namespace plovik {

PageTitle::PageTitle(const QString& title, const QString& subtitle, QWidget* parent)
    : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(9);
    m_title = style::label(title, style::Text::largeTitle);
    m_title->setObjectName(QStringLiteral("page-title"));
    accessibleRoles::markAsHeading(m_title);
    layout->addWidget(m_title);
    layout->addWidget(style::label(subtitle, style::Text::body, style::Tone::secondary));
}

void PageTitle::setTitle(const QString& title) {
    m_title->setText(title);
}
QString PageTitle::title() const {
    return m_title->text();
}

}  // namespace plovik
