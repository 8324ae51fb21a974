#pragma once

#include <cstddef>
#include <string_view>

#include "files/guarded_reader.hpp"

namespace ostrak::files {

// The whole file of an opened guarded reader, mapped read-only in one step (the pages come from
// the page cache, populated at once: nothing is copied, zeroed or faulted in page by page), with
// at least `padding` readable zero bytes after its end, so a JSON parser reads it in place. The
// mapping goes with the object. Its length is the reader's size (at most its maximum). The files
// it serves are replaced by rename, never rewritten in place: only their owner truncating one
// while it is mapped could end the process (SIGBUS). Throws OstrakError where the file system
// cannot map the file.
class MappedFile {
public:
    static constexpr std::size_t padding = 64;

    explicit MappedFile(const SafeFiles::GuardedReader& reader);
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    std::string_view bytes() const noexcept { return {m_address, m_size}; }
    // The readable length from the start: the size and the padding after it.
    std::size_t capacity() const noexcept { return m_length; }

private:
    char* m_address = nullptr;
    std::size_t m_size = 0;
    std::size_t m_length = 0;
};

}  // namespace ostrak::files
