#pragma once

#include "files/paths.hpp"
#include "messages.hpp"
#include "ostrak/error.hpp"

namespace ostrak {

// Refuses, naming the folder, a workstation whose folder is missing: a disk unplugged or a
// network location gone since it was opened. Checked before the work, so the refusal says the
// cause rather than which file could not be written.
inline void requirePresent(const Path& root) {
    if (paths::isMissing(root)) throw OstrakError(message::workstationMissing(root.native()));
}

}  // namespace ostrak
