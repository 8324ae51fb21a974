#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>

#include "ostrak/timestamp.hpp"
#include "ostrak/types.hpp"
#include "ostrak/uuid.hpp"

// Typed member access for decoding the small stored records. Unknown members are ignored; a
// missing or mistyped member throws, which the guarded reader turns into the format message.
namespace ostrak::json {

struct DecodingError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

inline nlohmann::json parseObject(const Bytes& bytes) {
    auto document = nlohmann::json::parse(bytes);
    if (!document.is_object()) throw DecodingError("not an object");
    return document;
}

inline const nlohmann::json& member(const nlohmann::json& object, const char* key) {
    const auto found = object.find(key);
    if (found == object.end()) throw DecodingError(std::string("missing ") + key);
    return *found;
}

inline std::string stringMember(const nlohmann::json& object, const char* key) {
    const auto& value = member(object, key);
    if (!value.is_string()) throw DecodingError(std::string("mistyped ") + key);
    return value.get<std::string>();
}

template <class Integer>
Integer integerMember(const nlohmann::json& object, const char* key) {
    const auto& value = member(object, key);
    if (value.is_number_integer() && !value.is_number_unsigned()) {
        const auto number = value.get<std::int64_t>();
        if (number >= std::numeric_limits<Integer>::min() &&
            number <= std::numeric_limits<Integer>::max()) {
            return static_cast<Integer>(number);
        }
    } else if (value.is_number_unsigned()) {
        const auto number = value.get<std::uint64_t>();
        if (number <= static_cast<std::uint64_t>(std::numeric_limits<Integer>::max())) {
            return static_cast<Integer>(number);
        }
    } else if (value.is_number_float()) {
        // In range before converting: converting an out-of-range double is undefined. The
        // upper bound max + 1 is a power of two, exact as a double.
        const double number = value.get<double>();
        if (number >= static_cast<double>(std::numeric_limits<Integer>::min()) &&
            number < static_cast<double>(std::numeric_limits<Integer>::max()) + 1.0) {
            const auto converted = static_cast<Integer>(number);
            if (static_cast<double>(converted) == number) return converted;
        }
    }
    throw DecodingError(std::string("mistyped ") + key);
}

inline Timestamp timestampMember(const nlohmann::json& object, const char* key) {
    const auto& value = member(object, key);
    if (!value.is_number()) throw DecodingError(std::string("mistyped ") + key);
    return {value.get<double>()};
}

inline Uuid uuidMember(const nlohmann::json& object, const char* key) {
    const auto parsed = Uuid::parse(stringMember(object, key));
    if (!parsed) throw DecodingError(std::string("mistyped ") + key);
    return *parsed;
}

}  // namespace ostrak::json
