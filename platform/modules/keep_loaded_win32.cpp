// Windows: GetModuleHandleEx pins the module that holds the address.
#include "platform/modules/keep_loaded.h"

#include <windows.h>

namespace kestrel::platform {

bool KeepModuleLoaded(const void* address) {
    HMODULE module = nullptr;
    return GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                  GET_MODULE_HANDLE_EX_FLAG_PIN,
                              static_cast<LPCSTR>(address), &module) != 0;
}

} // namespace kestrel::platform
