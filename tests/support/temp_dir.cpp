#include "temp_dir.hpp"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace ostrak::testing {

namespace fs = std::filesystem;

namespace {

std::optional<std::string> environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::optional<std::string>(value) : std::nullopt;
}

void restore(const char* name, const std::optional<std::string>& value) {
    if (value) ::setenv(name, value->c_str(), 1);
    if (!value) ::unsetenv(name);
}

// Opens up every folder below `folder` (tests lock some) so that all of it can be removed.
void makeRemovable(const Path& folder) {
    ::chmod(folder.c_str(), 0700);
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(folder, ignored)) {
        if (entry.is_directory(ignored) && !entry.is_symlink(ignored)) makeRemovable(entry.path());
    }
}

}  // namespace

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "ostrak-test-XXXXXX").native();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    // The temporary area itself may be reached through a link; tests need a real path.
    m_path = fs::canonical(pattern);
}

TempDir::~TempDir() {
    makeRemovable(m_path);
    std::error_code ignored;
    fs::remove_all(m_path, ignored);
}

TempHome::TempHome() : m_oldHome(environment("HOME")), m_oldData(environment("XDG_DATA_HOME")) {
    ::setenv("HOME", m_dir.path().c_str(), 1);
    ::setenv("XDG_DATA_HOME", (m_dir.path() / ".local/share").c_str(), 1);
}

TempHome::~TempHome() {
    restore("HOME", m_oldHome);
    restore("XDG_DATA_HOME", m_oldData);
}

void writeFile(const Path& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out) throw std::runtime_error("cannot write " + path.native());
}

std::string readFile(const Path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

mode_t modeOf(const Path& path) {
    struct stat status {};
    ::lstat(path.c_str(), &status);
    return status.st_mode & 07777;
}

std::vector<std::string> entries(const Path& directory) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(directory)) {
        names.push_back(entry.path().filename().native());
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool runningAsRoot() {
    return ::geteuid() == 0;
}

std::string environmentValue(const char* name) {
    return environment(name).value_or("");
}

}  // namespace ostrak::testing
