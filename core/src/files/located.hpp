#pragma once

#include <optional>
#include <string>

#include "files/verified_directory.hpp"
#include "ostrak/types.hpp"

namespace ostrak::SafeFiles {

// The verified folder that holds `path` and the name of the path's last component in it.
struct Located {
    files::VerifiedDirectory folder;
    std::string name;
};

// Checks `path` as checkAncestors does (same refusals, the last component included) and returns
// its folder, or nothing when that folder does not exist (or is not a folder). Standardizes the
// path first.
std::optional<Located> locate(const Path& path);

}  // namespace ostrak::SafeFiles
