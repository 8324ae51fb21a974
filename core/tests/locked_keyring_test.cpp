// A key whose keyring is locked: every operation refuses with its own message and the stored
// item stays. Runs in a keyring of its own (tests/support/own_keyring.sh), since it locks it.
#include <libsecret/secret.h>

#include "testing.hpp"

// Items of the station, locked ones included, counted without unlocking anything.
static int storedItems(SecretService* service, const Uuid& station) {
    GHashTable* attributes = g_hash_table_new(g_str_hash, g_str_equal);
    const std::string account = station.text() + ".deepseek";
    g_hash_table_insert(attributes, const_cast<char*>("service"),
                        const_cast<char*>("cn.trenzo.workstation.models"));
    g_hash_table_insert(attributes, const_cast<char*>("account"),
                        const_cast<char*>(account.c_str()));
    GList* items = secret_service_search_sync(service, nullptr, attributes, SECRET_SEARCH_ALL,
                                              nullptr, nullptr);
    g_hash_table_unref(attributes);
    const int count = static_cast<int>(g_list_length(items));
    g_list_free_full(items, g_object_unref);
    return count;
}

TEST(LockedKeyring, EveryOperationRefusesAndTheItemStays) {
    if (environmentValue("OSTRAK_TEST_OWN_KEYRING") != "1") GTEST_SKIP() << "own_keyring.sh";
    const Uuid station = Uuid::random();
    ModelKeychain::save("sk-old-key-123", station, ModelProvider::deepseek);

    SecretService* service =
        secret_service_get_sync(SECRET_SERVICE_LOAD_COLLECTIONS, nullptr, nullptr);
    ASSERT_NE(service, nullptr);
    SecretCollection* collection = secret_collection_for_alias_sync(
        service, SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, nullptr, nullptr);
    ASSERT_NE(collection, nullptr);
    GList* toLock = g_list_append(nullptr, collection);
    ASSERT_GE(secret_service_lock_sync(service, toLock, nullptr, nullptr, nullptr), 1);
    g_list_free(toLock);
    ASSERT_TRUE(secret_collection_get_locked(collection));

    EXPECT_MESSAGE(expected::noKey, ModelKeychain::read(station, ModelProvider::deepseek));
    EXPECT_MESSAGE("钥匙串未允许更新密钥。",
                   ModelKeychain::save("sk-new-key-456", station, ModelProvider::deepseek));
    EXPECT_MESSAGE("钥匙串密钥未能删除。", ModelKeychain::remove(station, ModelProvider::deepseek));
    EXPECT_EQ(storedItems(service, station), 1);

    g_object_unref(collection);
    g_object_unref(service);
}
