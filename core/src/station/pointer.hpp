#pragma once

#include "ostrak/types.hpp"

namespace ostrak::Installation {

// Whether the installation pointer to a workstation at `root` stays within what its reader
// accepts (a path near the system's limit, its "/" escaped, can be twice as long).
bool pointerFits(const Path& root);

}  // namespace ostrak::Installation
