#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

struct USet;

namespace ostrak::text {

// Full Unicode case folding of UTF-8 text (so "STRASSE" and "straße" fold alike, while accents
// and widths stay distinct), with the Turkic dotted-i rule when the current locale asks for it.
// All folding data comes from ICU; the tables below are only derived from it at construction
// so that the long runs of text that folding leaves alone (most of CJK text) are copied whole.
class CaseFolder {
public:
    CaseFolder();
    // Replaces `out` with the folded form of `utf8`.
    void fold(std::string_view utf8, std::string& out) const;

private:
    void foldScalar(std::string_view utf8, std::size_t& offset, std::string& out) const;
    // How many leading bytes of `utf8` folding leaves alone (stops before a byte that may change).
    std::size_t unchangedRun(std::string_view utf8, std::size_t from) const;

    struct SetCloser {
        void operator()(USet* set) const;
    };

    std::uint32_t m_options = 0;
    // The scalars that full folding changes; null when ICU could not say (then all are folded).
    std::unique_ptr<USet, SetCloser> m_changing;
    // For each byte: whether a text starting a scalar with it may change when folded.
    std::array<bool, 256> m_mayChange{};
    // ASCII letters fold to ASCII (outside Turkic locales); 0 where ICU's result is not ASCII.
    std::array<char, 128> m_ascii{};
};

}  // namespace ostrak::text
