#pragma once
// Loads a shared library by file name, as a program that knows only the exports' names and C
// signatures would, and looks its exports up by name.

#include <dlfcn.h>

namespace kestrel::test {

class LoadedLibrary {
public:
    explicit LoadedLibrary(const char* path) : handle_(dlopen(path, RTLD_NOW | RTLD_LOCAL)) {}
    ~LoadedLibrary() {
        if (handle_ != nullptr) {
            dlclose(handle_);
        }
    }
    LoadedLibrary(const LoadedLibrary&) = delete;
    LoadedLibrary& operator=(const LoadedLibrary&) = delete;

    template <typename Fn>
    Fn* Get(const char* name) const {
        return reinterpret_cast<Fn*>(dlsym(handle_, name));
    }
    bool Loaded() const { return handle_ != nullptr; }

private:
    void* handle_;
};

} // namespace kestrel::test
