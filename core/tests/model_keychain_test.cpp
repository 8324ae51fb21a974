// API keys in a real Secret Service: scripts/test starts a private D-Bus session with an
// unlocked gnome-keyring in the temporary home and says so in OSTRAK_TEST_PRIVATE_KEYRING.
// Without it these tests are skipped, so they never touch a real user's keyring.
#include <gtest/gtest.h>

#include <cstdlib>

#include "ostrak/core.hpp"
#include "test_messages.hpp"

namespace ostrak {
namespace {

const std::string invalidKey = "API Key 格式不正确。";
const std::string keyMessage = "请先保存 API Key，并允许访问本机钥匙串。";

class Keychain : public ::testing::Test {
protected:
    void SetUp() override {
        const char* flag = std::getenv("OSTRAK_TEST_PRIVATE_KEYRING");
        if (flag == nullptr || std::string(flag) != "1") {
            const char* ci = std::getenv("CI");
            if (ci != nullptr && std::string(ci) == "true") {
                FAIL() << "scripts/test must provide a private Secret Service under CI";
            }
            GTEST_SKIP() << "no private Secret Service (scripts/test starts one)";
        }
    }
    void TearDown() override {
        for (const auto provider : ModelProviders::allCases) {
            try {
                ModelKeychain::remove(station, provider);
                ModelKeychain::remove(other, provider);
            } catch (...) {
            }
        }
    }
    Uuid station = Uuid::random();
    Uuid other = Uuid::random();
};

TEST_F(Keychain, StoresTheTrimmedKey) {
    ModelKeychain::save("  sk-abc123 def\n", station, ModelProvider::deepseek);
    EXPECT_EQ(ModelKeychain::read(station, ModelProvider::deepseek), "sk-abc123 def");
}

TEST_F(Keychain, ChecksTheKeyBeforeTouchingTheKeyring) {
    EXPECT_NO_THROW(ModelKeychain::save(std::string(8, 'k'), station, ModelProvider::zhipu));
    EXPECT_NO_THROW(ModelKeychain::save(std::string(4096, 'k'), station, ModelProvider::zhipu));
    EXPECT_EQ(ModelKeychain::read(station, ModelProvider::zhipu), std::string(4096, 'k'));
    for (const std::string& bad :
         {std::string(7, 'k'), std::string(4097, 'k'), std::string(""), std::string(" \n\t "),
          std::string("sk-abc\tdef"), std::string("sk-abc\ndef"), std::string("sk-abc\u200ddef"),
          std::string("sk-abc\xff\xfe"
                      "def")}) {
        EXPECT_EQ(messageOf([&] { ModelKeychain::save(bad, station, ModelProvider::zhipu); }),
                  invalidKey)
            << bad;
    }
    // The refused keys left the stored one alone.
    EXPECT_EQ(ModelKeychain::read(station, ModelProvider::zhipu), std::string(4096, 'k'));
    // Seven Chinese characters are 21 bytes: long enough.
    EXPECT_NO_THROW(ModelKeychain::save("密钥密钥密钥密", station, ModelProvider::zhipu));
}

TEST_F(Keychain, ReplacesAndKeepsKeysApart) {
    ModelKeychain::save("first-key-1", station, ModelProvider::deepseek);
    ModelKeychain::save("second-key-2", station, ModelProvider::deepseek);
    ModelKeychain::save("zhipu-key-3", station, ModelProvider::zhipu);
    ModelKeychain::save("other-key-4", other, ModelProvider::deepseek);
    EXPECT_EQ(ModelKeychain::read(station, ModelProvider::deepseek), "second-key-2");
    ModelKeychain::remove(station, ModelProvider::deepseek);
    EXPECT_EQ(messageOf([&] { ModelKeychain::read(station, ModelProvider::deepseek); }),
              keyMessage);
    EXPECT_EQ(ModelKeychain::read(station, ModelProvider::zhipu), "zhipu-key-3");
    EXPECT_EQ(ModelKeychain::read(other, ModelProvider::deepseek), "other-key-4");
}

TEST_F(Keychain, RemovingNothingSucceedsAndReadingNothingFails) {
    EXPECT_NO_THROW(ModelKeychain::remove(station, ModelProvider::zhipu));
    EXPECT_EQ(messageOf([&] { ModelKeychain::read(station, ModelProvider::zhipu); }), keyMessage);
}

}  // namespace
}  // namespace ostrak
