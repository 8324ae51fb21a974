#pragma once

// The search by object paths (which reports locked and unlocked items as the service sees them
// now) is in the part of libsecret it calls "subject to change"; it has stood unchanged since
// libsecret 0.7 and is in both Debian 12's 0.20 and Debian 13's 0.21.
#define SECRET_API_SUBJECT_TO_CHANGE
#include <libsecret/secret.h>

#include "platform/shared_library.hpp"

namespace ostrak {

// The libsecret functions (and the few of GLib that free what they return) of the keychain,
// from the library loaded at first use; GLib comes with it.
struct SecretFunctions {
    SharedLibrary library{"libsecret-1.so.0", "libsecret-1-0"};
    OSTRAK_LIBRARY_FUNCTION(secret_attributes_build);
    OSTRAK_LIBRARY_FUNCTION(secret_service_get_sync);
    OSTRAK_LIBRARY_FUNCTION(secret_service_search_sync);
    OSTRAK_LIBRARY_FUNCTION(secret_service_search_for_dbus_paths_sync);
    OSTRAK_LIBRARY_FUNCTION(secret_service_unlock_sync);
    OSTRAK_LIBRARY_FUNCTION(secret_service_store_sync);
    OSTRAK_LIBRARY_FUNCTION(secret_collection_for_alias_sync);
    OSTRAK_LIBRARY_FUNCTION(secret_collection_create_sync);
    OSTRAK_LIBRARY_FUNCTION(secret_item_get_secret);
    OSTRAK_LIBRARY_FUNCTION(secret_item_load_secret_sync);
    OSTRAK_LIBRARY_FUNCTION(secret_item_delete_sync);
    OSTRAK_LIBRARY_FUNCTION(secret_value_new);
    OSTRAK_LIBRARY_FUNCTION(secret_value_get);
    OSTRAK_LIBRARY_FUNCTION(secret_value_unref);
    OSTRAK_LIBRARY_FUNCTION(g_object_unref);
    OSTRAK_LIBRARY_FUNCTION(g_hash_table_unref);
    OSTRAK_LIBRARY_FUNCTION(g_list_free_full);
    OSTRAK_LIBRARY_FUNCTION(g_error_free);
    OSTRAK_LIBRARY_FUNCTION(g_strfreev);
};

}  // namespace ostrak
