#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "ostrak/types.hpp"

namespace ostrak {

// Facts about this computer, checked before a workstation is installed. Never fails.
struct EnvironmentReport {
    std::string operatingSystem;  // os-release PRETTY_NAME, " · Linux ", the kernel release
    std::string architecture;     // "x86-64", "ARM64", or the kernel's machine name
    std::optional<std::int64_t> availableBytes;  // of the nearest existing ancestor's volume
    bool isSupported = false;                    // Linux 5.10 or later on x86-64 or ARM64

    static EnvironmentReport inspect(const Path& location);
};

}  // namespace ostrak
