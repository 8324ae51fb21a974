#pragma once

#include <cstdint>

#include "ostrak/types.hpp"

// Where a workstation keeps its system files, and how much of the index a reader takes: the one
// place every part of the core looks them up.
namespace ostrak::layout {

inline Path indexesFolder(const Path& root) {
    return root / "system" / "indexes";
}
inline Path stateFolder(const Path& root) {
    return root / "system" / "state";
}
inline Path indexFile(const Path& root) {
    return indexesFolder(root) / "knowledge.json";
}
// 100 MiB: the largest index a reader takes (a writer never stores a larger one).
inline constexpr std::int64_t indexReadLimit = 104857600;

}  // namespace ostrak::layout
