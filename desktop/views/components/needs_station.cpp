#include "needs_station.hpp"

#include <QStyle>
#include <QVBoxLayout>

#include "style.hpp"

namespace plovik {

NeedsStation::NeedsStation(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 40, 0, 40);
    layout->setSpacing(10);
    auto* image = new QLabel;
    image->setPixmap(style::icon("computer", QStyle::SP_ComputerIcon).pixmap(48, 48));
    image->setAlignment(Qt::AlignCenter);
    image->setAccessibleName(tr("工作站"));
    auto* title = style::label(tr("先建立本机工作站"), style::Text::title3);
    title->setAlignment(Qt::AlignCenter);
    auto* description = style::label(tr("在“工作站”页完成命名与数据目录部署。"), style::Text::body,
                                     style::Tone::secondary);
    description->setAlignment(Qt::AlignCenter);
    layout->addWidget(image);
    layout->addWidget(title);
    layout->addWidget(description);
}

}  // namespace plovik
