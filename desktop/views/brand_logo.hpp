#pragma once

#include <QIcon>
#include <QPixmap>

namespace plovik {

// The project's logo (packaging/cn.trenzo.workstation.svg, the installed icon too) at `size`
// points.
QPixmap brandLogo(int size);
// The same logo at the usual icon sizes, for the window.
QIcon brandIcon();

}  // namespace plovik
