#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

#include "ostrak/types.hpp"

namespace ostrak::SafeFiles {

using ChunkWriter = std::function<void(std::string_view)>;

// Whether a write is flushed to the disk (the file, then its folder) before and after it is
// published. Only a liveness signal, whose loss in a crash tells the truth (the writer is
// gone), is published without: the heartbeat, rewritten every five seconds.
enum class Flush { always, never };

// writeData for content produced piece by piece (the 16 MB index), so it never has to be held
// whole in memory. `produce` hands each piece to the writer it is given; the guarantees are
// writeData's: on any failure, the producer's exceptions included, the temporary file is gone
// and the destination untouched. Content over `maximum` bytes is refused with the read-limit
// message before anything is published, so a writer never stores what its reader refuses.
void writeStreamed(const Path& destination, bool exclusive,
                   const std::function<void(const ChunkWriter&)>& produce, std::int64_t maximum,
                   Flush flush = Flush::always);

}  // namespace ostrak::SafeFiles
