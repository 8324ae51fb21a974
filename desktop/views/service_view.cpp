#include "service_view.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

#include "detail_row.hpp"
#include "page_title.hpp"
#include "station_actions.hpp"
#include "style.hpp"
#include "surface.hpp"

namespace plovik {

ServiceView::ServiceView(StationModel& station, QWidget* parent) : Page(station, parent) {
    m_layout->addWidget(
        new PageTitle(tr("让工作站持续运行"), tr("后台独立运行，关闭管理窗口不会主动停止它。")));
    auto* content = addStationContent();

    auto* service = new Surface(tr("知识库后台"));
    auto* statusRow = new QHBoxLayout;
    m_statusIcon = new QLabel;
    m_status = style::label({}, style::Text::title3);
    statusRow->addWidget(m_statusIcon);
    statusRow->addWidget(m_status, 1);
    service->add(statusRow);
    m_issue = style::label({});
    QPalette red = m_issue->palette();
    red.setColor(QPalette::WindowText, QColor(0xd7, 0x26, 0x1e));
    m_issue->setPalette(red);
    service->add(m_issue);
    // After a package upgrade the running service is still the old program.
    auto* outdatedRow = new QHBoxLayout;
    m_outdated = style::label(tr("后台程序已更新，重启后台即可使用新版本。"));
    m_restart = new QPushButton(tr("重启后台"));
    connect(m_restart, &QPushButton::clicked, &m_station, [this] { m_station.restartService(); });
    outdatedRow->addWidget(m_outdated, 1);
    outdatedRow->addWidget(m_restart);
    service->add(outdatedRow);
    auto* buttons = new QHBoxLayout;
    m_start = new QPushButton(tr("启用后台"));
    m_start->setDefault(true);
    setDefaultButton(m_start);
    m_stop = new QPushButton(tr("停止后台"));
    auto* settings = new QPushButton(tr("后台项目目录…"));
    connect(m_start, &QPushButton::clicked, &m_station, &StationModel::startService);
    connect(m_stop, &QPushButton::clicked, &m_station, [this] { m_station.stopService(); });
    connect(settings, &QPushButton::clicked, &m_station, &StationModel::openAgentSettings);
    buttons->addWidget(m_start);
    buttons->addWidget(m_stop);
    buttons->addWidget(settings);
    buttons->addStretch();
    service->add(buttons);
    service->add(new DetailRow(tr("当前职责"), tr("索引本机知识原稿、报告运行状态")));
    service->add(new DetailRow(tr("启动方式"), tr("登录此系统用户后启动；注销后停止")));
    service->add(new DetailRow(tr("专家业务服务"), tr("安装适配中，尚未接入此后台")));
    content->addWidget(service);

    auto* host = new Surface(tr("作为长期在线的主机"));
    host->add(
        style::label(tr("保持开机、联网，并避免自动休眠。建议使用长期接电的小型主机。本"
                        " APP 不会自行改变系统电源设置。")));
    host->add(style::label(
        tr("本地资料可在离线时读取；云端模型需要联网。plovik 的新工作站连接仍待接通。"),
        style::Text::callout, style::Tone::secondary));
    content->addWidget(host);
    watch();
}

void ServiceView::sync() {
    showStationContent();
    const bool running = m_station.running();
    // Drawn only when the state changes (see ProgressViewPage::show).
    if (m_iconShowsRunning != running) {
        m_iconShowsRunning = running;
        const QIcon icon = running ? style::check(QColor(0x2e, 0xa0, 0x4f))
                                   : style::circle(false, style::color(style::Tone::secondary));
        m_statusIcon->setPixmap(icon.pixmap(22, 22));
    }
    // The status on its line; the reason a service that does not run gave, if any, under it,
    // where the heartbeat's issue shows otherwise.
    const QString& status = m_station.serviceStatus();
    const qsizetype lineEnd = status.indexOf(QLatin1Char('\n'));
    m_statusIcon->setAccessibleName(status.left(lineEnd));
    m_status->setText(status.left(lineEnd));
    const auto& heartbeat = m_station.heartbeat();
    // Without a user manager, what to do about it.
    const QString issue = heartbeat && heartbeat->issue ? QString::fromStdString(*heartbeat->issue)
                          : status == tr(actions::text::notFound) ? tr(actions::text::noManagerHint)
                          : lineEnd < 0                           ? QString()
                                                                  : status.mid(lineEnd + 1);
    m_issue->setVisible(!issue.isEmpty());
    m_issue->setText(issue);
    const bool busy = m_station.busy();
    const bool outdated = m_station.serviceOutdated();
    m_outdated->setVisible(outdated);
    m_restart->setVisible(outdated);
    m_restart->setEnabled(!busy);
    m_start->setEnabled(!busy && !m_station.registered());
    m_stop->setEnabled(!busy && m_station.registered());
}

}  // namespace plovik
