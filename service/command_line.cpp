#include "command_line.hpp"

#include <filesystem>

namespace ostrak::service {

std::optional<CommandLine> parseCommandLine(const std::vector<std::string>& arguments) {
    if (arguments.empty()) return CommandLine{};
    if (arguments.size() != 3 || arguments[0] != "--root") return std::nullopt;
    if (arguments[2] != "--once" && arguments[2] != "--run") return std::nullopt;
    if (arguments[1].empty()) return std::nullopt;
    return CommandLine{std::filesystem::absolute(arguments[1]), arguments[2] == "--once"};
}

}  // namespace ostrak::service
