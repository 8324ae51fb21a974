#pragma once

#include <cstdint>
#include <string>

#include "files/streamed_write.hpp"
#include "ostrak/error.hpp"
#include "ostrak/safe_files.hpp"

namespace ostrak::SafeFiles {

// write() for a record whose reader takes at most `maximum` bytes: a record that would encode
// longer is refused with `refusal` before anything is written, so the stored file stays
// readable and the previous one stays in place.
template <class Record>
void writeWithinLimit(const Record& record, const Path& destination, bool exclusive,
                      std::int64_t maximum, const std::string& refusal,
                      Flush flush = Flush::always) {
    const Bytes encoded = JsonCodec<Record>::encode(record);
    if (static_cast<std::int64_t>(encoded.size()) > maximum) throw OstrakError(refusal);
    writeStreamed(
        destination, exclusive, [&](const ChunkWriter& write) { write(encoded); }, maximum, flush);
}

}  // namespace ostrak::SafeFiles
