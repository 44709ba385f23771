// A shared library loaded for one test and unloaded after it, its functions bound by name as
// the program binds them.
#pragma once

#include <dlfcn.h>
#include <string>

namespace test_files {

class LoadedLibrary {
  public:
    explicit LoadedLibrary(const std::string &path) : m_handle(::dlopen(path.c_str(), RTLD_NOW)) {}
    ~LoadedLibrary() {
        if (m_handle)
            ::dlclose(m_handle);
    }
    LoadedLibrary(const LoadedLibrary &) = delete;
    LoadedLibrary &operator=(const LoadedLibrary &) = delete;
    bool loaded() const { return m_handle != nullptr; }
    template <typename F> F bind(const char *name) const {
        return reinterpret_cast<F>(::dlsym(m_handle, name));
    }

  private:
    void *m_handle;
};

} // namespace test_files
