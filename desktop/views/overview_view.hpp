#pragma once

#include "page.hpp"

class QLabel;
class QLineEdit;

namespace plovik {

class DetailRow;
class PageTitle;

// The home page once a workstation is open: its state, its folders, and its name.
class OverviewView : public Page {
    Q_OBJECT
public:
    explicit OverviewView(StationModel& station, QWidget* parent = nullptr);

protected:
    void sync() override;

private:
    std::optional<QString> folder(bool knowledge) const;

    PageTitle* m_title;
    DetailRow* m_service;
    DetailRow* m_indexed;
    QLabel* m_root;
    QLineEdit* m_name;
};

}  // namespace plovik
