#pragma once

#include <cstring>
#include <string>

namespace ostrak {

// A shared library opened when an operation first needs it rather than when the program
// starts. The HTTP client and the Secret Service bring some twenty libraries with them (TLS,
// Kerberos, LDAP, GLib, ...), whose loading and relocation would otherwise cost every start of
// every program about 8 ms, also of those that never test a connection or touch a key. Once
// opened, the library stays loaded for the life of the process (GLib keeps threads and type
// registrations that outlive any handle); a later handle finds it already there.
class SharedLibrary {
public:
    // Throws OstrakError naming the library and the Debian package that holds it when it
    // cannot be opened (a system that lacks it cannot do what needs it).
    SharedLibrary(const char* soname, const char* package);
    ~SharedLibrary();
    SharedLibrary(const SharedLibrary&) = delete;
    SharedLibrary& operator=(const SharedLibrary&) = delete;

    // The function `name` of the library, as a pointer of type `Function`. Throws the same
    // refusal when the library has none of that name (another version of it).
    template <class Function>
    Function function(const char* name) const {
        void* const address = symbol(name);
        Function typed;
        static_assert(sizeof typed == sizeof address);
        std::memcpy(&typed, &address, sizeof typed);
        return typed;
    }

private:
    void* symbol(const char* name) const;
    [[noreturn]] void refuse() const;
    std::string m_soname;
    std::string m_package;
    void* m_handle;
};

}  // namespace ostrak

// Declares a member `name` of a table of a library's functions: a pointer of the exact type of
// the function's own declaration, taken from the SharedLibrary member `library`.
#define OSTRAK_LIBRARY_FUNCTION(name) \
    decltype(&::name) name = library.function<decltype(&::name)>(#name)
