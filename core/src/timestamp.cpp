#include "ostrak/timestamp.hpp"

#include <chrono>

namespace ostrak {

namespace {
// Seconds from the Unix epoch to 2001-01-01T00:00:00Z.
constexpr double referenceOffset = 978307200.0;
}  // namespace

Timestamp Timestamp::now() {
    const auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
    return {std::chrono::duration<double>(sinceEpoch).count() - referenceOffset};
}

Timestamp Timestamp::distantPast() {
    return {-63114076800.0};
}

}  // namespace ostrak
