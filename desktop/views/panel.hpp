#pragma once

#include <QIcon>
#include <QString>

#include <array>

namespace plovik {

// The sidebar's panels, in order; each is identified by its title.
enum class Panel { overview, knowledge, models, services, opening, about };

inline constexpr std::array<Panel, 6> allPanels{Panel::overview, Panel::knowledge, Panel::models,
                                                Panel::services, Panel::opening,   Panel::about};

QString title(Panel panel);
QIcon icon(Panel panel);

}  // namespace plovik
