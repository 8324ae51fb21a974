#pragma once

#include <QLabel>
#include <QWidget>

namespace plovik {

// A name in a fixed 110-wide column and a selectable value that wraps beside it, top-aligned.
class DetailRow : public QWidget {
    Q_OBJECT
public:
    DetailRow(const QString& name, const QString& value, QWidget* parent = nullptr);
    void setValue(const QString& value);
    QString value() const { return m_value->text(); }

private:
    QLabel* m_value;
};

}  // namespace plovik
