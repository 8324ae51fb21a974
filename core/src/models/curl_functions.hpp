#pragma once

#include <curl/curl.h>

#include "platform/shared_library.hpp"

namespace ostrak {

// The libcurl functions of a connection test, from the library loaded at first use.
struct CurlFunctions {
    SharedLibrary library{"libcurl.so.4", "libcurl4"};
    OSTRAK_LIBRARY_FUNCTION(curl_easy_init);
    OSTRAK_LIBRARY_FUNCTION(curl_easy_setopt);
    OSTRAK_LIBRARY_FUNCTION(curl_easy_perform);
    OSTRAK_LIBRARY_FUNCTION(curl_easy_getinfo);
    OSTRAK_LIBRARY_FUNCTION(curl_easy_cleanup);
    OSTRAK_LIBRARY_FUNCTION(curl_slist_append);
    OSTRAK_LIBRARY_FUNCTION(curl_slist_free_all);
};

}  // namespace ostrak
