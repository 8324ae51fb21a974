#include "root_view.hpp"

#include <QApplication>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QShortcut>
#include <QTimer>

#include "about_view.hpp"
#include "accessible_roles.hpp"
#include "brand_logo.hpp"
#include "knowledge_view.hpp"
#include "models_view.hpp"
#include "overview_view.hpp"
#include "progress_view_page.hpp"
#include "service_view.hpp"
#include "style.hpp"
#include "welcome_view.hpp"

namespace plovik {

namespace {
constexpr int sidebarWidth = 210;
constexpr int contentWidth = 820;
constexpr int margin = 36;
}  // namespace

RootView::RootView(StationModel& station, QWidget* parent) : QWidget(parent), m_station(station) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(sidebar());
    layout->addWidget(detail(), 1);
    // F1 shows the about page, which lists the keyboard shortcuts.
    auto* help = new QShortcut(QKeySequence(Qt::Key_F1), this);
    help->setContext(Qt::ApplicationShortcut);
    connect(help, &QShortcut::activated, this, [this] { select(Panel::about); });

    connect(&m_station, &StationModel::heartbeatChanged, this, &RootView::syncStatus);
    connect(&m_station, &StationModel::noticeChanged, this, &RootView::syncNotice);
    connect(&m_station, &StationModel::busyChanged, this, [this] {
        const QString text = StationModel::activityText(m_station.activity());
        m_busyText->setText(text);
        m_busyBand->setVisible(!text.isEmpty());
    });
    connect(&m_station, &StationModel::errorChanged, this, &RootView::syncAlert);
    connect(&m_station, &StationModel::workspaceChanged, this, [this] {
        // The overview panel shows the welcome page until a workstation is open.
        if (m_panel == Panel::overview && m_pageIsWelcome == m_station.workspace().has_value())
            showPage();
    });
    showPage();
    syncStatus();
    syncNotice();
    syncAlert();
}

QWidget* RootView::sidebar() {
    auto* bar = new QWidget;
    bar->setObjectName(QStringLiteral("sidebar"));
    bar->setFixedWidth(sidebarWidth);
    bar->setAutoFillBackground(true);
    QPalette shade = bar->palette();
    shade.setColor(QPalette::Window, shade.color(QPalette::Window).darker(104));
    bar->setPalette(shade);
    auto* layout = new QVBoxLayout(bar);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(18);

    auto* header = new QHBoxLayout;
    header->setContentsMargins(14, 20, 14, 0);
    header->setSpacing(10);
    auto* logo = new QLabel;
    logo->setPixmap(brandLogo(34));
    logo->setFixedSize(34, 34);
    logo->setAccessibleName(QStringLiteral("plovik"));
    auto* names = new QVBoxLayout;
    names->setSpacing(3);
    names->addWidget(style::label(QStringLiteral("plovik"), style::Text::headline));
    names->addWidget(style::label(tr("本地工作站"), style::Text::caption, style::Tone::secondary));
    header->addWidget(logo);
    header->addLayout(names, 1);
    layout->addLayout(header);

    m_panels = new QListWidget;
    m_panels->setAccessibleName(tr("页面"));
    m_panels->setFrameShape(QFrame::NoFrame);
    m_panels->setIconSize(QSize(18, 18));
    m_panels->setStyleSheet(QStringLiteral(
        "QListWidget { background: transparent; } QListWidget::item { padding: 4px 6px; }"));
    for (const Panel panel : allPanels) new QListWidgetItem(icon(panel), title(panel), m_panels);
    m_panels->setCurrentRow(0);
    connect(m_panels, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row < 0 || m_panelChosenHere) return;
        m_panelChosenInSidebar = true;
        select(allPanels[static_cast<std::size_t>(row)]);
        m_panelChosenInSidebar = false;
    });
    layout->addWidget(m_panels, 1);

    auto* status = new QVBoxLayout;
    status->setContentsMargins(18, 18, 18, 18);
    status->setSpacing(7);
    auto* statusRow = new QHBoxLayout;
    statusRow->setSpacing(6);
    m_statusIcon = new QLabel;
    m_statusText = style::label({}, style::Text::caption, style::Tone::secondary);
    statusRow->addWidget(m_statusIcon);
    statusRow->addWidget(m_statusText, 1);
    status->addLayout(statusRow);
    status->addWidget(style::label(
        QString::fromUtf8(ostrak::Workspace::version.data(), ostrak::Workspace::version.size()) +
            tr(" · 开发预览"),
        style::Text::caption2, style::Tone::tertiary));
    layout->addLayout(status);
    return bar;
}

