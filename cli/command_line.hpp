#pragma once

#include <map>
#include <optional>
#include <set>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace plovik::cli {

// A command line the program cannot act on: answered with status 2 and a usage line.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The words and options that follow a command's name.
struct Arguments {
    std::vector<std::string> words;
    std::map<std::string, std::string, std::less<>> values;  // --name VALUE
    std::set<std::string, std::less<>> flags;                // --name

    bool has(std::string_view flag) const { return flags.contains(flag); }
    std::optional<std::string> value(std::string_view name) const;
};

// What a command accepts besides its name.
struct Grammar {
    std::vector<std::string_view> valued;  // options that take a value: "--at"
    std::vector<std::string_view> flags;   // options that take none: "--json"
    std::size_t minimumWords = 0, maximumWords = 0;
};

// Reads `arguments` by `grammar`: "--name VALUE" and "--name=VALUE" alike, "--" ends the
// options. Throws UsageError for an unknown option, a missing value or a wrong count of words.
Arguments parse(std::span<const std::string> arguments, const Grammar& grammar);

}  // namespace plovik::cli
