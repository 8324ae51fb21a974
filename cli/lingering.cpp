#include "lingering.hpp"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string_view>

namespace plovik::cli {

namespace {

bool isSet(const char* variable) {
    const char* value = std::getenv(variable);
    return value != nullptr && *value != '\0';
}

}  // namespace

Lingering Lingering::ofThisAccount() {
    Lingering lingering;
    if (const passwd* account = ::getpwuid(::getuid())) lingering.user = account->pw_name;
    std::error_code ignored;
    // logind keeps one marker file per lingering account.
    lingering.enabled =
        !lingering.user.empty() &&
        std::filesystem::exists("/var/lib/systemd/linger/" + lingering.user, ignored);
    const char* type = std::getenv("XDG_SESSION_TYPE");
    lingering.graphicalSession = isSet("DISPLAY") || isSet("WAYLAND_DISPLAY") ||
                                 (type != nullptr && (std::string_view(type) == "x11" ||
                                                      std::string_view(type) == "wayland"));
    return lingering;
}

std::optional<std::string> Lingering::hint() const {
    if (enabled || graphicalSession) return std::nullopt;
    return "提示：退出登录后后台会随之停止；要让它一直运行，请执行 loginctl enable-linger " +
           (user.empty() ? std::string("用户名") : user) + "。";
}

}  // namespace plovik::cli
