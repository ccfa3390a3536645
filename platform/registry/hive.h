#pragma once
// The registry hive of the Linux backend, in memory: five root keys, each a tree of keys with
// typed values and a security descriptor. Key names compare without regard to ASCII case and
// keep the case they were created with; subkeys are kept in case-insensitive name order and
// values in creation order, as the registry enumerates them. Not synchronised: the backend
// holds its lock around every use.

#include "platform/export.h"
#include "platform/registry/registry.h"

#include <array>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel::platform::registry {

struct HiveValue {
    std::string name;
    DWORD type = kRegNone;
    std::vector<BYTE> data;

    bool operator==(const HiveValue&) const = default;
};

struct KESTREL_PLATFORM_API HiveKey {
    std::string name;
    HiveKey* parent = nullptr; // null for a root
    SecurityDescriptor security;
    std::vector<HiveValue> values;
    std::vector<std::shared_ptr<HiveKey>> subkeys; // sorted by KeyNameLess

    // Levels below the root (0 for a root).
    std::size_t Depth() const;
    std::shared_ptr<HiveKey> FindSubkey(std::string_view subName) const;
    // Inserts at its place in name order and sets the parent; the name must be new here.
    void InsertSubkey(std::shared_ptr<HiveKey> key);
    // Removes the subkey and returns it with its parent cleared, or null when absent.
    std::shared_ptr<HiveKey> RemoveSubkey(const HiveKey* key);
    HiveValue* FindValue(std::string_view valueName);
};

// Case-insensitive (ASCII) order and equality of key and value names.
KESTREL_PLATFORM_API bool KeyNameLess(std::string_view a, std::string_view b);
KESTREL_PLATFORM_API bool KeyNamesEqual(std::string_view a, std::string_view b);

// A key name the hive accepts: 1..kMaxKeyNameLength characters, no backslash.
KESTREL_PLATFORM_API bool IsValidKeyName(std::string_view name);

// "S-1-<authority>-<sub-authority>..." with 1..15 sub-authorities of 32 bits.
KESTREL_PLATFORM_API bool IsValidSid(std::string_view sid);

struct HiveRoot {
    std::uint32_t index; // low bits of the predefined handle
    const char* name;
};
inline constexpr std::array<HiveRoot, 5> kHiveRoots = {{{0, "HKEY_CLASSES_ROOT"},
                                                        {1, "HKEY_CURRENT_USER"},
                                                        {2, "HKEY_LOCAL_MACHINE"},
                                                        {3, "HKEY_USERS"},
                                                        {5, "HKEY_CURRENT_CONFIG"}}};

struct KESTREL_PLATFORM_API Hive {
    std::array<std::shared_ptr<HiveKey>, kHiveRoots.size()> roots;

    // A hive with empty roots, each owned by the Administrators group and granting full
    // access to local system and Administrators and reading to Users, all inheritable.
    static Hive Fresh();
    // The root behind a predefined handle, or null.
    std::shared_ptr<HiveKey> Root(HKEY handle) const;
};

KESTREL_PLATFORM_API SecurityDescriptor DefaultRootSecurity();

// The descriptor of a new key: the given owner and the inheritable entries of the parent's
// list, marked inherited (a parent without any list gives a child without one).
KESTREL_PLATFORM_API SecurityDescriptor InheritedSecurity(const SecurityDescriptor& parent,
                                                          const std::string& owner);

} // namespace kestrel::platform::registry
