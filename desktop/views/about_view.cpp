#include "about_view.hpp"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QPushButton>

#include "detail_row.hpp"
#include "page_title.hpp"
#include "style.hpp"
#include "surface.hpp"

namespace plovik {

namespace {

// The package installs the app as /usr/bin/OstrakDesktop; anything else was built from source.
QString releaseState() {
    return QCoreApplication::applicationFilePath() == QStringLiteral("/usr/bin/OstrakDesktop")
               ? QCoreApplication::translate("plovik::AboutView",
                                             "Debian 软件包；尚未进入发行版仓库")
               : QCoreApplication::translate("plovik::AboutView", "源码构建；尚未进入发行版仓库");
}

}  // namespace

AboutView::AboutView(StationModel& station, QWidget* parent) : Page(station, parent) {
    m_layout->addWidget(new PageTitle(tr("版本与诊断"), tr("plovik · Linux 工作站安装与管理")));
    auto* version = new Surface(
        QString::fromUtf8(ostrak::Workspace::version.data(), ostrak::Workspace::version.size()) +
        tr(" · 开发预览"));
    version->add(new DetailRow(tr("支持范围"), tr("x86-64 / ARM64 · Linux 5.10 及以上")));
    version->add(new DetailRow(tr("已实测"), tr("Debian 12、13；其他发行版待实机验收")));
    version->add(new DetailRow(tr("发行状态"), releaseState()));
    version->add(new DetailRow(tr("小程序"), QStringLiteral("plovik")));
    version->add(style::label(tr("当前提供安装基础、知识库和模型连接测试。完整工作站开通尚未完成"
                                 "；不会把测试状态写成已付款、已绑定或已验收。"),
                              style::Text::callout, style::Tone::secondary));
    m_export = new QPushButton(tr("导出脱敏诊断…"));
    connect(m_export, &QPushButton::clicked, &m_station, &StationModel::exportDiagnostics);
    auto* exportRow = new QHBoxLayout;
    exportRow->addWidget(m_export);
    exportRow->addStretch();
    version->add(exportRow);
    m_layout->addWidget(version);

    m_keepData = new Surface(tr("保留你的资料"));
    m_keepData->add(style::label(tr("移除 APP 不会删除知识库。卸载前请先停止后台；更换 APP "
                                    "前保留完整数据目录。自动回滚与备份恢复尚未开放。"),
                                 style::Text::callout));
    m_openExisting = new QPushButton(tr("打开已有工作站…"));
    connect(m_openExisting, &QPushButton::clicked, &m_station, &StationModel::openExisting);
    auto* openRow = new QHBoxLayout;
    openRow->addWidget(m_openExisting);
    openRow->addStretch();
    m_keepData->add(openRow);
    m_layout->addWidget(m_keepData);

    auto* keys = new Surface(tr("键盘快捷键"));
    for (const auto& [keysText, action] :
         {std::pair{tr("Ctrl+S"), tr("保存原稿（知识库页）")},
          std::pair{tr("Ctrl+F"), tr("搜索原稿（知识库页）")},
          std::pair{tr("Enter"), tr("执行所在区域的主要操作")},
          std::pair{tr("Tab / Shift+Tab"), tr("在侧边栏与页面控件之间移动")},
          std::pair{tr("Esc"), tr("关闭提示")}, std::pair{tr("F1"), tr("显示本页")},
          std::pair{tr("Ctrl+Q"), tr("退出")}}) {
        keys->add(new DetailRow(keysText, action));
    }
    m_layout->addWidget(keys);
    watch();
}

void AboutView::sync() {
    const bool open = m_station.workspace().has_value();
    m_export->setEnabled(open);
    m_keepData->setVisible(open);
    m_openExisting->setEnabled(!m_station.registered() && !m_station.busy());
}

}  // namespace plovik
