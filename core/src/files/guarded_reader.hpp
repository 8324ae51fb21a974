#pragma once

#include <cstddef>
#include <cstdint>

#include "files/unique_fd.hpp"
#include "files/verified_directory.hpp"
#include "ostrak/types.hpp"

namespace ostrak::SafeFiles {

// The guarded read of one file, for callers that consume it piece by piece. Opening makes every
// check of readData: ancestors, no link as the last component, a regular file of the real user,
// at most `maximum` bytes by fstat (same messages). Reading hands out at most `maximum` + 1
// bytes in all; finish() then refuses a file that grew past `maximum`. The descriptor is
// closed when the reader goes.
class GuardedReader {
public:
    GuardedReader(const Path& path, std::int64_t maximum);
    // The same read of `name` inside an already verified folder.
    GuardedReader(const files::VerifiedDirectory& folder, std::string_view name,
                  std::int64_t maximum);

    std::int64_t size() const noexcept { return m_size; }
    int descriptor() const noexcept { return m_fd.get(); }
    // Up to `length` bytes into `buffer`; 0 at the end. A read failure is the platform's error.
    std::size_t read(char* buffer, std::size_t length);
    void finish() const;

private:
    void open(const files::VerifiedDirectory& folder, std::string_view name);

    UniqueFd m_fd;
    std::int64_t m_size = 0;
    std::int64_t m_maximum = 0;
    std::int64_t m_consumed = 0;
};

// The whole file of an opened reader (readData's result), with the reader's checks and limit.
Bytes readAll(GuardedReader& reader);

}  // namespace ostrak::SafeFiles
