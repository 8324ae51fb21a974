// The model key in the keyring and the connection test.
#include <iostream>

#include "commands.hpp"
#include "station_actions.hpp"
#include "terminal.hpp"

namespace plovik::cli {

using namespace ostrak;

namespace {

ModelProvider providerNamed(std::string_view raw) {
    const auto provider = ModelProviders::fromRawValue(raw);
    if (!provider)
        throw UsageError("未知的服务商：" + std::string(raw) + "（可用 deepseek、zhipu）");
    return *provider;
}

std::string count(const std::optional<std::int64_t>& tokens) {
    return tokens ? std::to_string(*tokens) : "—";
}

}  // namespace

void setKey(const Arguments& arguments) {
    const ModelProvider provider = providerNamed(arguments.words.at(0));
    // Arguments of every process are readable by every account (ps, /proc/PID/cmdline).
    if (arguments.words.size() > 1) {
        throw UsageError("密钥不能写在命令行里（其他账户能看到命令行参数），请从标准输入提供。");
    }
    const Workspace workspace = openedWorkspace();
    const auto key =
        terminal::readSecret(std::string(ModelProviders::name(provider)) + " API Key：");
    if (!key) throw OstrakError("没有读到密钥：标准输入是空的。");
    ModelKeychain::save(*key, workspace.configuration().id, provider);
    tell(actions::text::keySaved);
}

void removeKey(const Arguments& arguments) {
    const ModelProvider provider = providerNamed(arguments.words.at(0));
    const Workspace workspace = openedWorkspace();
    ModelKeychain::remove(workspace.configuration().id, provider);
    tell(actions::text::keyRemoved);
}

void showKey(const Arguments& arguments) {
    const ModelProvider provider = providerNamed(arguments.words.at(0));
    const Workspace workspace = openedWorkspace();
    // The keyring's own refusal when nothing usable is stored (or it stays locked).
    ModelKeychain::read(workspace.configuration().id, provider);
    printLine(std::string(ModelProviders::name(provider)) + "：已保存在本机钥匙串");
}

void testConnection(const Arguments& arguments) {
    const ModelProvider provider = providerNamed(arguments.words.at(0));
    const std::string model =
        arguments.value("--model").value_or(std::string(ModelProviders::model(provider)));
    const Workspace workspace = openedWorkspace();
    ModelResult result;
    {
        const terminal::Progress progress("正在测试与 " +
                                          std::string(ModelProviders::name(provider)) + " 的连接…");
        result = ModelConnection::test(provider, model, workspace.configuration().id);
    }
    printLine(terminal::oneLine(result.reply));
    printLine("输入 Token：" + count(result.inputTokens));
    printLine("输出 Token：" + count(result.outputTokens));
}

}  // namespace plovik::cli
