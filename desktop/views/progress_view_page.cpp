#include "progress_view_page.hpp"

#include <QApplication>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>

#include "page_title.hpp"
#include "style.hpp"
#include "surface.hpp"

namespace plovik {

namespace {

struct FixedStep {
    const char* number;
    const char* title;
    const char* detail;  // for the steps that are never done yet
};

constexpr FixedStep steps[] = {
    {"01", "命名与本地身份", nullptr},
    {"02", "本机目录与运行环境", nullptr},
    {"03", "知识库后台", nullptr},
    {"04", "模型连接", nullptr},
    {"05", "平台 Admin 身份与订阅", "接口待接通"},
    {"06", "专家与工具", "业务运行环境待接通"},
    {"07", "plovik 绑定", "新工作站路由待接通"},
    {"08", "备份、恢复与升级", "下一阶段实现"},
    {"09", "手机首个任务闭环", "待真机验收"},
};

}  // namespace

ProgressViewPage::ProgressViewPage(StationModel& station, QWidget* parent) : Page(station, parent) {
    m_layout->addWidget(
        new PageTitle(tr("工作站开通进度"), tr("本机安装、服务开通、手机验收分别记录。")));
    auto* progress = new Surface(tr("当前进度"));
    for (std::size_t i = 0; i < m_steps.size(); ++i) {
        progress->add(step(QString::fromLatin1(steps[i].number), QString::fromUtf8(steps[i].title),
                           m_steps[i]));
        if (steps[i].detail) show(static_cast<int>(i), QString::fromUtf8(steps[i].detail), false);
    }
    m_layout->addWidget(progress);
    watch();
}

QWidget* ProgressViewPage::step(const QString& number, const QString& title, Step& row) {
    auto* widget = new QWidget;
    auto* layout = new QHBoxLayout(widget);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* numberLabel = style::label(number, style::Text::caption, style::Tone::secondary);
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPointSizeF(style::font(style::Text::caption).pointSizeF());
    numberLabel->setFont(mono);
    numberLabel->setFixedWidth(25);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    texts->addWidget(style::label(title, style::Text::callout));
    row.detail = style::label({}, style::Text::caption, style::Tone::secondary);
    texts->addWidget(row.detail);
    row.mark = new QLabel;
    layout->addWidget(numberLabel);
    layout->addLayout(texts, 1);
    layout->addWidget(row.mark);
    return widget;
}

void ProgressViewPage::show(int index, const QString& detail, bool done) {
    Step& row = m_steps[static_cast<std::size_t>(index)];
    row.detail->setText(detail);
    row.done = done;
    // Drawn only when the state changes: every new picture is a new entry in Qt's pixmap cache,
    // and the page is refreshed every 3 seconds.
    if (row.markShows == done) return;
    row.markShows = done;
    const QIcon mark = done ? style::check(QApplication::palette().color(QPalette::Highlight))
                            : style::circle(false, style::color(style::Tone::secondary));
    row.mark->setPixmap(mark.pixmap(20, 20));
    row.mark->setAccessibleName(done ? tr("已完成") : tr("未完成"));
}

QString ProgressViewPage::detail(int index) const {
    return m_steps[static_cast<std::size_t>(index)].detail->text();
}
bool ProgressViewPage::done(int index) const {
    return m_steps[static_cast<std::size_t>(index)].done;
}

void ProgressViewPage::sync() {
    const bool open = m_station.workspace().has_value();
    show(0, open ? tr("已保存") : tr("待开始"), open);
    show(1, open ? tr("已部署") : tr("待部署"), open);
    show(2, m_station.serviceStatus(), m_station.running());
    const bool tested = m_station.modelResult().has_value();
    show(3, tested ? tr("本次测试已通过") : tr("可在模型页配置并测试"), tested);
}

}  // namespace plovik
