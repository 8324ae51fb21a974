#pragma once

#include <sys/stat.h>

#include <optional>
#include <string>
#include <vector>

#include "ostrak/types.hpp"

namespace ostrak::testing {

// A private temporary directory, removed with everything in it (permissions restored first).
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const Path& path() const noexcept { return m_path; }
    Path operator/(const std::string& relative) const { return m_path / relative; }

private:
    Path m_path;
};

// Points HOME and XDG_DATA_HOME at a fresh temporary home for the life of the object, so no
// test ever touches the real user's files.
class TempHome {
public:
    TempHome();
    ~TempHome();
    const Path& path() const noexcept { return m_dir.path(); }

private:
    TempDir m_dir;
    std::optional<std::string> m_oldHome, m_oldData;
};

void writeFile(const Path& path, const std::string& content);
std::string readFile(const Path& path);
mode_t modeOf(const Path& path);
// Names in a directory, hidden ones included, sorted.
std::vector<std::string> entries(const Path& directory);
bool runningAsRoot();
// The value of an environment variable, empty when it is not set.
std::string environmentValue(const char* name);

}  // namespace ostrak::testing
