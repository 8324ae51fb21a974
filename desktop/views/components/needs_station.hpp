#pragma once

#include <QWidget>

namespace plovik {

// Stands in for a page that needs an open workstation.
class NeedsStation : public QWidget {
    Q_OBJECT
public:
    explicit NeedsStation(QWidget* parent = nullptr);
};

}  // namespace plovik
