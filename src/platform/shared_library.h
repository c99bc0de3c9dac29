#pragma once

#include <string>

// For a class that lists a library's calls as an X-macro LIST: LIST(ROVALINK_LIBRARY_POINTER)
// declares a member pointer per call, typed as the library's own declaration, and
// LIST(ROVALINK_LIBRARY_FIND) in a function with a SharedLibrary named library sets each one.
#define ROVALINK_LIBRARY_POINTER(name) decltype(&::name) name = nullptr;
#define ROVALINK_LIBRARY_FIND(name) library.find(#name, name);

namespace rovalink::platform {

// A library loaded when first needed rather than linked, so a start that does not need it does
// not pay for loading it. Never unloaded: libraries that pull in TLS do not support that.
class SharedLibrary {
 public:
  // Loads file; when it or a call looked up later is missing, loaded() is false and error() says
  // why.
  explicit SharedLibrary(const char* file);
  bool loaded() const { return m_error.empty(); }
  const std::string& error() const { return m_error; }

  // Sets call to the library's function of that name (null when missing).
  template <typename Call>
  void find(const char* name, Call& call) {
    call = reinterpret_cast<Call>(symbol(name));
  }

 private:
  void* symbol(const char* name);

  std::string m_file;
  void* m_handle = nullptr;
  std::string m_error;
};

}  // namespace rovalink::platform
