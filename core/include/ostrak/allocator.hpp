#pragma once

#include <malloc.h>

// Process-wide malloc settings of the programs that rebuild and read the index (the service,
// the app and the benchmark that measures them), so they cannot drift apart. Called first thing
// in main.
namespace ostrak::allocator {

// Passes never overlap, so one arena serves every thread: the memory one pass frees is reused by
// the next instead of doubling the peak.
inline void useOneArena() {
    mallopt(M_ARENA_MAX, 1);
}

// The index (up to 100 MB) is read into one buffer: from the heap, its pages are reused from
// read to read instead of being mapped and faulted in afresh each time.
inline void keepLargeBuffersOnTheHeap() {
    mallopt(M_MMAP_THRESHOLD, 128 * 1024 * 1024);
}

}  // namespace ostrak::allocator
