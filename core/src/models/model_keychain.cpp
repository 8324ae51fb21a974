// API keys in the Secret Service (GNOME Keyring, KeePassXC, KWallet) through libsecret: one
// item per station and provider, found by its "service" and "account" attributes. As every app
// on the desktop does, a key operation asks the keyring to create its default collection when
// the account has none yet and to unlock what is locked; the keyring shows its own prompt, so
// these calls block until the person answers it (callers run them off the interface thread).
// A dismissed prompt, or a keyring that cannot prompt (no display), is the operation's refusal.
#include <memory>

#include "models/secret_functions.hpp"
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
    const SecretFunctions* secret;
    void operator()(gpointer object) const { secret->g_object_unref(object); }
};
struct TableUnref {
    const SecretFunctions* secret;
    void operator()(GHashTable* table) const { secret->g_hash_table_unref(table); }
};
struct ListFree {
    const SecretFunctions* secret;
    void operator()(GList* list) const { secret->g_list_free_full(list, secret->g_object_unref); }
};
struct ValueUnref {
    const SecretFunctions* secret;
    void operator()(SecretValue* value) const { secret->secret_value_unref(value); }
};
template <class T>
using Object = std::unique_ptr<T, ObjectUnref>;
using Attributes = std::unique_ptr<GHashTable, TableUnref>;
using Items = std::unique_ptr<GList, ListFree>;
using Value = std::unique_ptr<SecretValue, ValueUnref>;

// Collects a GError and frees it; the operations only ask whether there was one.
class Failure {
public:
    explicit Failure(const SecretFunctions& secret) : m_secret(secret) {}
    ~Failure() {
        if (m_error) m_secret.g_error_free(m_error);
    }
    Failure(const Failure&) = delete;
    Failure& operator=(const Failure&) = delete;
    GError** out() { return &m_error; }
    explicit operator bool() const { return m_error != nullptr; }

private:
    const SecretFunctions& m_secret;
    GError* m_error = nullptr;
};

// libsecret, loaded, and the Secret Service of the session, for one operation. No bus, or no
// provider on it, is a refusal of its own.
class Keyring {
public:
    // Refuses when libsecret is missing, before any keyring is asked.
    Keyring()
        : m_secret(std::make_unique<const SecretFunctions>()), m_service(connect(*m_secret)) {}

    const SecretFunctions& functions() const { return *m_secret; }
    SecretService* service() const { return m_service.get(); }

    Attributes attributesFor(const Uuid& station, ModelProvider provider) const {
        const std::string account =
            station.text() + "." + std::string(ModelProviders::id(provider));
        return Attributes(m_secret->secret_attributes_build(schema(), "service", serviceName,
                                                            "account", account.c_str(), nullptr),
                          {m_secret.get()});
    }

    // Every matching item, locked or not, without unlocking anything: a mere look never makes
    // the keyring show its prompt.
    Items search(GHashTable* attributes, bool& failed) const {
        Failure failure(*m_secret);
        GList* found = m_secret->secret_service_search_sync(
            service(), schema(), attributes, SECRET_SEARCH_ALL, nullptr, failure.out());
        failed = static_cast<bool>(failure);
        return Items(found, {m_secret.get()});
    }

    // Asks the keyring to unlock the objects (items or collections): it prompts for those that
    // are locked and answers at once for those that are open. The number it reports unlocked,
    // or -1 when the call failed; a dismissed prompt unlocks nothing.
    gint unlock(GList* objects) const {
        Failure failure(*m_secret);
        GList* unlocked = nullptr;
        const gint count = m_secret->secret_service_unlock_sync(service(), objects, nullptr,
                                                                &unlocked, failure.out());
        m_secret->g_list_free_full(unlocked, m_secret->g_object_unref);
        return failure ? -1 : count;
    }

    // The matching items unlocked, through the keyring's prompt where one is locked. Judged by
    // asking the service afresh: not by libsecret's kept Locked flags, which date from before
    // the prompt (libsecret 0.21.7 with gnome-keyring 48 still says "locked" after the person
    // has unlocked them), nor by the unlock call's count, which leaves out items whose
    // collection was open already when a prompt unlocked another.
    bool unlockAll(const Items& items, GHashTable* attributes) const {
        if (!items) return true;
        return unlock(items.get()) >= 0 && noneLocked(attributes);
    }

    // Whether the service, asked now, holds no matching item locked. Never prompts.
    bool noneLocked(GHashTable* attributes) const {
        Failure failure(*m_secret);
        gchar** unlocked = nullptr;
        gchar** locked = nullptr;
        const bool answered = m_secret->secret_service_search_for_dbus_paths_sync(
            service(), schema(), attributes, nullptr, &unlocked, &locked, failure.out());
        const bool none = answered && !failure && (locked == nullptr || *locked == nullptr);
        m_secret->g_strfreev(unlocked);
        m_secret->g_strfreev(locked);
        return none;
    }

