// API keys in a real Secret Service: scripts/test starts a private D-Bus session with an
// unlocked gnome-keyring in the temporary home and says so in OSTRAK_TEST_PRIVATE_KEYRING.
// Without it these tests are skipped, so they never touch a real user's keyring.
#include "testing.hpp"

class Keychain : public ::testing::Test {
protected:
    void SetUp() override {
        if (environmentValue("OSTRAK_TEST_PRIVATE_KEYRING") != "1") {
            if (environmentValue("CI") == "true") FAIL() << "no private keyring under CI";
            GTEST_SKIP() << "no private Secret Service (scripts/test starts one)";
        }
    }
    void TearDown() override {
        for (const auto provider : ModelProviders::allCases) {
            for (const auto& id : {station, other}) {
                try {
                    ModelKeychain::remove(id, provider);
                } catch (...) {
                }
            }
        }
    }
    Uuid station = Uuid::random();
    Uuid other = Uuid::random();
};

// Keys are 8 to 4,096 bytes of printable text, trimmed; a refused key leaves the stored one. A
// key is replaced in place and kept apart from other stations' and providers' keys; removing
// it twice succeeds.
TEST_F(Keychain, KeepsValidKeysApartAndRemovesThem) {
    for (const std::string& good : {std::string(8, 'k'), std::string("密钥密钥密钥密"),
                                    std::string("  sk-abc123 def\n"), std::string(4096, 'k')}) {
        EXPECT_NO_THROW(ModelKeychain::save(good, station, ModelProvider::zhipu)) << good;
    }
    for (const std::string& bad :
         {std::string(7, 'k'), std::string(4097, 'k'), std::string(" \n\t "),
          std::string("sk-abc\tdef"), std::string("sk-abc\u200ddef"),
          std::string("sk-abc\xff\xfe"
                      "def")}) {
        EXPECT_MESSAGE("API Key 格式不正确。",
                       ModelKeychain::save(bad, station, ModelProvider::zhipu))
            << bad;
    }
    EXPECT_EQ(ModelKeychain::read(station, ModelProvider::zhipu), std::string(4096, 'k'));
    ModelKeychain::save("  sk-abc123 def\n", station, ModelProvider::zhipu);
    ModelKeychain::save("deepseek-key", station, ModelProvider::deepseek);
    ModelKeychain::save("other-key-4", other, ModelProvider::zhipu);
    EXPECT_EQ(ModelKeychain::read(station, ModelProvider::zhipu), "sk-abc123 def");
    for (int twice = 0; twice < 2; ++twice) {
        ModelKeychain::remove(station, ModelProvider::zhipu);
        EXPECT_MESSAGE(expected::noKey, ModelKeychain::read(station, ModelProvider::zhipu));
    }
    EXPECT_EQ(ModelKeychain::read(station, ModelProvider::deepseek), "deepseek-key");
    EXPECT_EQ(ModelKeychain::read(other, ModelProvider::zhipu), "other-key-4");
}
