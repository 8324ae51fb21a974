#include "ostrak/uuid.hpp"

#include <uuid/uuid.h>

namespace ostrak {

Uuid Uuid::random() {
    Uuid uuid;
    uuid_generate_random(uuid.m_bytes.data());
    return uuid;
}

std::optional<Uuid> Uuid::parse(std::string_view text) {
    if (text.size() != 36) return std::nullopt;
    const std::string terminated(text);
    Uuid uuid;
    if (uuid_parse(terminated.c_str(), uuid.m_bytes.data()) != 0) return std::nullopt;
    return uuid;
}

std::string Uuid::text() const {
    char buffer[37];
    uuid_unparse_upper(m_bytes.data(), buffer);
    return std::string(buffer, 36);
}

}  // namespace ostrak
