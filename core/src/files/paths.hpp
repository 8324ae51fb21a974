#pragma once

#include "ostrak/types.hpp"

namespace ostrak::paths {

// Resolves "." and ".." textually (links are not followed) and drops a trailing "/".
inline Path standardized(const Path& path) {
    std::string text = path.lexically_normal().native();
    while (text.size() > 1 && text.back() == '/') text.pop_back();
    return Path(std::move(text));
}

}  // namespace ostrak::paths
