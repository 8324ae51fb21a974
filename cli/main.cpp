// plovik: every action of the management app from a terminal or a script.
#include <QCoreApplication>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "command_line.hpp"
#include "commands.hpp"
#include "ostrak/locale.hpp"
#include "ostrak/version.hpp"

using namespace plovik::cli;

namespace {

struct Command {
    std::string_view name;   // one or two words
    std::string_view usage;  // what follows "plovik "
    std::string_view summary;
    Grammar grammar;
    void (*run)(const Arguments&);
    std::string_view details = {};  // more for `plovik CMD --help`
};

const std::vector<Command>& commands() {
    static const std::vector<Command> all{
        {"status",
         "status [--json]",
         "工作站、后台、心跳、索引和密钥的状态",
         {{}, {"--json"}, 0, 0},
         showStatus},
        {"create",
         "create 名字 [--at 目录]",
         "建立本机工作站（默认 ~/Plovik）",
         {{"--at"}, {}, 1, 1},
         createStation},
        {"open", "open 目录", "打开已有工作站", {{}, {}, 1, 1}, openStation},
        {"rename", "rename 名字", "给工作站改名", {{}, {}, 1, 1}, renameStation},
        {"note add",
         "note add --title 标题 [文件]",
         "保存一篇笔记（正文来自文件或标准输入）",
         {{"--title"}, {}, 0, 1},
         addNote,
         "标题与工作站名字的规则相同：1–48 个字，不含换行或控制字符；\n"
         "文件为 - 或省略时从标准输入读取正文，正文须为 UTF-8，不超过 256 KB。"},
        {"search",
         "search 查询 [--json] [--limit 数量]",
         "查找笔记：每行一条（标题、路径、摘要）；默认前 50 项，--limit 0 为全部",
         {{"--limit"}, {"--json"}, 1, 1},
         searchNotes},
        {"index skipped",
         "index skipped [--json]",
         "列出未纳入索引的条目及原因（路径从知识库目录算起）",
         {{}, {"--json"}, 0, 0},
         listSkipped},
        {"key set",
         "key set deepseek|zhipu",
         "从标准输入读取密钥并存入钥匙串",
         {{}, {}, 1, 2},
         setKey},
        {"key remove", "key remove deepseek|zhipu", "从钥匙串移除密钥", {{}, {}, 1, 1}, removeKey},
        {"key status", "key status deepseek|zhipu", "是否已存有密钥", {{}, {}, 1, 1}, showKey},
        {"test",
         "test deepseek|zhipu [--model 模型]",
         "用已存的密钥测试连接",
         {{"--model"}, {}, 1, 1},
         testConnection},
        {"service enable", "service enable", "启用并启动后台服务", {{}, {}, 0, 0}, enableService},
        {"service disable",
         "service disable",
         "停止并停用后台服务",
         {{}, {}, 0, 0},
         disableService},
        {"service status", "service status", "后台服务的状态", {{}, {}, 0, 0}, showService},
        {"diagnostics",
         "diagnostics 文件",
         "导出脱敏的诊断文件",
         {{}, {}, 1, 1},
         exportDiagnostics},
    };
    return all;
}

void printHelp() {
    std::cout << "用法：plovik 命令 [参数]\n\n命令：\n";
    for (const Command& command : commands()) {
        std::cout << "  plovik " << command.usage << "\n      " << command.summary << '\n';
    }
    std::cout << "\n  plovik 命令 --help | plovik help 命令\n      该命令的用法\n"
                 "  plovik --help | --version | -V\n\n"
                 "成功时退出状态为 0，拒绝或失败为 1（原因在标准错误输出），用法错误为 2。\n"
                 "详见 man plovik。\n";
}

void printCommandHelp(const Command& command) {
    std::cout << "用法：plovik " << command.usage << "\n\n" << command.summary << '\n';
    if (!command.details.empty()) std::cout << command.details << '\n';
}

// Whether the words after a command's name ask for its help: "--help" or "-h" where it is not
// the value of an option ("--title --help" is a title) and not after "--".
bool asksForHelp(const std::vector<std::string>& rest, const Grammar& grammar) {
    for (std::size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] == "--") return false;
        const bool isValue = i > 0 && std::find(grammar.valued.begin(), grammar.valued.end(),
                                                rest[i - 1]) != grammar.valued.end();
        if ((rest[i] == "--help" || rest[i] == "-h") && !isValue) return true;
    }
    return false;
}

