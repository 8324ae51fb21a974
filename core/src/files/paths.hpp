#pragma once

#include <sys/stat.h>

#include <cerrno>

#include "ostrak/types.hpp"

namespace ostrak::paths {

// Resolves "." and ".." textually (links are not followed) and drops a trailing "/".
inline Path standardized(const Path& path) {
    std::string text = path.lexically_normal().native();
    while (text.size() > 1 && text.back() == '/') text.pop_back();
    return Path(std::move(text));
}

// Whether nothing stands at the path because it, or one of the folders above it, does not
// exist (links are not followed).
inline bool isMissing(const Path& path) {
    struct stat status;
    return ::lstat(path.c_str(), &status) != 0 && errno == ENOENT;
}

}  // namespace ostrak::paths
