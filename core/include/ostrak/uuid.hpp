#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace ostrak {

// A 128-bit identifier; its text is always the canonical upper-case 36-character form.
class Uuid {
public:
    Uuid() = default;  // the nil identifier, all zero
    static Uuid random();
    static std::optional<Uuid> parse(std::string_view text);  // either letter case
    std::string text() const;
    bool operator==(const Uuid&) const = default;

private:
    std::array<unsigned char, 16> m_bytes{};
};

}  // namespace ostrak
