#pragma once

#include <QPointer>

#include "page.hpp"

class QLineEdit;
class QPlainTextEdit;
class QLabel;
class QProgressBar;
class QPushButton;

namespace plovik {

// Write a note and find it again; search the knowledge index. The note's title and body are
// the page's own fields; everything else goes through the model.
class KnowledgeView : public Page {
    Q_OBJECT
public:
    explicit KnowledgeView(StationModel& station, QWidget* parent = nullptr);

protected:
    void sync() override;

private:
    void save();
    void showResults();

    QLineEdit* m_title = nullptr;
    QPlainTextEdit* m_body = nullptr;
    QPushButton* m_save = nullptr;
    QLabel* m_size = nullptr;
    QLineEdit* m_query = nullptr;
    QPushButton* m_search = nullptr;
    QProgressBar* m_activity = nullptr;
    QPushButton* m_showSkipped = nullptr;  // shown while the index leaves entries out
    QVBoxLayout* m_results = nullptr;
    QPointer<QWidget> m_resultList;  // the results shown, rebuilt whole for each search
};

}  // namespace plovik
