#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "ostrak/types.hpp"

namespace ostrak::testing {

// A private temporary directory, removed with everything in it (permissions restored first).
class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "ostrak-test-XXXXXX");
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        // The temporary area itself may be reached through a link; tests need a real path.
        m_path = std::filesystem::canonical(pattern);
    }
    ~TempDir() {
        makeRemovable(m_path);
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const Path& path() const noexcept { return m_path; }
    Path operator/(const std::string& relative) const { return m_path / relative; }

private:
    // Opens up every folder below `folder` (tests lock some) so that all of it can be removed.
    static void makeRemovable(const Path& folder) {
        ::chmod(folder.c_str(), 0700);
        std::error_code ignored;
        for (const auto& entry : std::filesystem::directory_iterator(folder, ignored)) {
            if (entry.is_directory(ignored) && !entry.is_symlink(ignored))
                makeRemovable(entry.path());
        }
    }

    Path m_path;
};

// The value of an environment variable, or nothing when it is not set.
inline std::optional<std::string> environmentVariable(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::optional<std::string>(value) : std::nullopt;
}

inline std::string environmentValue(const char* name) {
    return environmentVariable(name).value_or("");
}

// Points HOME and XDG_DATA_HOME at a fresh temporary home for the life of the object, so no
// test ever touches the real user's files.
class TempHome {
public:
    TempHome()
        : m_oldHome(environmentVariable("HOME")), m_oldData(environmentVariable("XDG_DATA_HOME")) {
        ::setenv("HOME", path().c_str(), 1);
        ::setenv("XDG_DATA_HOME", (path() / ".local/share").c_str(), 1);
    }
    ~TempHome() {
        restore("HOME", m_oldHome);
        restore("XDG_DATA_HOME", m_oldData);
    }
    const Path& path() const noexcept { return m_dir.path(); }

private:
    static void restore(const char* name, const std::optional<std::string>& value) {
        if (value) ::setenv(name, value->c_str(), 1);
        if (!value) ::unsetenv(name);
    }

    TempDir m_dir;
    std::optional<std::string> m_oldHome, m_oldData;
};

inline void writeFile(const Path& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out) throw std::runtime_error("cannot write " + path.native());
}

inline std::string readFile(const Path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

inline mode_t modeOf(const Path& path) {
    struct stat status {};
    ::lstat(path.c_str(), &status);
    return status.st_mode & 07777;
}

// Names in a directory, hidden ones included, sorted.
inline std::vector<std::string> entries(const Path& directory) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory))
        names.push_back(entry.path().filename().native());
    std::sort(names.begin(), names.end());
    return names;
}

inline bool runningAsRoot() {
    return ::geteuid() == 0;
}

}  // namespace ostrak::testing
