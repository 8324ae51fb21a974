#include "files/mapped_file.hpp"

#include <sys/mman.h>
#include <unistd.h>

#include "messages.hpp"
#include "ostrak/error.hpp"

namespace ostrak::files {

MappedFile::MappedFile(const SafeFiles::GuardedReader& reader)
    : m_size(static_cast<std::size_t>(reader.size())) {
    const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    m_length = (m_size + padding + page - 1) / page * page;
    // Zero pages first, the file over their start: what lies past its end reads as zeros.
    void* region = ::mmap(nullptr, m_length, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (region == MAP_FAILED) throw OstrakError(message::fileUnreadable);
    m_address = static_cast<char*>(region);
    if (m_size > 0 && ::mmap(region, m_size, PROT_READ, MAP_PRIVATE | MAP_FIXED | MAP_POPULATE,
                             reader.descriptor(), 0) == MAP_FAILED) {
        ::munmap(region, m_length);
        throw OstrakError(message::fileUnreadable);
    }
}

MappedFile::~MappedFile() {
    ::munmap(m_address, m_length);
}

}  // namespace ostrak::files
