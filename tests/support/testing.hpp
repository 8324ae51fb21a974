#pragma once

// What every test of the core and the service starts from: Google Test, the core, temporary
// folders and workstations, child processes, and the texts the tests expect.
#include <gtest/gtest.h>

#include <functional>
#include <utility>

#include "child_process.hpp"
#include "ostrak/core.hpp"
#include "station.hpp"
#include "temp_dir.hpp"

namespace ostrak {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::ChildProcess;
using testing::entries;
using testing::environmentValue;
using testing::environmentVariable;
using testing::eventually;
using testing::modeOf;
using testing::readFile;
using testing::runningAsRoot;
using testing::runToEnd;
using testing::Station;
using testing::TempDir;
using testing::TempHome;
using testing::temporaries;
using testing::writeFile;

// What messageOf gives for an action that throws no OstrakError.
inline const std::string noError = "(no OstrakError)";

// The message of the OstrakError an action throws, or noError when it throws none.
inline std::string messageOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const OstrakError& error) {
        return error.message();
    }
    return noError;
}

// The texts several tests expect, exactly as a person reads them.
namespace expected {
inline const std::string link = "数据路径不能经过符号链接，请选择真实目录。";
inline const std::string unfit = "文件类型、归属或大小不符合工作站要求。";
inline const std::string unreadable = "文件无法读取，请检查目录和权限。";
inline const std::string format = "工作站文件格式有误。原始资料已保留，请勿重新初始化。";
inline const std::string notOwned = "工作站数据目录必须属于当前系统用户。";
inline const std::string occupied = "该目录已有资料。请打开已有工作站，或选择一个空目录。";
inline const std::string name = "名字请使用 1–48 个字，不含换行或控制字符。";
inline const std::string partlyUnreadable = "部分知识目录无法读取，索引未更新。";
inline const std::string noKey = "请先保存 API Key，并允许访问本机钥匙串。";
}  // namespace expected

}  // namespace ostrak

// Tests are written at file scope, in the core's terms (`testing` alone would be ambiguous with
// Google Test's: the helpers above are named without it).
using namespace ostrak;

// Expects the statements after `message` to throw the OstrakError with that message (noError:
// to throw none).
#define EXPECT_MESSAGE(message, ...) EXPECT_EQ(::ostrak::messageOf([&] { __VA_ARGS__; }), message)
