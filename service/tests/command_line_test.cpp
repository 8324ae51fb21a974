#include <gtest/gtest.h>

#include <filesystem>

#include "command_line.hpp"

namespace ostrak::service {
namespace {

using Arguments = std::vector<std::string>;

TEST(CommandLine, AcceptsTheThreeFormsAndRefusesEverythingElse) {
    const auto none = parseCommandLine({});
    const auto run = parseCommandLine({"--root", "/data/station", "--run"});
    const auto once = parseCommandLine({"--root", "station", "--once"});
    ASSERT_TRUE(none && run && once);
    EXPECT_FALSE(none->root);
    EXPECT_EQ(run->root, "/data/station");
    EXPECT_FALSE(run->once);
    EXPECT_EQ(once->root, std::filesystem::current_path() / "station");
    EXPECT_TRUE(once->once);
    for (const Arguments& arguments :
         {Arguments{"--root"}, Arguments{"--root", "/x"}, Arguments{"--root", "/x", "--once", "y"},
          Arguments{"--root", "/x", "--twice"}, Arguments{"--once", "/x", "--root"},
          Arguments{"/x", "--root", "--once"}, Arguments{"--ROOT", "/x", "--once"},
          Arguments{"--root", "", "--once"}}) {
        EXPECT_FALSE(parseCommandLine(arguments)) << ::testing::PrintToString(arguments);
    }
}

}  // namespace
}  // namespace ostrak::service
