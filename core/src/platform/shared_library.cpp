#include "platform/shared_library.hpp"

#include <dlfcn.h>

#include "messages.hpp"
#include "ostrak/error.hpp"

namespace ostrak {

SharedLibrary::SharedLibrary(const char* soname, const char* package)
    : m_soname(soname),
      m_package(package),
      m_handle(::dlopen(soname, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE)) {
    if (!m_handle) refuse();
}

SharedLibrary::~SharedLibrary() {
    ::dlclose(m_handle);
}

void* SharedLibrary::symbol(const char* name) const {
    void* const address = ::dlsym(m_handle, name);
    if (!address) refuse();
    return address;
}

void SharedLibrary::refuse() const {
    throw OstrakError(message::libraryMissing(m_soname, m_package));
}

}  // namespace ostrak
