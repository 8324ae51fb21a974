#include "platform/shared_library.hpp"

#include <dlfcn.h>

#include <stdexcept>
#include <string>

namespace ostrak {

SharedLibrary::SharedLibrary(const char* soname)
    : m_handle(::dlopen(soname, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE)) {
    if (!m_handle) throw std::runtime_error(std::string("cannot load ") + soname);
}

SharedLibrary::~SharedLibrary() {
    ::dlclose(m_handle);
}

void* SharedLibrary::symbol(const char* name) const {
    void* const address = ::dlsym(m_handle, name);
    if (!address) throw std::runtime_error(std::string("no function ") + name);
    return address;
}

}  // namespace ostrak
