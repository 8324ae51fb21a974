#pragma once

#include <optional>
#include <string>
#include <vector>

#include "ostrak/types.hpp"

namespace ostrak::service {

// What the program was asked to do. No root means the workstation of the installation pointer.
struct CommandLine {
    std::optional<Path> root;
    bool once = false;
};

// Accepts exactly no arguments, or "--root PATH --run", or "--root PATH --once"; a relative
// PATH is taken from the current directory. Anything else yields nothing.
std::optional<CommandLine> parseCommandLine(const std::vector<std::string>& arguments);

}  // namespace ostrak::service
