#include "detail_row.hpp"

#include <QHBoxLayout>

#include "style.hpp"

namespace plovik {

DetailRow::DetailRow(const QString& name, const QString& value, QWidget* parent) : QWidget(parent) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* nameLabel = style::label(name, style::Text::callout, style::Tone::secondary);
    nameLabel->setFixedWidth(110);
    m_value = style::label(value, style::Text::callout, style::Tone::primary, true);
    layout->addWidget(nameLabel, 0, Qt::AlignTop);
    layout->addWidget(m_value, 1, Qt::AlignTop);
}

void DetailRow::setValue(const QString& value) {
    m_value->setText(value);
}

}  // namespace plovik
