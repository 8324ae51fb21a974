#include "ostrak/environment.hpp"

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/utsname.h>

#include <charconv>
#include <fstream>
#include <limits>
#include <sstream>

#include "files/paths.hpp"
#include "station/environment_facts.hpp"

namespace ostrak {

namespace environment {

std::string architectureName(std::string_view machine) {
    if (machine == "x86_64") return "x86-64";
    if (machine == "aarch64" || machine == "arm64") return "ARM64";
    return std::string(machine);
}

bool kernelSupported(std::string_view release) {
    int major = 0, minor = 0;
    const char* end = release.data() + release.size();
    auto [afterMajor, majorError] = std::from_chars(release.data(), end, major);
    if (majorError != std::errc() || afterMajor == end || *afterMajor != '.') return false;
    auto [afterMinor, minorError] = std::from_chars(afterMajor + 1, end, minor);
    if (minorError != std::errc()) return false;
    return major > 5 || (major == 5 && minor >= 10);
}

bool isSupported(std::string_view release, std::string_view architecture) {
    return kernelSupported(release) && (architecture == "x86-64" || architecture == "ARM64");
}

std::string prettyName(std::string_view osRelease) {
    std::istringstream lines{std::string(osRelease)};
    for (std::string line; std::getline(lines, line);) {
        if (!line.starts_with("PRETTY_NAME=")) continue;
        std::string value = line.substr(12);
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front()) {
            value = value.substr(1, value.size() - 2);
        }
        if (!value.empty()) return value;
    }
    return "Linux";
}

std::string operatingSystem() {
    std::string osRelease;
    for (const char* file : {"/etc/os-release", "/usr/lib/os-release"}) {
        std::ifstream in(file);
        if (!in) continue;
        std::ostringstream content;
        content << in.rdbuf();
        osRelease = content.str();
        break;
    }
    utsname system{};
    ::uname(&system);
    return prettyName(osRelease) + " · Linux " + system.release;
}

}  // namespace environment

namespace {

// Nothing when a relative location cannot be resolved (the working directory is gone).
std::optional<Path> nearestExistingAncestor(const Path& location) {
    std::error_code error;
    const Path absolute = std::filesystem::absolute(location, error);
    if (error) return std::nullopt;
    Path current = paths::standardized(absolute);
    struct stat status;
    while (::stat(current.c_str(), &status) != 0 && current != "/" && current.has_parent_path() &&
           current != current.parent_path()) {
        current = current.parent_path();
    }
    return current;
}

std::optional<std::int64_t> freeBytes(const Path& path) {
    struct statvfs volume {};
    if (::statvfs(path.c_str(), &volume) != 0) return std::nullopt;
    constexpr auto largest = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    const std::uint64_t unit = volume.f_frsize == 0 ? 1 : volume.f_frsize;
    if (volume.f_bavail > largest / unit) return std::numeric_limits<std::int64_t>::max();
    return static_cast<std::int64_t>(volume.f_bavail * unit);
}

}  // namespace

EnvironmentReport EnvironmentReport::inspect(const Path& location) {
    utsname system{};
    ::uname(&system);
    EnvironmentReport report;
    report.operatingSystem = environment::operatingSystem();
    report.architecture = environment::architectureName(system.machine);
    if (const auto existing = nearestExistingAncestor(location)) {
        report.availableBytes = freeBytes(*existing);
    }
    report.isSupported = environment::isSupported(system.release, report.architecture);
    return report;
}

}  // namespace ostrak
