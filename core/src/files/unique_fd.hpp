#pragma once

#include <unistd.h>

#include <utility>

namespace ostrak {

// Sole owner of one file descriptor; closes it once. Ownership moves explicitly.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int descriptor) noexcept : m_descriptor(descriptor) {}
    UniqueFd(UniqueFd&& other) noexcept : m_descriptor(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { reset(); }

    int get() const noexcept { return m_descriptor; }
    explicit operator bool() const noexcept { return m_descriptor >= 0; }
    int release() noexcept { return std::exchange(m_descriptor, -1); }
    void reset(int descriptor = -1) noexcept {
        if (m_descriptor >= 0) ::close(m_descriptor);  // a close failure has nothing to undo
        m_descriptor = descriptor;
    }

private:
    int m_descriptor = -1;
};

}  // namespace ostrak
