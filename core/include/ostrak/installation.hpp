#pragma once

#include "ostrak/types.hpp"

namespace ostrak {

class Workspace;

// The per-user pointer "installation.json" to the workstation last created or opened, so both
// programs reopen the same one. It lives in $XDG_DATA_HOME/PlovikWorkstation (or
// ~/.local/share/PlovikWorkstation) and is never deleted.
namespace Installation {

// $HOME when it is set and absolute, else the password database's entry for the real user;
// empty when neither is known.
Path homeDirectory();
Path supportDirectory();
// True when anything exists at the pointer's path; its content is only checked by load().
bool hasSavedWorkspace();
void save(const Workspace& workspace);
// The folder the pointer names, without opening it; refused as load() refuses a pointer that
// is missing or damaged.
Path savedRoot();
// Reopens the recorded workstation and refuses it if its identity changed.
Workspace load();
// Refuses, with the missing-folder message, a new workstation at the folder the pointer names
// while that folder is missing (a disk not plugged in): the new one would stand unseen in the
// empty mount point, and vanish from sight when the disk comes back.
void refuseReplacingMissing(const Path& location);

}  // namespace Installation
}  // namespace ostrak
