#pragma once

#include <cstdint>
#include <limits>
#include <optional>

// The one rule for integers in every stored file, whichever parser read them: a number is an
// integer of the field's type when its value is a whole number in range, however it is
// written ("3", "3.0" and "3e0" alike); anything else is a format error.
namespace ostrak::json {

template <class Integer>
std::optional<Integer> exactInteger(std::int64_t number) {
    if (number < std::numeric_limits<Integer>::min() ||
        number > std::numeric_limits<Integer>::max()) {
        return std::nullopt;
    }
    return static_cast<Integer>(number);
}

template <class Integer>
std::optional<Integer> exactInteger(std::uint64_t number) {
    if (number > static_cast<std::uint64_t>(std::numeric_limits<Integer>::max())) {
        return std::nullopt;
    }
    return static_cast<Integer>(number);
}

template <class Integer>
std::optional<Integer> exactInteger(double number) {
    // In range before converting: converting an out-of-range double is undefined. The upper
    // bound max + 1 is a power of two, exact as a double.
    if (!(number >= static_cast<double>(std::numeric_limits<Integer>::min()) &&
          number < static_cast<double>(std::numeric_limits<Integer>::max()) + 1.0)) {
        return std::nullopt;
    }
    const auto converted = static_cast<Integer>(number);
    if (static_cast<double>(converted) != number) return std::nullopt;
    return converted;
}

}  // namespace ostrak::json
