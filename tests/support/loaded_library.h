#pragma once
// Loads a shared library by file name, as a program that knows only the exports' names and C
// signatures would, and looks its exports up by name (dlopen/dlsym, or LoadLibrary and
// GetProcAddress on Windows).

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <string>

namespace kestrel::test {

class LoadedLibrary {
public:
#if defined(_WIN32)
    explicit LoadedLibrary(const char* path) : handle_(::LoadLibraryA(path)) {}
    ~LoadedLibrary() {
        if (handle_ != nullptr) {
            ::FreeLibrary(handle_);
        }
    }
    template <typename Fn>
    Fn* Get(const char* name) const {
        return reinterpret_cast<Fn*>(reinterpret_cast<void*>(::GetProcAddress(handle_, name)));
    }
#else
    explicit LoadedLibrary(const char* path) : handle_(dlopen(path, RTLD_NOW | RTLD_LOCAL)) {}
    ~LoadedLibrary() {
        if (handle_ != nullptr) {
            dlclose(handle_);
        }
    }
    template <typename Fn>
    Fn* Get(const char* name) const {
        return reinterpret_cast<Fn*>(dlsym(handle_, name));
    }
#endif
    LoadedLibrary(const LoadedLibrary&) = delete;
    LoadedLibrary& operator=(const LoadedLibrary&) = delete;
    bool Loaded() const {
        return handle_ != nullptr;
    }
    // Why the last load or look-up failed, in the host's words.
    static std::string LastError() {
#if defined(_WIN32)
        return "error " + std::to_string(::GetLastError());
#else
        const char* text = dlerror();
        return text != nullptr ? text : "";
#endif
    }

private:
#if defined(_WIN32)
    HMODULE handle_;
#else
    void* handle_;
#endif
};

} // namespace kestrel::test
