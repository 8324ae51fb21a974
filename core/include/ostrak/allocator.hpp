#pragma once

#include <malloc.h>

// The one process-wide malloc setting of the service (and of the benchmark's "tuned" line that
// measures it). The core's own speed does not depend on it: a program that sets nothing reads
// and rebuilds the index as fast. Called first thing in main.
namespace ostrak::allocator {

// Passes never overlap, so one arena serves every thread: the memory one pass frees is reused by
// the next instead of doubling the peak.
inline void useOneArena() {
    mallopt(M_ARENA_MAX, 1);
}

}  // namespace ostrak::allocator
