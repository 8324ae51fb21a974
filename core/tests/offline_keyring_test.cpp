// With no D-Bus session reachable (ctest points DBUS_SESSION_BUS_ADDRESS nowhere), every key
// operation fails at once with its own message.
#include "testing.hpp"

TEST(OfflineKeyring, EveryOperationFailsQuicklyWithItsMessage) {
    const Uuid station = Uuid::random();
    const auto started = std::chrono::steady_clock::now();
    EXPECT_MESSAGE("钥匙串未允许保存密钥。",
                   ModelKeychain::save("sk-valid-key", station, ModelProvider::deepseek));
    EXPECT_MESSAGE(expected::noKey, ModelKeychain::read(station, ModelProvider::deepseek));
    EXPECT_MESSAGE("钥匙串密钥未能删除。", ModelKeychain::remove(station, ModelProvider::deepseek));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
}
