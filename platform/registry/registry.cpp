// The calls of registry.h, sent to the chosen store (hive_control.h).
#include "platform/registry/registry.h"
#include "platform/registry/hive_control.h"
#include "platform/registry/registry_stores.h"

#include <atomic>

namespace kestrel::platform::registry {
namespace {

#if defined(_WIN32)
constexpr RegistryStore kDefaultStore = RegistryStore::kSystem;
#else
constexpr RegistryStore kDefaultStore = RegistryStore::kHive;
#endif

// Process-wide: lives only in KestrelPlatform.
std::atomic<RegistryStore> g_store{kDefaultStore};

} // namespace

bool UseRegistryStore(RegistryStore store) {
#if !defined(_WIN32)
    if (store != RegistryStore::kHive) {
        return false;
    }
#endif
    g_store.store(store);
    return true;
}

RegistryStore CurrentRegistryStore() {
    return g_store.load();
}

#if defined(_WIN32)
// Calls the named call of the chosen store.
#define KESTREL_REGISTRY_CALL(call, ...)                                                           \
    (g_store.load() == RegistryStore::kHive ? hive_store::call(__VA_ARGS__)                        \
                                            : system_store::call(__VA_ARGS__))
#else
#define KESTREL_REGISTRY_CALL(call, ...) hive_store::call(__VA_ARGS__)
#endif

LONG OpenKey(HKEY key, const char* subKey, HKEY* result) {
    return KESTREL_REGISTRY_CALL(OpenKey, key, subKey, result);
}

LONG OpenKeyEx(HKEY key, const char* subKey, REGSAM access, HKEY* result) {
    return KESTREL_REGISTRY_CALL(OpenKeyEx, key, subKey, access, result);
}

LONG CreateKey(HKEY key, const char* subKey, HKEY* result) {
    return KESTREL_REGISTRY_CALL(CreateKey, key, subKey, result);
}

LONG EnumKey(HKEY key, DWORD index, char* name, DWORD* nameSize) {
    return KESTREL_REGISTRY_CALL(EnumKey, key, index, name, nameSize);
}

LONG EnumValue(HKEY key, DWORD index, char* name, DWORD* nameSize, DWORD* type, BYTE* data,
               DWORD* dataSize) {
    return KESTREL_REGISTRY_CALL(EnumValue, key, index, name, nameSize, type, data, dataSize);
}

LONG QueryValue(HKEY key, const char* valueName, DWORD* type, BYTE* data, DWORD* dataSize) {
    return KESTREL_REGISTRY_CALL(QueryValue, key, valueName, type, data, dataSize);
}

LONG SetValue(HKEY key, const char* valueName, DWORD type, const BYTE* data, DWORD dataSize) {
    return KESTREL_REGISTRY_CALL(SetValue, key, valueName, type, data, dataSize);
}

LONG DeleteValue(HKEY key, const char* valueName) {
    return KESTREL_REGISTRY_CALL(DeleteValue, key, valueName);
}

LONG DeleteKey(HKEY key, const char* subKey) {
    return KESTREL_REGISTRY_CALL(DeleteKey, key, subKey);
}

LONG CloseKey(HKEY key) {
    return KESTREL_REGISTRY_CALL(CloseKey, key);
}

LONG SetKeySecurity(HKEY key, DWORD securityInformation, const SecurityDescriptor& descriptor) {
    return KESTREL_REGISTRY_CALL(SetKeySecurity, key, securityInformation, descriptor);
}

LONG GetKeySecurity(HKEY key, SecurityDescriptor* descriptor) {
    return KESTREL_REGISTRY_CALL(GetKeySecurity, key, descriptor);
}

#undef KESTREL_REGISTRY_CALL

} // namespace kestrel::platform::registry
