#pragma once

#include <compare>

namespace ostrak {

// An absolute time as seconds since 2001-01-01T00:00:00Z, the form every stored date takes.
struct Timestamp {
    double seconds = 0;

    static Timestamp now();
    // Far enough in the past (year 1) that every freshness test judges it stale.
    static Timestamp distantPast();
    auto operator<=>(const Timestamp&) const = default;
};

}  // namespace ostrak
