#include "command_line.hpp"

#include <algorithm>

namespace plovik::cli {

namespace {

bool listed(const std::vector<std::string_view>& names, std::string_view name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

}  // namespace

std::optional<std::string> Arguments::value(std::string_view name) const {
    const auto found = values.find(name);
    if (found == values.end()) return std::nullopt;
    return found->second;
}

Arguments parse(std::span<const std::string> arguments, const Grammar& grammar) {
    Arguments parsed;
    bool optionsEnded = false;
    for (std::size_t at = 0; at < arguments.size(); ++at) {
        const std::string& argument = arguments[at];
        if (optionsEnded || !argument.starts_with("-") || argument == "-") {
            parsed.words.push_back(argument);
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
            continue;
        }
        const auto equals = argument.find('=');
        const std::string name = argument.substr(0, equals);
        if (listed(grammar.flags, name) && equals == std::string::npos) {
            parsed.flags.insert(name);
        } else if (listed(grammar.valued, name)) {
            if (equals != std::string::npos) {
                parsed.values[name] = argument.substr(equals + 1);
            } else if (at + 1 < arguments.size()) {
                parsed.values[name] = arguments[++at];
            } else {
                throw UsageError("选项 " + name + " 需要一个值。");
            }
        } else {
            throw UsageError("未知选项：" + argument);
        }
    }
    if (parsed.words.size() < grammar.minimumWords) throw UsageError("缺少参数。");
    if (parsed.words.size() > grammar.maximumWords) {
        throw UsageError("多余的参数：" + parsed.words[grammar.maximumWords]);
    }
    return parsed;
}

}  // namespace plovik::cli