// The notice of the last action's outcome sits above the page, outside its scrolling, so it is
// seen wherever the page is scrolled to; the page scrolls below it.
QWidget* RootView::detail() {
    auto* detail = new QWidget;
    auto* layout = new QVBoxLayout(detail);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_notice = style::label({}, style::Text::callout, style::Tone::secondary, true);
    m_notice->setObjectName(QStringLiteral("notice"));
    m_notice->setContentsMargins(margin, 12, margin, 12);
    m_notice->setAutoFillBackground(true);
    QPalette band = m_notice->palette();
    band.setColor(QPalette::Window, band.color(QPalette::Window).darker(104));
    m_notice->setPalette(band);
    accessibleRoles::markAsNotification(m_notice);
    layout->addWidget(m_notice);
    // What is running, named, on whichever page is shown.
    m_busyBand = new QWidget;
    auto* busyRow = new QHBoxLayout(m_busyBand);
    busyRow->setContentsMargins(margin, 8, margin, 8);
    auto* bar = new QProgressBar;
    bar->setRange(0, 0);
    bar->setMaximumSize(80, 8);
    bar->setTextVisible(false);
    m_busyText = style::label({}, style::Text::callout, style::Tone::secondary);
    m_busyText->setObjectName(QStringLiteral("activity"));
    busyRow->addWidget(bar);
    busyRow->addWidget(m_busyText, 1);
    m_busyBand->hide();
    layout->addWidget(m_busyBand);
    m_scroll = new QScrollArea;
    auto* scroll = m_scroll;
    scroll->setFrameShape(QFrame::NoFrame);
    // Not a Tab stop of its own: it scrolls to whichever control Tab reaches.
    scroll->setFocusPolicy(Qt::NoFocus);
    scroll->setWidgetResizable(true);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    auto* canvas = new QWidget;
    auto* row = new QHBoxLayout(canvas);
    row->setContentsMargins(0, 0, 0, 0);
    auto* column = new QWidget;
    column->setMaximumWidth(contentWidth + 2 * margin);
    column->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    auto* stack = new QVBoxLayout(column);
    stack->setContentsMargins(margin, margin, margin, margin);
    stack->setSpacing(24);
    m_pageHolder = new QVBoxLayout;
    m_pageHolder->setContentsMargins(0, 0, 0, 0);
    stack->addLayout(m_pageHolder);
    stack->addStretch(1);
    row->addWidget(column, 1);
    row->addStretch(0);
    scroll->setWidget(canvas);
    // Whichever way focus arrives (Tab from the sidebar, a shortcut, a page shown), the control
    // that has it is scrolled into view.
    connect(qApp, &QApplication::focusChanged, scroll, [scroll](QWidget*, QWidget* now) {
        if (now && scroll->widget()->isAncestorOf(now)) scroll->ensureWidgetVisible(now);
    });
    layout->addWidget(scroll, 1);
    return detail;
}

void RootView::select(Panel panel) {
    m_panel = panel;
    const int row =
        static_cast<int>(std::find(allPanels.begin(), allPanels.end(), panel) - allPanels.begin());
    if (m_panels->currentRow() != row) {
        m_panelChosenHere = true;
        m_panels->setCurrentRow(row);
        m_panelChosenHere = false;
    }
    showPage();
}

