#pragma once

#include <chrono>
#include <cstdint>
#include <new>

#include "ostrak/error.hpp"
#include "ostrak/types.hpp"

namespace ostrak {

// Every stored record specialises this with
//   static Record decode(const Bytes& json);   // throws anything on a missing or mistyped key
//   static Bytes encode(const Record& record);  // pretty-printed, keys sorted, "/" as "\/"
template <class Record>
struct JsonCodec;

// The guarded layer through which every stored file is read and written. Stateless.
//
// Guarantees: no path is followed through a symbolic link; reads are bounded before and while
// reading; a write goes to a temporary ".ostrak-<UUID>" file in the destination's directory,
// is flushed, and only then published with link (exclusive) or rename (replace). On any failure
// the temporary file is gone and the destination is untouched.
namespace SafeFiles {

// Refuses relative paths, "/", and a symbolic link at any prefix of the path (itself included).
void checkAncestors(const Path& path);
// Makes sure the path is a directory, creating it and missing parents with mode 0700.
void directory(const Path& path);
// Vouches for a workstation root: a real directory owned by the real user. With `initialize`
// its mode becomes 0700; without it, any group or other permission bit is refused.
void privateRoot(const Path& path, bool initialize);
// Reads a whole regular file owned by the real user, at most `maximum` bytes.
Bytes readData(const Path& path, std::int64_t maximum);
// Durably writes a whole file; `exclusive` never replaces an existing file.
void writeData(const Bytes& data, const Path& destination, bool exclusive);
// Removes the ".ostrak-" temporary files that a killed writer left in `folder`: regular files
// of the real user not modified for at least `minimumAge`, so a write in flight (younger) is
// never touched. Best effort: what cannot be listed or removed stays; nothing is reported.
void removeStaleTemporaries(const Path& folder, std::chrono::seconds minimumAge);

namespace detail {
[[noreturn]] void throwFormatError();
}

template <class Record>
Record read(const Path& path, std::int64_t maximum) {
    try {
        return JsonCodec<Record>::decode(readData(path, maximum));
    } catch (const OstrakError&) {
        throw;
    } catch (const std::bad_alloc&) {
        throw;
    } catch (...) {
        detail::throwFormatError();
    }
}

template <class Record>
void write(const Record& record, const Path& destination, bool exclusive) {
    writeData(JsonCodec<Record>::encode(record), destination, exclusive);
}

}  // namespace SafeFiles
}  // namespace ostrak
