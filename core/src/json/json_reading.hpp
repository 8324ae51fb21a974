#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>

#include "json/json_integers.hpp"
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
    std::optional<Integer> number;
    if (value.is_number_unsigned()) {
        number = exactInteger<Integer>(value.get<std::uint64_t>());
    } else if (value.is_number_integer()) {
        number = exactInteger<Integer>(value.get<std::int64_t>());
    } else if (value.is_number_float()) {
        number = exactInteger<Integer>(value.get<double>());
    }
    if (!number) throw DecodingError(std::string("mistyped ") + key);
    return *number;
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
