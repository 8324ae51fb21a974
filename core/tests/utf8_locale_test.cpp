// The character type a program starts with: UTF-8 whatever locale it was started in, and the
// user's other categories kept.
#include <langinfo.h>

#include <clocale>
#include <cstdlib>
#include <optional>

#include "ostrak/locale.hpp"
#include "testing.hpp"

namespace {

std::optional<std::string> variable(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::optional<std::string>(value) : std::nullopt;
}

void setVariable(const char* name, const std::optional<std::string>& value) {
    if (value) {
        ::setenv(name, value->c_str(), 1);
    } else {
        ::unsetenv(name);
    }
}

}  // namespace

TEST(Utf8Locale, TheCharacterTypeBecomesUtf8AndNothingElseChanges) {
    struct Case {
        std::optional<std::string> all, ctype, lang;  // as started
        // After: LC_CTYPE, the other categories (LC_MESSAGES, LC_PAPER, ...) and LC_ALL.
        std::optional<std::string> ctypeAfter, othersAfter, allAfter;
    };
    const std::vector<Case> cases{
        {{}, {}, {}, "C.UTF-8", {}, {}},                    // env -i, cron
        {"C", {}, "C.UTF-8", "C.UTF-8", "C", {}},           // LC_ALL=C hides LC_CTYPE: moved aside
        {"C", {}, "xx_NOWHERE.UTF-8", "C.UTF-8", "C", {}},  // ... to every other category
        {{}, "POSIX", {}, "C.UTF-8", {}, {}},               // a character type of its own
        {{}, {}, "C.UTF-8", {}, {}, {}},                    // UTF-8 already: left alone
        {"C.UTF-8", {}, "C", {}, {}, "C.UTF-8"},            // UTF-8 through LC_ALL: left alone
        {{}, {}, "xx_NOWHERE.UTF-8", "C.UTF-8", {}, {}},    // a locale the system lacks
    };
    const char* names[] = {"LC_ALL", "LC_CTYPE", "LANG", "LC_MESSAGES", "LC_PAPER"};
    std::vector<std::optional<std::string>> saved;
    for (const char* name : names) saved.push_back(variable(name));
    for (const Case& start : cases) {
        SCOPED_TRACE(start.all.value_or("-") + " " + start.ctype.value_or("-") + " " +
                     start.lang.value_or("-"));
        setVariable("LC_ALL", start.all);
        setVariable("LC_CTYPE", start.ctype);
        setVariable("LANG", start.lang);
        ::unsetenv("LC_MESSAGES");
        ::unsetenv("LC_PAPER");
        const bool settable = std::setlocale(LC_ALL, "") != nullptr;
        std::setlocale(LC_ALL, "C");
        ostrak::locale::useUtf8CharacterType();
        EXPECT_STREQ(nl_langinfo(CODESET), "UTF-8");
        EXPECT_EQ(variable("LC_CTYPE"), start.ctypeAfter ? start.ctypeAfter : start.ctype);
        EXPECT_EQ(variable("LC_MESSAGES"), start.othersAfter);
        EXPECT_EQ(variable("LC_PAPER"), start.othersAfter);
        EXPECT_EQ(variable("LC_ALL"), start.allAfter);
        // What Qt does first: the locale from the environment again, as settable as before (no
        // category left to fall back on a locale the system lacks), and still UTF-8.
        EXPECT_EQ(std::setlocale(LC_ALL, "") != nullptr, settable);
        EXPECT_STREQ(nl_langinfo(CODESET), "UTF-8");
    }
    for (std::size_t i = 0; i < std::size(names); ++i) setVariable(names[i], saved[i]);
    std::setlocale(LC_ALL, "C");
}