// Every selection makes the page anew, so a page's own fields start from their presets. Focus
// then goes to the new page's first field, so it never lands at random; a page chosen with the
// keyboard in the sidebar leaves focus in the sidebar, so the arrows keep moving through it.
void RootView::showPage() {
    const bool keepFocus = m_panelChosenInSidebar;
    if (m_page) {
        m_pageHolder->removeWidget(m_page);
        m_page->hide();
        m_page->deleteLater();  // it may be the sender of the signal that got us here
    }
    m_pageIsWelcome = false;
    switch (m_panel) {
        case Panel::overview:
            m_pageIsWelcome = !m_station.workspace().has_value();
            m_page = m_pageIsWelcome ? static_cast<QWidget*>(new WelcomeView(m_station))
                                     : static_cast<QWidget*>(new OverviewView(m_station));
            break;
        case Panel::knowledge:
            m_page = new KnowledgeView(m_station);
            break;
        case Panel::models:
            m_page = new ModelsView(m_station);
            break;
        case Panel::services:
            m_page = new ServiceView(m_station);
            break;
        case Panel::opening:
            m_page = new ProgressViewPage(m_station);
            break;
        case Panel::about:
            m_page = new AboutView(m_station);
            break;
    }
    m_pageHolder->addWidget(m_page);
    m_page->show();
    if (!keepFocus) focusFirstField(m_page);
    // A page opens at its top, title in view, unless its first field lies below the fold (a
    // small screen): then the field stays in view.
    QTimer::singleShot(0, m_scroll, [scroll = m_scroll] {
        const QWidget* focus = QApplication::focusWidget();
        const bool fits = !focus || !scroll->widget()->isAncestorOf(focus) ||
                          focus->mapTo(scroll->widget(), QPoint(0, focus->height())).y() <=
                              scroll->viewport()->height();
        if (fits) scroll->verticalScrollBar()->setValue(0);
    });
}

void RootView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!m_shownOnce && m_page) focusFirstField(m_page);
    m_shownOnce = true;
}

void RootView::focusFirstField(QWidget* page) {
    QWidget* first = nullptr;
    for (auto* widget : page->findChildren<QWidget*>()) {
        if (!widget->isEnabled() || !widget->isVisibleTo(page) ||
            !(widget->focusPolicy() & Qt::TabFocus)) {
            continue;
        }
        const bool field = qobject_cast<QLineEdit*>(widget) ||
                           qobject_cast<QPlainTextEdit*>(widget) ||
                           qobject_cast<QComboBox*>(widget);
        if (field) return widget->setFocus(Qt::OtherFocusReason);
        if (!first) first = widget;
    }
    if (first) first->setFocus(Qt::OtherFocusReason);
}

QString RootView::statusLine() const {
    return m_statusText->text();
}

void RootView::syncStatus() {
    const bool running = m_station.running();
    m_statusText->setText(running ? tr("本机知识后台在线") : tr("本机知识后台未运行"));
    // Drawn only when the state changes (see ProgressViewPage::show).
    if (m_statusIconShowsRunning != running) {
        m_statusIconShowsRunning = running;
        m_statusIcon->setPixmap(
            style::circle(running, style::color(style::Tone::secondary)).pixmap(10, 10));
    }
    m_statusIcon->setAccessibleName(m_statusText->text());
}

void RootView::syncNotice() {
    const auto& notice = m_station.notice();
    const QString text = notice.value_or(QString());
    const bool changed = text != m_notice->text();
    m_notice->setText(text);
    m_notice->setVisible(notice.has_value());
    if (changed && notice) accessibleRoles::announce(m_notice);
}

void RootView::syncAlert() {
    const auto& error = m_station.error();
    if (!error) {
        if (m_alert) m_alert->close();
        return;
    }
    if (m_alert) {
        m_alert->setText(*error);
        return;
    }
    auto* alert =
        new QMessageBox(QMessageBox::Warning, tr("需要处理"), *error, QMessageBox::NoButton, this);
    alert->setTextFormat(Qt::PlainText);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    alert->addButton(tr("知道了"), QMessageBox::RejectRole);
    // However the alert goes (button, Escape, window close), the error is cleared and focus
    // goes back to where the user was.
    const QPointer<QWidget> focus = QApplication::focusWidget();
    connect(alert, &QMessageBox::finished, this, [this, focus] {
        m_alert.clear();
        m_station.dismissError();
        window()->activateWindow();
        if (focus && isAncestorOf(focus)) focus->setFocus(Qt::OtherFocusReason);
    });
    m_alert = alert;
    alert->open();
}

}  // namespace plovik
