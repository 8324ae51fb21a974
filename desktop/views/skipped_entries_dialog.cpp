#include "skipped_entries_dialog.hpp"

#include <QDialog>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "station_actions.hpp"

namespace plovik {

void showSkippedEntries(QWidget* parent, const std::vector<ostrak::SkippedEntry>& entries) {
    auto* dialog = new QDialog(parent);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(QObject::tr("未纳入索引的条目"));
    dialog->resize(640, 420);
    auto* layout = new QVBoxLayout(dialog);
    auto* summary =
        new QLabel(entries.empty() ? QString::fromUtf8(actions::text::nothingSkipped)
                                   : QObject::tr("有 %1 项未纳入索引。路径从知识库目录算起。")
                                         .arg(static_cast<qlonglong>(entries.size())));
    summary->setWordWrap(true);
    layout->addWidget(summary);
    auto* list = new QTreeWidget;
    list->setColumnCount(2);
    list->setHeaderLabels({QObject::tr("路径"), QObject::tr("原因")});
    list->setRootIsDecorated(false);
    list->setAccessibleName(QObject::tr("未纳入索引的条目"));
    list->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    list->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    list->header()->setStretchLastSection(false);
    QList<QTreeWidgetItem*> items;
    for (const auto& entry : entries) {
        auto* item = new QTreeWidgetItem(
            {QString::fromStdString(entry.relativePath), QString::fromStdString(entry.reason)});
        item->setToolTip(0, item->text(0));
        items.append(item);
    }
    list->addTopLevelItems(items);
    list->setVisible(!entries.empty());
    layout->addWidget(list, 1);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    layout->addWidget(buttons);
    dialog->open();
}

}  // namespace plovik
