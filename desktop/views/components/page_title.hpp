#pragma once

#include <QLabel>
#include <QWidget>

namespace plovik {

// The header of every page: a large title and a subtitle that wraps, never cut off.
class PageTitle : public QWidget {
    Q_OBJECT
public:
    PageTitle(const QString& title, const QString& subtitle, QWidget* parent = nullptr);
    void setTitle(const QString& title);
    QString title() const;

private:
    QLabel* m_title;
};

}  // namespace plovik
