#pragma once
// The stores the registry calls of registry.h reach (chosen in registry.cpp, hive_control.h):
// the hive, on every platform, and on Windows the system's own registry. Each namespace holds
// the calls of registry.h with the same meaning; a handle one store opened is unknown to the
// other.

#include "platform/registry/registry.h"

namespace kestrel::platform::registry {

#define KESTREL_REGISTRY_STORE_CALLS                                                               \
    LONG OpenKey(HKEY key, const char* subKey, HKEY* result);                                      \
    LONG OpenKeyEx(HKEY key, const char* subKey, REGSAM access, HKEY* result);                     \
    LONG CreateKey(HKEY key, const char* subKey, HKEY* result);                                    \
    LONG EnumKey(HKEY key, DWORD index, char* name, DWORD* nameSize);                              \
    LONG EnumValue(HKEY key, DWORD index, char* name, DWORD* nameSize, DWORD* type, BYTE* data,    \
                   DWORD* dataSize);                                                               \
    LONG QueryValue(HKEY key, const char* valueName, DWORD* type, BYTE* data, DWORD* dataSize);    \
    LONG SetValue(HKEY key, const char* valueName, DWORD type, const BYTE* data, DWORD dataSize);  \
    LONG DeleteValue(HKEY key, const char* valueName);                                             \
    LONG DeleteKey(HKEY key, const char* subKey);                                                  \
    LONG CloseKey(HKEY key);                                                                       \
    LONG SetKeySecurity(HKEY key, DWORD securityInformation,                                       \
                        const SecurityDescriptor& descriptor);                                     \
    LONG GetKeySecurity(HKEY key, SecurityDescriptor* descriptor);

namespace hive_store {
KESTREL_REGISTRY_STORE_CALLS
} // namespace hive_store

#if defined(_WIN32)
namespace system_store {
KESTREL_REGISTRY_STORE_CALLS
} // namespace system_store
#endif

#undef KESTREL_REGISTRY_STORE_CALLS

} // namespace kestrel::platform::registry
