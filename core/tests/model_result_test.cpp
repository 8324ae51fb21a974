#include <gtest/gtest.h>

#include "ostrak/core.hpp"
#include "test_messages.hpp"

namespace ostrak {
namespace {

const std::string noAnswer = "服务没有返回有效回答，连接尚未通过验证。";

std::string answer(const std::string& content, const std::string& usage = "") {
    return R"({"choices":[{"message":{"role":"assistant","content":)" + content + "}}]" +
           (usage.empty() ? "" : ",\"usage\":" + usage) + "}";
}

TEST(ModelResultDecode, ReadsReplyAndCounts) {
    const auto result = ModelResult::decode(answer(
        "\"plovik连接成功\"", R"({"prompt_tokens":12,"completion_tokens":5,"total_tokens":17})"));
    EXPECT_EQ(result.reply, "plovik连接成功");
    EXPECT_EQ(result.inputTokens, 12);
    EXPECT_EQ(result.outputTokens, 5);
    const auto partial = ModelResult::decode(answer("\"ok\"", R"({"prompt_tokens":3})"));
    EXPECT_EQ(partial.inputTokens, 3);
    EXPECT_FALSE(partial.outputTokens);
    const auto none = ModelResult::decode(answer("\"ok\""));
    EXPECT_FALSE(none.inputTokens);
    EXPECT_FALSE(none.outputTokens);
    const auto odd =
        ModelResult::decode(answer("\"ok\"", R"({"prompt_tokens":"3","completion_tokens":2.5})"));
    EXPECT_FALSE(odd.inputTokens);
    EXPECT_FALSE(odd.outputTokens);
}

TEST(ModelResultDecode, KeepsFiveHundredCharactersWithTheirSpaces) {
    std::string content = "  ";
    for (int i = 0; i < 598; ++i) content += "字";
    const auto result = ModelResult::decode(answer("\"" + content + "\""));
    EXPECT_EQ(result.reply.substr(0, 2), "  ");
    EXPECT_EQ(result.reply.size(), 2 + 498 * 3u);
}

TEST(ModelResultDecode, RefusesAnythingButAnAnswer) {
    for (const std::string& body :
         {std::string(R"({"choices":[]})"), answer("null"), answer("\" \\n \""), answer("5"),
          std::string("not json"), std::string("[1]"), std::string(R"({"choices":[1]})"),
          std::string(R"({"choices":[{"message":"text"}]})"), std::string("")}) {
        EXPECT_EQ(messageOf([&] { ModelResult::decode(body); }), noAnswer) << body;
    }
    std::string huge = answer("\"ok\"");
    huge += std::string(1048577 - huge.size(), ' ');
    EXPECT_EQ(messageOf([&] { ModelResult::decode(huge); }), noAnswer);
    huge.pop_back();
    EXPECT_EQ(ModelResult::decode(huge).reply, "ok");
}

}  // namespace
}  // namespace ostrak
