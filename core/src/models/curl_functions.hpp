#pragma once

#include <curl/curl.h>

#include "platform/shared_library.hpp"

namespace ostrak {

// The libcurl functions of a connection test, from the library loaded at first use.
struct CurlFunctions {
    SharedLibrary library{"libcurl.so.4", "libcurl4"};
#define OSTRAK_CURL_FUNCTION(name) \
    decltype(&::name) name = library.function<decltype(&::name)>(#name)
    OSTRAK_CURL_FUNCTION(curl_easy_init);
    OSTRAK_CURL_FUNCTION(curl_easy_setopt);
    OSTRAK_CURL_FUNCTION(curl_easy_perform);
    OSTRAK_CURL_FUNCTION(curl_easy_getinfo);
    OSTRAK_CURL_FUNCTION(curl_easy_cleanup);
    OSTRAK_CURL_FUNCTION(curl_slist_append);
    OSTRAK_CURL_FUNCTION(curl_slist_free_all);
#undef OSTRAK_CURL_FUNCTION
};

}  // namespace ostrak
