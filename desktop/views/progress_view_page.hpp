#pragma once

#include <array>
#include <optional>

#include "page.hpp"

class QLabel;

namespace plovik {

// The provisioning checklist: four steps follow the model, five are never done yet.
class ProgressViewPage : public Page {
    Q_OBJECT
public:
    explicit ProgressViewPage(StationModel& station, QWidget* parent = nullptr);

    // The detail text and done flag of row `index` (0 to 8), as shown.
    QString detail(int index) const;
    bool done(int index) const;

protected:
    void sync() override;

private:
    struct Step {
        QLabel* detail = nullptr;
        QLabel* mark = nullptr;
        bool done = false;
        std::optional<bool> markShows;  // the state the mark was last drawn for
    };
    QWidget* step(const QString& number, const QString& title, Step& row);
    void show(int index, const QString& detail, bool done);

    std::array<Step, 9> m_steps;
};

}  // namespace plovik
