#include "overview_view.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "detail_row.hpp"
#include "page_title.hpp"
#include "style.hpp"
#include "surface.hpp"

namespace plovik {

OverviewView::OverviewView(StationModel& station, QWidget* parent) : Page(station, parent) {
    m_title = new PageTitle(QStringLiteral("plovik"), tr("本机已部署，继续完成工作站开通。"));
    m_layout->addWidget(m_title);

    auto* state = new Surface(tr("工作站状态"));
    m_service = new DetailRow(tr("知识库后台"), {});
    m_indexed = new DetailRow(tr("已索引原稿"), {});
    state->add(m_service);
    state->add(m_indexed);
    state->add(new DetailRow(tr("平台身份"), tr("尚未绑定 · 本机控制权不等于平台 Admin")));
    state->add(new DetailRow(QStringLiteral("plovik"), tr("尚未连接此工作站")));
    m_layout->addWidget(state);

    auto* data = new Surface(tr("本机资料"));
    m_root = style::label({}, style::Text::callout, style::Tone::primary, true);
    data->add(m_root);
    auto* folders = new QHBoxLayout;
    auto* openRoot = new QPushButton(tr("打开数据目录"));
    auto* openKnowledge = new QPushButton(tr("打开知识库"));
    connect(openRoot, &QPushButton::clicked, this, [this] { m_station.openFolder(folder(false)); });
    connect(openKnowledge, &QPushButton::clicked, this,
            [this] { m_station.openFolder(folder(true)); });
    folders->addWidget(openRoot);
    folders->addWidget(openKnowledge);
    folders->addStretch();
    data->add(folders);
    data->add(
        style::label(tr("原稿采用 Markdown，可用 Obsidian 打开。当前资料属于这台电脑的本地用户。"),
                     style::Text::callout, style::Tone::secondary));
    m_layout->addWidget(data);

    auto* naming = new Surface(tr("工作站名称"));
    auto* nameRow = new QHBoxLayout;
    m_name = new QLineEdit;
    m_name->setPlaceholderText(tr("工作站名称"));
    m_name->setAccessibleName(tr("工作站名称"));
    connect(m_name, &QLineEdit::textEdited, &m_station, &StationModel::setName);
    auto* save = new QPushButton(tr("保存"));
    connect(save, &QPushButton::clicked, &m_station, &StationModel::rename);
    nameRow->addWidget(m_name, 1);
    nameRow->addWidget(save);
    naming->add(nameRow);
    naming->add(style::label(tr("改名不会移动资料或改变工作站身份。"), style::Text::caption,
                             style::Tone::secondary));
    m_layout->addWidget(naming);
    watch();
}

std::optional<QString> OverviewView::folder(bool knowledge) const {
    const auto& workspace = m_station.workspace();
    if (!workspace) return std::nullopt;
    return QString::fromStdString(
        (knowledge ? workspace->knowledgeURL() : workspace->root()).native());
}

void OverviewView::sync() {
    const auto& workspace = m_station.workspace();
    m_title->setTitle(workspace ? QString::fromStdString(workspace->configuration().name)
                                : QStringLiteral("plovik"));
    m_service->setValue(m_station.serviceStatus());
    const auto& heartbeat = m_station.heartbeat();
    m_indexed->setValue(heartbeat ? tr("%1 篇").arg(heartbeat->indexed) : tr("尚未运行"));
    m_root->setText(folder(false).value_or(QString()));
    showText(m_name, m_station.name());
}

}  // namespace plovik
