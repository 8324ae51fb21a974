// With no D-Bus session reachable (ctest points DBUS_SESSION_BUS_ADDRESS nowhere), every key
// operation fails at once, saying that no keyring service was found.
#include "testing.hpp"

TEST(OfflineKeyring, EveryOperationFailsQuicklyWithItsMessage) {
    const Uuid station = Uuid::random();
    const auto started = std::chrono::steady_clock::now();
    const std::string noService =
        "未找到系统钥匙串服务，请安装并启动 GNOME Keyring、KeePassXC 或 KWallet。";
    EXPECT_MESSAGE(noService,
                   ModelKeychain::save("sk-valid-key", station, ModelProvider::deepseek));
    EXPECT_MESSAGE(noService, ModelKeychain::read(station, ModelProvider::deepseek));
    EXPECT_MESSAGE(noService, ModelKeychain::remove(station, ModelProvider::deepseek));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
}
