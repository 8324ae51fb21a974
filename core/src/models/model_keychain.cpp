// API keys in the Secret Service (GNOME Keyring, KeePassXC, KWallet) through libsecret: one
// item per station and provider, found by its "service" and "account" attributes. As every app
// on the desktop does, a key operation asks the keyring to create its default collection when
// the account has none yet and to unlock what is locked; the keyring shows its own prompt, so
// these calls block until the person answers it (callers run them off the interface thread).
// A dismissed prompt, or a keyring that cannot prompt (no display), is the operation's refusal.
#include <libsecret/secret.h>

#include <memory>

#include "ostrak/error.hpp"
#include "ostrak/models.hpp"
#include "text/text.hpp"

namespace ostrak::ModelKeychain {

namespace {

constexpr const char* serviceName = "cn.trenzo.workstation.models";
constexpr std::size_t minimumKeyBytes = 8;
constexpr std::size_t maximumKeyBytes = 4096;
const std::string invalidKey = "API Key 格式不正确。";
const std::string saveRefused = "钥匙串未允许保存密钥。";
const std::string updateRefused = "钥匙串未允许更新密钥。";
const std::string removeRefused = "钥匙串密钥未能删除。";
const std::string readRefused = "请先保存 API Key，并允许访问本机钥匙串。";
const std::string noSecretService =
    "未找到系统钥匙串服务，请安装并启动 GNOME Keyring、KeePassXC 或 KWallet。";
constexpr const char* defaultCollectionLabel = "Login";

const SecretSchema* schema() {
    // Items are matched by their attributes alone, whatever schema name another tool gave them.
    static const SecretSchema itemSchema = {serviceName,
                                            SECRET_SCHEMA_DONT_MATCH_NAME,
                                            {{"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                             {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                             {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING}},
                                            0,
                                            nullptr,
                                            nullptr,
                                            nullptr,
                                            nullptr,
                                            nullptr,
                                            nullptr,
                                            nullptr};
    return &itemSchema;
}

struct ObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
struct TableUnref {
    void operator()(GHashTable* table) const { g_hash_table_unref(table); }
};
struct ListFree {
    void operator()(GList* list) const { g_list_free_full(list, g_object_unref); }
};
struct ValueUnref {
    void operator()(SecretValue* value) const { secret_value_unref(value); }
};
template <class T>
using Object = std::unique_ptr<T, ObjectUnref>;
using Attributes = std::unique_ptr<GHashTable, TableUnref>;
using Items = std::unique_ptr<GList, ListFree>;
using Value = std::unique_ptr<SecretValue, ValueUnref>;

// Collects a GError and frees it; the operations only ask whether there was one.
class Failure {
public:
    ~Failure() {
        if (m_error) g_error_free(m_error);
    }
    GError** out() { return &m_error; }
    explicit operator bool() const { return m_error != nullptr; }

private:
    GError* m_error = nullptr;
};

Attributes attributesFor(const Uuid& station, ModelProvider provider) {
    const std::string account = station.text() + "." + std::string(ModelProviders::id(provider));
    return Attributes(secret_attributes_build(schema(), "service", serviceName, "account",
                                              account.c_str(), nullptr));
}

// The Secret Service of the session; no bus, or no provider on it, is a refusal of its own.
Object<SecretService> connect() {
    Failure failure;
    Object<SecretService> service(
        secret_service_get_sync(static_cast<SecretServiceFlags>(SECRET_SERVICE_OPEN_SESSION |
                                                                SECRET_SERVICE_LOAD_COLLECTIONS),
                                nullptr, failure.out()));
    if (failure || !service) throw OstrakError(noSecretService);
    return service;
}

// Every matching item; locked ones are unlocked through the keyring's prompt on the way (those
// whose prompt was dismissed stay locked).
enum class Reach { lookOnly, unlock, unlockAndLoadSecrets };

Items search(SecretService* service, GHashTable* attributes, Reach reach, bool& failed) {
    Failure failure;
    const auto flags = static_cast<SecretSearchFlags>(
        SECRET_SEARCH_ALL | (reach != Reach::lookOnly ? SECRET_SEARCH_UNLOCK : 0) |
        (reach == Reach::unlockAndLoadSecrets ? SECRET_SEARCH_LOAD_SECRETS : 0));
    GList* found =
        secret_service_search_sync(service, schema(), attributes, flags, nullptr, failure.out());
    failed = static_cast<bool>(failure);
    return Items(found);
}

bool anyLocked(const Items& items) {
    for (GList* entry = items.get(); entry != nullptr; entry = entry->next) {
        if (secret_item_get_locked(static_cast<SecretItem*>(entry->data))) return true;
    }
    return false;
}

// The default collection, ready to take an item: created when the account has none yet (the
// keyring asks for its password), unlocked when it is locked. False when it cannot be.
bool readyDefaultCollection(SecretService* service) {
    Failure failure;
    Object<SecretCollection> collection(secret_collection_for_alias_sync(
        service, SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, nullptr, failure.out()));
    if (failure) return false;
    if (!collection) {
        Failure creation;
        collection.reset(secret_collection_create_sync(
            service, defaultCollectionLabel, SECRET_COLLECTION_DEFAULT,
            SECRET_COLLECTION_CREATE_NONE, nullptr, creation.out()));
        if (creation || !collection) return false;
    }
    if (!secret_collection_get_locked(collection.get())) return true;
    GList one{collection.get(), nullptr, nullptr};
    Failure unlocking;
    GList* unlocked = nullptr;
    const gint count =
        secret_service_unlock_sync(service, &one, nullptr, &unlocked, unlocking.out());
    g_list_free_full(unlocked, g_object_unref);
    return !unlocking && count == 1;
}

std::string_view validKey(std::string_view key) {
    const std::string_view trimmed = text::trimmed(key);
    if (trimmed.size() < minimumKeyBytes || trimmed.size() > maximumKeyBytes ||
        text::hasControlOrFormat(trimmed)) {
        throw OstrakError(invalidKey);
    }
    return trimmed;
}

}  // namespace

void save(std::string_view key, const Uuid& station, ModelProvider provider) {
    const std::string trimmed(validKey(key));
    const auto service = connect();
    const auto attributes = attributesFor(station, provider);
    bool searchFailed = false;
    const Items existing = search(service.get(), attributes.get(), Reach::unlock, searchFailed);
    const std::string& refused = existing ? updateRefused : saveRefused;
    // A locked item would survive beside the new one and keep answering with the old key.
    if (searchFailed || anyLocked(existing) || !readyDefaultCollection(service.get())) {
        throw OstrakError(refused);
    }

    const std::string label =
        "plovik API Key (" + std::string(ModelProviders::name(provider)) + ")";
    const Value value(
        secret_value_new(trimmed.data(), static_cast<gssize>(trimmed.size()), "text/plain"));
    Failure failure;
    // Storing with the same attributes replaces the item already there.
    const bool stored = secret_service_store_sync(service.get(), schema(), attributes.get(),
                                                  SECRET_COLLECTION_DEFAULT, label.c_str(),
                                                  value.get(), nullptr, failure.out());
    if (!stored || failure) throw OstrakError(refused);
}

std::string read(const Uuid& station, ModelProvider provider) {
    const auto service = connect();
    const auto attributes = attributesFor(station, provider);
    bool failed = false;
    const Items items =
        search(service.get(), attributes.get(), Reach::unlockAndLoadSecrets, failed);
    if (failed) throw OstrakError(readRefused);
    for (GList* entry = items.get(); entry != nullptr; entry = entry->next) {
        const Value secret(secret_item_get_secret(static_cast<SecretItem*>(entry->data)));
        if (!secret) continue;  // a locked item: its secret was not loaded
        gsize length = 0;
        const gchar* bytes = secret_value_get(secret.get(), &length);
        const std::string key(bytes, length);
        if (!text::isValidUtf8(key)) break;
        return key;
    }
    throw OstrakError(readRefused);
}

bool isStored(const Uuid& station, ModelProvider provider) {
    const auto service = connect();
    bool failed = false;
    const Items items =
        search(service.get(), attributesFor(station, provider).get(), Reach::lookOnly, failed);
    return !failed && items.get() != nullptr;
}

void remove(const Uuid& station, ModelProvider provider) {
    const auto service = connect();
    bool failed = false;
    const Items items =
        search(service.get(), attributesFor(station, provider).get(), Reach::unlock, failed);
    // The Secret Service skips a locked item without an error when asked to clear: refuse
    // rather than report a key removed that is still stored.
    if (failed || anyLocked(items)) throw OstrakError(removeRefused);
    // Nothing found is no failure: removing a key that is not there succeeds.
    for (GList* entry = items.get(); entry != nullptr; entry = entry->next) {
        Failure failure;
        if (!secret_item_delete_sync(static_cast<SecretItem*>(entry->data), nullptr,
                                     failure.out()) ||
            failure) {
            throw OstrakError(removeRefused);
        }
    }
}

}  // namespace ostrak::ModelKeychain
