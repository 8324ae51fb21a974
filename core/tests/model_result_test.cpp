#include <gtest/gtest.h>

#include "ostrak/core.hpp"
#include "test_messages.hpp"

namespace ostrak {
namespace {

std::string answer(const std::string& content, const std::string& usage = "") {
    return R"({"choices":[{"message":{"role":"assistant","content":)" + content + "}}]" +
           (usage.empty() ? "" : ",\"usage\":" + usage) + "}";
}

// Token counts are taken only where they are integers; the reply keeps 500 characters with
// their leading spaces.
TEST(ModelResultDecode, ReadsReplyAndCounts) {
    using Counts = std::pair<std::optional<std::int64_t>, std::optional<std::int64_t>>;
    const std::pair<std::string, Counts> cases[] = {
        {R"({"prompt_tokens":12,"completion_tokens":5,"total_tokens":17})", {12, 5}},
        {R"({"prompt_tokens":3})", {3, std::nullopt}},
        {"", {std::nullopt, std::nullopt}},
        {R"({"prompt_tokens":"3","completion_tokens":2.5})", {std::nullopt, std::nullopt}}};
    for (const auto& [usage, counts] : cases) {
        const auto result = ModelResult::decode(answer("\"plovik连接成功\"", usage));
        EXPECT_EQ(result.reply, "plovik连接成功");
        EXPECT_EQ(Counts(result.inputTokens, result.outputTokens), counts) << usage;
    }
    std::string content = "  ";
    for (int i = 0; i < 598; ++i) content += "字";
    const auto result = ModelResult::decode(answer("\"" + content + "\""));
    EXPECT_EQ(result.reply, content.substr(0, 2 + 498 * 3));
}

TEST(ModelResultDecode, RefusesAnythingButAnAnswerOfAtMostOneMebibyte) {
    for (const std::string& body :
         {std::string(R"({"choices":[]})"), answer("null"), answer("\" \\n \""), answer("5"),
          std::string("not json"), std::string("[1]"), std::string(R"({"choices":[1]})"),
          std::string(R"({"choices":[{"message":"text"}]})"), std::string("")}) {
        EXPECT_EQ(messageOf([&] { ModelResult::decode(body); }),
                  "服务没有返回有效回答，连接尚未通过验证。")
            << body;
    }
    std::string huge = answer("\"ok\"");
    huge += std::string(1048577 - huge.size(), ' ');
    EXPECT_NE(messageOf([&] { ModelResult::decode(huge); }), noError);
    huge.pop_back();
    EXPECT_EQ(ModelResult::decode(huge).reply, "ok");
}

}  // namespace
}  // namespace ostrak