    // The default collection, ready to take an item: created when the account has none yet
    // (the keyring asks for its password), unlocked when it is locked. False when it cannot be.
    bool readyDefaultCollection() const {
        Failure failure(*m_secret);
        Object<SecretCollection> collection(m_secret->secret_collection_for_alias_sync(
                                                service(), SECRET_COLLECTION_DEFAULT,
                                                SECRET_COLLECTION_NONE, nullptr, failure.out()),
                                            {m_secret.get()});
        if (failure) return false;
        if (!collection) {
            Failure creation(*m_secret);
            collection.reset(m_secret->secret_collection_create_sync(
                service(), defaultCollectionLabel, SECRET_COLLECTION_DEFAULT,
                SECRET_COLLECTION_CREATE_NONE, nullptr, creation.out()));
            if (creation || !collection) return false;
        }
        // One object asked for: the keyring's count answers for it (0 after a dismissed prompt).
        GList one{collection.get(), nullptr, nullptr};
        return unlock(&one) == 1;
    }

private:
    static Object<SecretService> connect(const SecretFunctions& secret) {
        Failure failure(secret);
        Object<SecretService> service(
            secret.secret_service_get_sync(
                static_cast<SecretServiceFlags>(SECRET_SERVICE_OPEN_SESSION |
                                                SECRET_SERVICE_LOAD_COLLECTIONS),
                nullptr, failure.out()),
            {&secret});
        if (failure || !service) throw OstrakError(noSecretService);
        return service;
    }

    std::unique_ptr<const SecretFunctions> m_secret;
    Object<SecretService> m_service;
};

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
    const Keyring keyring;
    const SecretFunctions& secret = keyring.functions();
    const auto attributes = keyring.attributesFor(station, provider);
    bool searchFailed = false;
    const Items existing = keyring.search(attributes.get(), searchFailed);
    const std::string& refused = existing ? updateRefused : saveRefused;
    // A locked item would survive beside the new one and keep answering with the old key.
    if (searchFailed || !keyring.unlockAll(existing, attributes.get()) ||
        !keyring.readyDefaultCollection()) {
        throw OstrakError(refused);
    }

    const std::string label =
        "plovik API Key (" + std::string(ModelProviders::name(provider)) + ")";
    const Value value(
        secret.secret_value_new(trimmed.data(), static_cast<gssize>(trimmed.size()), "text/plain"),
        {&secret});
    Failure failure(secret);
    // Storing with the same attributes replaces the item already there.
    const bool stored = secret.secret_service_store_sync(
        keyring.service(), schema(), attributes.get(), SECRET_COLLECTION_DEFAULT, label.c_str(),
        value.get(), nullptr, failure.out());
    if (!stored || failure) throw OstrakError(refused);
}

std::string read(const Uuid& station, ModelProvider provider) {
    const Keyring keyring;
    const SecretFunctions& secret = keyring.functions();
    bool failed = false;
    const auto attributes = keyring.attributesFor(station, provider);
    const Items items = keyring.search(attributes.get(), failed);
    if (failed || !keyring.unlockAll(items, attributes.get())) throw OstrakError(readRefused);
    for (GList* entry = items.get(); entry != nullptr; entry = entry->next) {
        // Loaded item by item: loading them together would skip any whose kept flag says locked.
        auto* item = static_cast<SecretItem*>(entry->data);
        Failure loading(secret);
        if (!secret.secret_item_load_secret_sync(item, nullptr, loading.out()) || loading) continue;
        const Value stored(secret.secret_item_get_secret(item), {&secret});
        if (!stored) continue;
        gsize length = 0;
        const gchar* bytes = secret.secret_value_get(stored.get(), &length);
        const std::string key(bytes, length);
        if (!text::isValidUtf8(key)) break;
        return key;
    }
    throw OstrakError(readRefused);
}

bool isStored(const Uuid& station, ModelProvider provider) {
    const Keyring keyring;
    bool failed = false;
    const Items items = keyring.search(keyring.attributesFor(station, provider).get(), failed);
    return !failed && items.get() != nullptr;
}

void remove(const Uuid& station, ModelProvider provider) {
    const Keyring keyring;
    const SecretFunctions& secret = keyring.functions();
    bool failed = false;
    const auto attributes = keyring.attributesFor(station, provider);
    const Items items = keyring.search(attributes.get(), failed);
    // The Secret Service skips a locked item without an error when asked to clear: refuse
    // rather than report a key removed that is still stored.
    if (failed || !keyring.unlockAll(items, attributes.get())) throw OstrakError(removeRefused);
    // Nothing found is no failure: removing a key that is not there succeeds.
    for (GList* entry = items.get(); entry != nullptr; entry = entry->next) {
        Failure failure(secret);
        if (!secret.secret_item_delete_sync(static_cast<SecretItem*>(entry->data), nullptr,
                                            failure.out()) ||
            failure) {
            throw OstrakError(removeRefused);
        }
    }
}

}  // namespace ostrak::ModelKeychain
