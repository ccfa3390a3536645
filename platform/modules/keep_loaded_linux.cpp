// Linux: the library's name from dladdr, then dlopen of the already-loaded library with
// RTLD_NODELETE, which marks it never to be unloaded.
#include "platform/modules/keep_loaded.h"

#include <dlfcn.h>

namespace kestrel::platform {

bool KeepModuleLoaded(const void* address) {
    Dl_info info{};
    if (dladdr(address, &info) == 0 || info.dli_fname == nullptr) {
        return false;
    }
    // The reference this call takes is never given back: the library stays anyway.
    return dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE) != nullptr;
}

} // namespace kestrel::platform
