#include "temp_dir.hpp"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace ostrak::testing {

namespace {

std::optional<std::string> environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::optional<std::string>(value) : std::nullopt;
}

void restore(const char* name, const std::optional<std::string>& value) {
    if (value) {
        ::setenv(name, value->c_str(), 1);
    } else {
        ::unsetenv(name);
    }
}

}  // namespace

TempDir::TempDir() {
    const auto base = std::filesystem::temp_directory_path() / "ostrak-test-XXXXXX";
    std::string pattern = base.native();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    // The temporary area itself may be reached through a link on some systems; tests need a
    // real path, so resolve it once here.
    m_path = std::filesystem::canonical(pattern);
}

TempDir::~TempDir() {
    std::error_code ignored;
    for (auto it = std::filesystem::recursive_directory_iterator(
             m_path, std::filesystem::directory_options::skip_permission_denied, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
        if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
            ::chmod(it->path().c_str(), 0700);
        }
    }
    ::chmod(m_path.c_str(), 0700);
    // A second pass reaches folders that were unreadable during the first.
    for (auto it = std::filesystem::recursive_directory_iterator(m_path, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
        if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
            ::chmod(it->path().c_str(), 0700);
        }
    }
    std::filesystem::remove_all(m_path, ignored);
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
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        names.push_back(entry.path().filename().native());
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool runningAsRoot() {
    return ::geteuid() == 0;
}

}  // namespace ostrak::testing
