#include <nlohmann/json.hpp>

#include "ostrak/error.hpp"
#include "ostrak/models.hpp"
#include "text/text.hpp"

namespace ostrak {

namespace {

constexpr std::size_t maximumBody = 1048576;
constexpr std::size_t maximumReply = 500;
// 500 characters can be any number of bytes (combining marks stack without end): the reply is
// also cut at a scalar boundary within this many bytes.
constexpr std::size_t maximumReplyBytes = 16384;

std::string_view withinBytes(std::string_view utf8, std::size_t maximum) {
    if (utf8.size() <= maximum) return utf8;
    std::size_t end = maximum;
    while (end > 0 && (static_cast<unsigned char>(utf8[end]) & 0xC0) == 0x80) --end;
    return utf8.substr(0, end);
}
const std::string noValidAnswer = "服务没有返回有效回答，连接尚未通过验证。";

// A JSON number that is an integer, or a float that converts to one without loss.
std::optional<std::int64_t> exactInteger(const nlohmann::json& value) {
    if (value.is_number_integer() && !value.is_number_unsigned()) return value.get<std::int64_t>();
    if (value.is_number_unsigned()) {
        const auto number = value.get<std::uint64_t>();
        if (number <= static_cast<std::uint64_t>(INT64_MAX))
            return static_cast<std::int64_t>(number);
        return std::nullopt;
    }
    if (value.is_number_float()) {
        const double number = value.get<double>();
        if (number >= -9.2e18 && number <= 9.2e18 &&
            static_cast<double>(static_cast<std::int64_t>(number)) == number) {
            return static_cast<std::int64_t>(number);
        }
    }
    return std::nullopt;
}

std::optional<std::int64_t> usageCount(const nlohmann::json& usage, const char* key) {
    const auto found = usage.find(key);
    return found == usage.end() ? std::nullopt : exactInteger(*found);
}

}  // namespace

ModelResult ModelResult::decode(const Bytes& body) {
    if (body.size() > maximumBody) throw OstrakError(noValidAnswer);
    const auto answer = nlohmann::json::parse(body, nullptr, false);
    if (answer.is_discarded() || !answer.is_object()) throw OstrakError(noValidAnswer);
    const auto choices = answer.find("choices");
    if (choices == answer.end() || !choices->is_array() || choices->empty()) {
        throw OstrakError(noValidAnswer);
    }
    for (const auto& choice : *choices) {
        if (!choice.is_object()) throw OstrakError(noValidAnswer);
    }
    const auto message = choices->front().find("message");
    if (message == choices->front().end() || !message->is_object())
        throw OstrakError(noValidAnswer);
    const auto content = message->find("content");
    if (content == message->end() || !content->is_string()) throw OstrakError(noValidAnswer);
    const auto& reply = content->get_ref<const std::string&>();
    if (text::trimmed(reply).empty()) throw OstrakError(noValidAnswer);

    ModelResult result;
    result.reply =
        std::string(withinBytes(text::firstGraphemes(reply, maximumReply), maximumReplyBytes));
    if (const auto usage = answer.find("usage"); usage != answer.end() && usage->is_object()) {
        result.inputTokens = usageCount(*usage, "prompt_tokens");
        result.outputTokens = usageCount(*usage, "completion_tokens");
    }
    return result;
}

}  // namespace ostrak
