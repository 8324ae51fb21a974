// Switching a non-UTF-8 character type to C.UTF-8 before any library reads the locale.
#include <langinfo.h>

#include <array>
#include <clocale>
#include <cstdlib>
#include <string>
#include <string_view>

#include "ostrak/locale.hpp"

namespace ostrak::locale {

namespace {

constexpr const char* utf8Locale = "C.UTF-8";

// The categories LC_ALL would otherwise override, LC_CTYPE left out.
constexpr std::array otherCategories{
    "LC_COLLATE", "LC_MESSAGES", "LC_MONETARY",  "LC_NUMERIC",     "LC_TIME",          "LC_PAPER",
    "LC_NAME",    "LC_ADDRESS",  "LC_TELEPHONE", "LC_MEASUREMENT", "LC_IDENTIFICATION"};

bool characterTypeIsUtf8() {
    const std::string_view codeset = nl_langinfo(CODESET);
    return codeset == "UTF-8" || codeset == "utf8" || codeset == "utf-8";
}

}  // namespace

void useUtf8CharacterType() {
    if (std::setlocale(LC_CTYPE, "") != nullptr && characterTypeIsUtf8()) return;
    if (std::setlocale(LC_CTYPE, utf8Locale) == nullptr) return;
    // Libraries that set the locale again from the environment (Qt calls setlocale(LC_ALL, ""))
    // must find the same character type there. LC_ALL would hide LC_CTYPE, so its value moves
    // to the other categories, which keep their meaning.
    if (const char* all = std::getenv("LC_ALL"); all != nullptr && *all != '\0') {
        const std::string kept(all);
        for (const char* category : otherCategories) ::setenv(category, kept.c_str(), 1);
        ::unsetenv("LC_ALL");
    }
    ::setenv("LC_CTYPE", utf8Locale, 1);
}

}  // namespace ostrak::locale
