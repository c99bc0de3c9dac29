#include "platform/shared_library.h"

#include <dlfcn.h>

namespace rovalink::platform {

SharedLibrary::SharedLibrary(const char* file) : m_file(file) {
  m_handle = ::dlopen(file, RTLD_NOW | RTLD_LOCAL);
  if (m_handle == nullptr) {
    const char* reason = ::dlerror();
    m_error = reason != nullptr ? reason : m_file + " cannot be loaded";
  }
}

void* SharedLibrary::symbol(const char* name) {
  if (m_handle == nullptr) return nullptr;
  void* found = ::dlsym(m_handle, name);
  if (found == nullptr && m_error.empty()) m_error = m_file + " has no " + name;
  return found;
}

}  // namespace rovalink::platform
