#include "knowledge_view.hpp"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>

#include "page_title.hpp"
#include "skipped_entries_dialog.hpp"
#include "station_actions.hpp"
#include "style.hpp"
#include "surface.hpp"

namespace plovik {

namespace {

QWidget* resultEntry(StationModel& station, const ostrak::IndexedDocument& document) {
    auto* entry = new QWidget;
    auto* layout = new QVBoxLayout(entry);
    layout->setContentsMargins(0, 6, 0, 6);
    layout->setSpacing(6);
    auto* open = new QPushButton(style::buttonText(QString::fromStdString(document.title)));
    open->setFlat(true);
    open->setFont(style::font(style::Text::headline));
    open->setCursor(Qt::PointingHandCursor);
    open->setStyleSheet(QStringLiteral("text-align: left; color: palette(link); padding: 0;"));
    QObject::connect(open, &QPushButton::clicked, &station,
                     [&station, document] { station.openDocument(document); });
    auto* preview = style::label(QString::fromStdString(actions::preview(document.text)),
                                 style::Text::callout, style::Tone::secondary);
    // Whole lines only: the preview is short (200 characters at most), so it wraps to its
    // full height instead of being cut in the middle of a line.
    preview->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    open->setAccessibleDescription(preview->text());
    layout->addWidget(open, 0, Qt::AlignLeft);
    layout->addWidget(preview);
    return entry;
}

}  // namespace

KnowledgeView::KnowledgeView(StationModel& station, QWidget* parent) : Page(station, parent) {
    m_layout->addWidget(
        new PageTitle(tr("知识留在自己手里"), tr("先保存一篇原稿，再把它找回来。")));
    auto* content = addStationContent();

    auto* saving = new Surface(tr("保存原稿"));
    m_title = new QLineEdit(tr("我的第一篇笔记"));
    m_title->setPlaceholderText(tr("标题"));
    m_title->setAccessibleName(tr("标题"));
    m_body = new QPlainTextEdit;
    // About ten lines, and more when the window is tall: a note is the page's main text.
    m_body->setMinimumHeight(200);
    m_body->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    m_body->setAccessibleName(tr("笔记内容"));
    m_body->setTabChangesFocus(true);  // Tab leaves the body: a note needs no tab character
    connect(m_body, &QPlainTextEdit::textChanged, this, [this] { sync(); });
    auto* saveRow = new QHBoxLayout;
    m_save = new QPushButton(tr("保存并查回"));
    m_save->setDefault(true);
    m_save->setToolTip(tr("保存并查回（Ctrl+S）"));
    connect(m_save, &QPushButton::clicked, this, &KnowledgeView::save);
    auto* reveal = new QPushButton(tr("在文件管理器打开知识库"));
    connect(reveal, &QPushButton::clicked, this, [this] {
        const auto& workspace = m_station.workspace();
        m_station.openFolder(
            workspace ? std::optional(QString::fromStdString(workspace->knowledgeURL().native()))
                      : std::nullopt);
    });
    saveRow->addWidget(m_save);
    saveRow->addStretch();
    saveRow->addWidget(reveal);
    // Near the limit, how much of it the body takes; quiet until then.
    m_size = style::label({}, style::Text::caption, style::Tone::secondary);
    m_size->setObjectName(QStringLiteral("bodySize"));
    m_size->hide();
    saving->add(m_title);
    saving->add(m_body);
    saving->add(m_size);
    saving->add(saveRow);
    content->addWidget(saving);

    auto* searching = new Surface(tr("本地搜索"));
    auto* searchRow = new QHBoxLayout;
    m_query = new QLineEdit;
    m_query->setPlaceholderText(tr("搜索原稿内容"));
    m_query->setAccessibleName(tr("搜索原稿内容"));
    m_query->setToolTip(tr("搜索原稿内容（Ctrl+F）"));
    connect(m_query, &QLineEdit::textEdited, &m_station, &StationModel::setQuery);
    m_search = new QPushButton(tr("搜索"));
    connect(m_search, &QPushButton::clicked, &m_station, [this] { m_station.search(); });
    setDefaultButton(m_save, {m_title});
    setDefaultButton(m_search, {m_query});
    searchRow->addWidget(m_query, 1);
    searchRow->addWidget(m_search);
    searching->add(searchRow);
    m_activity = new QProgressBar;
    m_activity->setRange(0, 0);
    m_activity->setMaximumSize(120, 8);
    m_activity->setTextVisible(false);
    searching->add(m_activity);
    m_results = new QVBoxLayout;
    m_results->setSpacing(0);
    searching->add(m_results);
    m_showSkipped = new QPushButton(tr("查看未纳入索引的条目"));
    m_showSkipped->setVisible(false);
    connect(m_showSkipped, &QPushButton::clicked, this, [this] {
        m_station.listSkipped().then(this, [this](const StationModel::SkippedListing& skipped) {
            if (skipped.listed) showSkippedEntries(this, skipped.entries);
        });
    });
    auto* skippedRow = new QHBoxLayout;
    skippedRow->addWidget(m_showSkipped);
    skippedRow->addStretch();
    searching->add(skippedRow);
    searching->add(style::label(tr("开发版支持本工作站的 Markdown / TXT，最多 1,000 篇、正文合计 "
                                   "16 MB。外部 Obsidian 库导入与语义检索尚未开放。"),
                                style::Text::caption, style::Tone::secondary));
    content->addWidget(searching);

    connect(&m_station, &StationModel::documentsChanged, this, &KnowledgeView::showResults);
    showResults();
    // Ctrl+S saves the note being written, Ctrl+F goes to the search field.
    auto* saveShortcut = new QShortcut(QKeySequence::Save, this);
    connect(saveShortcut, &QShortcut::activated, this, [this] {
        if (m_save->isEnabled()) save();
    });
    auto* findShortcut = new QShortcut(QKeySequence::Find, this);
    connect(findShortcut, &QShortcut::activated, this, [this] {
        m_query->setFocus(Qt::ShortcutFocusReason);
        m_query->selectAll();
    });
    watch();
}

void KnowledgeView::save() {
    const QString title = m_title->text();
    const QString body = m_body->toPlainText();
    m_station.saveNote(title, body).then(this, [this, title, body](bool saved) {
        // Only what the user has not changed since pressing the button is cleared, so the next
        // note starts blank instead of silently taking the same title.
        if (!saved) return;
        if (m_body->toPlainText() == body) m_body->clear();
        if (m_title->text() == title) m_title->clear();
    });
}

// The results are built in a list that is not yet shown and put on the page whole: a widget
// added to a shown layout is shown later, one at a time, each time laying out every result
// before it again (50 results held the window for half a second).
void KnowledgeView::showResults() {
    delete m_resultList;
    m_resultList = new QWidget;
    auto* list = new QVBoxLayout(m_resultList);
    list->setContentsMargins(0, 0, 0, 0);
    list->setSpacing(0);
    for (const auto& document : m_station.documents())
        list->addWidget(resultEntry(m_station, document));
    if (!m_station.resultsNote().isEmpty()) {
        list->addWidget(
            style::label(m_station.resultsNote(), style::Text::callout, style::Tone::secondary));
    }
    m_results->addWidget(m_resultList);
    // Shown now rather than at the layout's next pass, so the results are in the Tab order as
    // soon as the search has ended.
    m_resultList->show();
}

void KnowledgeView::sync() {
    showStationContent();
    const bool busy = m_station.busy();
    m_title->setEnabled(!busy);
    m_body->setEnabled(!busy);
    const QString body = m_body->toPlainText();
    const auto bytes = static_cast<std::size_t>(body.toUtf8().size());
    const bool tooLong = bytes > ostrak::Workspace::maximumNoteBytes;
    m_save->setEnabled(!busy && !tooLong && !body.trimmed().isEmpty());
    m_save->setToolTip(tooLong ? tr("正文超过 256 KB，无法保存；请缩短后再保存。")
                               : tr("保存并查回（Ctrl+S）"));
    m_size->setVisible(bytes > ostrak::Workspace::maximumNoteBytes * 4 / 5);
    m_size->setText(tr("正文 %1 KB，上限 256 KB").arg((bytes + 1023) / 1024));
    showText(m_query, m_station.query());
    m_search->setEnabled(!busy && !m_station.query().isEmpty());
    m_showSkipped->setVisible(m_station.skippedCount() > 0);
    m_showSkipped->setEnabled(!busy);
    // Its own work only: a connection test elsewhere is not a search.
    const auto activity = m_station.activity();
    m_activity->setVisible(activity == StationModel::Activity::indexing ||
                           activity == StationModel::Activity::listing);
}

}  // namespace plovik
