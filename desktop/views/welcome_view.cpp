#include "welcome_view.hpp"

#include <QFrame>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>

#include "detail_row.hpp"
#include "page_title.hpp"
#include "style.hpp"
#include "surface.hpp"

namespace plovik {

WelcomeView::WelcomeView(StationModel& station, QWidget* parent) : Page(station, parent) {
    m_layout->addWidget(new PageTitle(tr("欢迎来到plovik"), tr("配置这台电脑的工作站环境。")));

    auto* naming = new Surface(tr("先给它起个名字"));
    m_name = new QLineEdit;
    m_name->setPlaceholderText(tr("工作站名称"));
    m_name->setAccessibleName(tr("工作站名称"));
    m_name->setObjectName(QStringLiteral("station-name"));
    m_name->setMinimumHeight(32);
    connect(m_name, &QLineEdit::textEdited, &m_station, &StationModel::setName);
    naming->add(m_name);
    auto* divider = new QFrame;
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Plain);
    naming->add(divider);
    naming->add(style::label(tr("资料存放位置"), style::Text::subheadline));
    auto* locationRow = new QHBoxLayout;
    m_location = style::label({}, style::Text::callout, style::Tone::primary, true);
    m_location->setMaximumHeight(2 * m_location->fontMetrics().lineSpacing() + 4);
    auto* choose = new QPushButton(tr("选择位置…"));
    connect(choose, &QPushButton::clicked, &m_station, &StationModel::chooseLocation);
    locationRow->addWidget(m_location, 1);
    locationRow->addWidget(choose);
    naming->add(locationRow);
    naming->add(style::label(tr("知识、照片和专家技能保存在这里。安装程序与个人资料分开存放。"),
                             style::Text::callout, style::Tone::secondary));
    m_layout->addWidget(naming);

    auto* environment = new Surface(tr("本机环境"));
    m_architecture = new DetailRow(tr("芯片"), {});
    m_system = new DetailRow(tr("系统"), {});
    m_space = new DetailRow(tr("可用空间"), {});
    environment->add(m_architecture);
    environment->add(m_system);
    environment->add(m_space);
    environment->add(new DetailRow(tr("运行环境"), tr("安装包内置，无需安装开发工具")));
    m_layout->addWidget(environment);

    auto* actions = new QHBoxLayout;
    auto* install = new QPushButton(tr("建立本机工作站"));
    install->setObjectName(QStringLiteral("install-station"));
    install->setDefault(true);
    install->setMinimumHeight(34);
    connect(install, &QPushButton::clicked, &m_station, &StationModel::install);
    setDefaultButton(install);
    auto* open = new QPushButton(tr("打开已有工作站…"));
    open->setFlat(true);
    open->setCursor(Qt::PointingHandCursor);
    connect(open, &QPushButton::clicked, &m_station, &StationModel::openExisting);
    actions->addWidget(install);
    actions->addWidget(open);
    actions->addStretch();
    m_layout->addLayout(actions);
    m_layout->addWidget(style::label(
        tr("开发预览 · 本版先部署本机环境。平台账号、订阅、专家服务和 plovik 绑定尚待接通。"),
        style::Text::callout, style::Tone::secondary, true));

    watch();
}

void WelcomeView::sync() {
    showText(m_name, m_station.name());
    m_location->setText(m_station.location());
    showEnvironment();
}

// The report is made anew on every redraw, the 3-second refresh included: nothing is cached (it
// is cheap: statvfs and two small files), so free space and the system stay current.
void WelcomeView::showEnvironment() {
    const auto report =
        ostrak::EnvironmentReport::inspect(ostrak::Path(m_station.location().toStdString()));
    m_architecture->setValue(QString::fromStdString(report.architecture));
    m_system->setValue(QString::fromStdString(report.operatingSystem));
    m_space->setValue(report.availableBytes ? QLocale().formattedDataSize(*report.availableBytes, 1,
                                                                          QLocale::DataSizeSIFormat)
                                            : tr("无法读取"));
}

}  // namespace plovik
