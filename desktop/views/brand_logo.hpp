#pragma once

#include <QPixmap>

namespace plovik {

// The project's own logo, drawn rather than loaded, so it is there at any size: a blue rounded
// square with a white "P" and a green dot.
QPixmap brandLogo(int size);

}  // namespace plovik