// The command the words name: two words first ("note add"), then one ("status").
const Command* commandNamed(const std::vector<std::string>& words, std::size_t& used) {
    for (const std::size_t length : {std::size_t{2}, std::size_t{1}}) {
        if (words.size() < length) continue;
        std::string name = words[0];
        if (length == 2) name += " " + words[1];
        for (const Command& command : commands()) {
            if (command.name == name) {
                used = length;
                return &command;
            }
        }
    }
    return nullptr;
}

// The usage lines of every command starting with the word, for a group named without its verb.
std::string usageOf(std::string_view word) {
    std::string lines;
    for (const Command& command : commands()) {
        if (command.name.substr(0, command.name.find(' ')) != word) continue;
        lines += std::string(lines.empty() ? "用法：" : "      ") + "plovik " +
                 std::string(command.usage) + "\n";
    }
    return lines.empty() ? "用法：plovik 命令 [参数]（plovik --help 列出所有命令）\n" : lines;
}

int usageError(const std::string& message, std::string_view word) {
    std::cerr << "plovik：" << message << '\n' << usageOf(word);
    return 2;
}

// Standard output that could not be written (a full disk, a closed pipe) is a failure.
int finished() {
    std::cout.flush();
    if (std::cout.good() && std::fflush(stdout) == 0) return 0;
    std::cerr << "无法写出结果。\n";
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    ostrak::locale::useUtf8CharacterType();
    const std::vector<std::string> words(argv + 1, argv + argc);
    // Qt sees no argument of ours: it would take some for itself ("-qmljsdebugger=…").
    int qtArgumentCount = 1;
    QCoreApplication application(qtArgumentCount, argv);
    if (words.empty()) return usageError("缺少命令。", {});
    std::size_t used = 0;
    if (words[0] == "--help" || words[0] == "-h" || words[0] == "help") {
        // "plovik help CMD" is "plovik CMD --help".
        const std::vector<std::string> named(words.begin() + 1, words.end());
        if (named.empty())
            printHelp();
        else if (const Command* command = commandNamed(named, used);
                 command && used == named.size())
            printCommandHelp(*command);
        else if (named.size() == 1 && usageOf(named[0]).starts_with("用法：plovik " + named[0]))
            std::cout << usageOf(named[0]);
        else
            return usageError("未知的命令：" + named[0], named[0]);
        return finished();
    }
    if (words[0] == "--version" || words[0] == "-V" || words[0] == "version") {
        std::cout << "plovik " << ostrak::projectVersion << '\n';
        return finished();
    }
    const Command* command = commandNamed(words, used);
    if (!command) {
        const bool group =
            words[0] == "note" || words[0] == "index" || words[0] == "key" || words[0] == "service";
        // "plovik key --help": the usage of the group's commands.
        if (group && words.size() == 2 && (words[1] == "--help" || words[1] == "-h")) {
            std::cout << usageOf(words[0]);
            return finished();
        }
        if (group && words.size() == 1) return usageError("缺少子命令。", words[0]);
        return usageError((group ? "未知的子命令：" + words[1] : "未知的命令：" + words[0]),
                          words[0]);
    }
    const std::vector<std::string> rest(words.begin() + static_cast<std::ptrdiff_t>(used),
                                        words.end());
    if (asksForHelp(rest, command->grammar)) {
        printCommandHelp(*command);
        return finished();
    }
    try {
        command->run(parse(rest, command->grammar));
    } catch (const UsageError& failure) {
        std::cerr << "plovik：" << failure.what() << "\n用法：plovik " << command->usage << '\n';
        return 2;
    } catch (const std::exception& failure) {
        std::cout.flush();
        std::cerr << ostrak::describeFailure(failure) << '\n';
        return 1;
    }
    return finished();
}
