#pragma once

#include <QFrame>
#include <QVBoxLayout>

namespace plovik {

// A card: an optional headline over its content, padded by 22, on a rounded rectangle
// (radius 16) with a hairline outline. An empty title leaves no gap above the content.
class Surface : public QFrame {
    Q_OBJECT
public:
    explicit Surface(const QString& title, QWidget* parent = nullptr);
    // Where the content goes.
    QVBoxLayout* content() const { return m_content; }
    void add(QWidget* widget) { m_content->addWidget(widget); }
    void add(QLayout* layout) { m_content->addLayout(layout); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QVBoxLayout* m_content;
};

}  // namespace plovik
