#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// Sixteen bytes at a time, through the compiler's portable vector types (SSE2 on x86-64, NEON on
// ARM64), for the scans over whole knowledge bases: escaping, comparing and case folding.
namespace ostrak::blocks {

using Block = unsigned char __attribute__((vector_size(16)));

inline Block load(const char* bytes) {
    Block block;
    std::memcpy(&block, bytes, 16);
    return block;
}

// The index of the first byte of a 0x00/0xFF mask that is set; 16 when none is.
inline std::size_t firstSet(Block mask) {
    std::uint64_t halves[2];
    std::memcpy(halves, &mask, 16);
    if (halves[0] != 0) return static_cast<std::size_t>(__builtin_ctzll(halves[0])) / 8;
    if (halves[1] != 0) return 8 + static_cast<std::size_t>(__builtin_ctzll(halves[1])) / 8;
    return 16;
}

// The sum of the sixteen bytes of a block.
inline std::size_t sum(Block bytes) {
    std::uint64_t halves[2];
    std::memcpy(halves, &bytes, 16);
    std::size_t total = 0;
    for (std::uint64_t half : halves) {
        for (int byte = 0; byte < 8; ++byte) total += (half >> (8 * byte)) & 0xFF;
    }
    return total;
}

}  // namespace ostrak::blocks
