#pragma once
// Registry: keys below predefined roots, typed values, and a per-key security descriptor (owner
// and discretionary access list of allow and deny entries naming security identifiers). The
// calls follow the Windows registry functions named beside each one, with their status codes;
// nothing here throws.
//
// Stores (hive_control.h chooses): system_store_win32.cpp calls the Windows registry.
// hive_store.cpp keeps a registry hive in memory, persisted to the file "registry.hive" in the
// module directory (format and rules in docs/registry-hive.md); it is the only store on Linux.
// The hive checks every access against the key's access list for the calling token
// (hive_control.h), so a key whose list refuses an operation refuses it here as on Windows.
// All calls may be made from any thread.
//
// The names below are our own (k-prefixed constants, plain functions in this namespace) so that
// this header and <windows.h>, whose constants are macros, can meet in one translation unit.

#include "platform/export.h"
#include <cstdint>
#include <string>
#include <vector>

namespace kestrel::platform::registry {

// Windows-like scalar types of the registry interface.
struct OpaqueKey;
using HKEY = OpaqueKey*; // an open key or a predefined root; never dereferenced
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using REGSAM = DWORD;
using BYTE = unsigned char;

// Predefined root keys. They carry the numeric values the Windows API gives them, so a handle
// passes through the win32 backend unchanged. Closing one is allowed and does nothing.
inline HKEY RootKey(std::uint32_t index) {
    return reinterpret_cast<HKEY>(
        static_cast<std::intptr_t>(static_cast<std::int32_t>(0x80000000u | index)));
}
inline const HKEY kHkeyClassesRoot = RootKey(0);
inline const HKEY kHkeyCurrentUser = RootKey(1);
inline const HKEY kHkeyLocalMachine = RootKey(2);
inline const HKEY kHkeyUsers = RootKey(3);
inline const HKEY kHkeyCurrentConfig = RootKey(5);

// Status codes (Windows error numbers).
inline constexpr LONG kErrorSuccess = 0;
inline constexpr LONG kErrorFileNotFound = 2;
inline constexpr LONG kErrorAccessDenied = 5;
inline constexpr LONG kErrorInvalidHandle = 6;
inline constexpr LONG kErrorInvalidParameter = 87;
inline constexpr LONG kErrorInsufficientBuffer = 122;
inline constexpr LONG kErrorBadPathname = 161;
inline constexpr LONG kErrorMoreData = 234;
inline constexpr LONG kErrorNoMoreItems = 259;
inline constexpr LONG kErrorRegistryCorrupt = 1015;
inline constexpr LONG kErrorRegistryIoFailed = 1016;
inline constexpr LONG kErrorKeyDeleted = 1018;
inline constexpr LONG kErrorInvalidSid = 1337;

// Access rights on keys.
inline constexpr REGSAM kKeyQueryValue = 0x0001;
inline constexpr REGSAM kKeySetValue = 0x0002;
inline constexpr REGSAM kKeyCreateSubKey = 0x0004;
inline constexpr REGSAM kKeyEnumerateSubKeys = 0x0008;
inline constexpr REGSAM kKeyNotify = 0x0010;
inline constexpr REGSAM kKeyCreateLink = 0x0020;
inline constexpr REGSAM kDelete = 0x00010000;
inline constexpr REGSAM kReadControl = 0x00020000;
inline constexpr REGSAM kWriteDac = 0x00040000;
inline constexpr REGSAM kWriteOwner = 0x00080000;
inline constexpr REGSAM kKeyRead = 0x00020019;
inline constexpr REGSAM kKeyWrite = 0x00020006;
inline constexpr REGSAM kKeyAllAccess = 0x000F003F;
inline constexpr REGSAM kMaximumAllowed = 0x02000000;
inline constexpr REGSAM kGenericAll = 0x10000000;
inline constexpr REGSAM kGenericExecute = 0x20000000;
inline constexpr REGSAM kGenericWrite = 0x40000000;
inline constexpr REGSAM kGenericRead = 0x80000000;

// Value types.
inline constexpr DWORD kRegNone = 0;
inline constexpr DWORD kRegSz = 1;
inline constexpr DWORD kRegExpandSz = 2;
inline constexpr DWORD kRegBinary = 3;
inline constexpr DWORD kRegDword = 4;
inline constexpr DWORD kRegMultiSz = 7;
inline constexpr DWORD kRegQword = 11;

// Limits: a key name has 1..255 characters and no backslash; a key lies at most 512 levels
// below its root; a value name has at most 16383 characters. The hive also refuses value data
// over 1 MiB (kErrorInvalidParameter) so that its file stays a reasonable size.
inline constexpr std::size_t kMaxKeyNameLength = 255;
inline constexpr std::size_t kMaxKeyDepth = 512;
inline constexpr std::size_t kMaxValueNameLength = 16383;
inline constexpr std::size_t kMaxValueDataSize = 1u << 20;

// Security descriptor parts, in the form the hive stores them. The win32 backend builds a
// descriptor of revision 1 with an access list of revision 2 from them.
inline constexpr DWORD kOwnerSecurityInformation = 0x1;
inline constexpr DWORD kDaclSecurityInformation = 0x4;

inline constexpr BYTE kAccessAllowedAceType = 0;
inline constexpr BYTE kAccessDeniedAceType = 1;
inline constexpr BYTE kObjectInheritAce = 0x01;
inline constexpr BYTE kContainerInheritAce = 0x02;
inline constexpr BYTE kNoPropagateInheritAce = 0x04;
inline constexpr BYTE kInheritOnlyAce = 0x08;
inline constexpr BYTE kInheritedAce = 0x10;

// Well-known security identifiers, in their string form.
inline constexpr const char* kSidEveryone = "S-1-1-0";
inline constexpr const char* kSidAuthenticatedUsers = "S-1-5-11";
inline constexpr const char* kSidLocalSystem = "S-1-5-18";
inline constexpr const char* kSidAdministrators = "S-1-5-32-544";
inline constexpr const char* kSidUsers = "S-1-5-32-545";

// One access-control entry: allow or deny the rights in mask to the holder of sid.
struct Ace {
    BYTE type = kAccessAllowedAceType;
    BYTE flags = 0;
    DWORD mask = 0;
    std::string sid; // "S-1-<authority>-<sub-authority>..."

    bool operator==(const Ace&) const = default;
};

struct SecurityDescriptor {
    std::string owner;       // owner SID; empty when not given
    bool daclPresent = true; // false: no list at all, which grants everyone every right
    bool daclDefaulted = false;
    std::vector<Ace> dacl; // present and empty: grants nothing

    bool operator==(const SecurityDescriptor&) const = default;
};

// RegOpenKeyA: opens hKey\subKey with the most access the caller's token is allowed, failing
// with kErrorAccessDenied when that is none. An empty or null subKey opens hKey again.
KESTREL_PLATFORM_API LONG OpenKey(HKEY key, const char* subKey, HKEY* result);

// RegOpenKeyExA: opens hKey\subKey with exactly the access asked for (generic rights map to
// the key rights; kMaximumAllowed as in OpenKey).
KESTREL_PLATFORM_API LONG OpenKeyEx(HKEY key, const char* subKey, REGSAM access, HKEY* result);

// RegCreateKeyA: opens hKey\subKey, creating the missing keys on the way. A new key takes the
// caller's owner and the inheritable entries of its parent's list; creating needs
// kKeyCreateSubKey on the parent.
KESTREL_PLATFORM_API LONG CreateKey(HKEY key, const char* subKey, HKEY* result);

// RegEnumKeyExA: the name of subkey index (subkeys in case-insensitive name order). nameSize
// gives the buffer's size in characters including the NUL and receives the name's length
// without it; kErrorMoreData when the name does not fit, kErrorNoMoreItems past the end.
// Needs kKeyEnumerateSubKeys.
KESTREL_PLATFORM_API LONG EnumKey(HKEY key, DWORD index, char* name, DWORD* nameSize);

// RegEnumValueA: name, type and data of value index (values in creation order). nameSize as in
// EnumKey; dataSize gives the buffer's size in bytes and receives the data's size. data may be
// null to ask for the size only. kErrorMoreData when the name or the data does not fit.
// Needs kKeyQueryValue.
KESTREL_PLATFORM_API LONG EnumValue(HKEY key, DWORD index, char* name, DWORD* nameSize, DWORD* type,
                                    BYTE* data, DWORD* dataSize);

// RegQueryValueExA: type and data of the named value (null or "" names the default value).
// dataSize as in EnumValue; the buffer is left alone when the data does not fit.
// Needs kKeyQueryValue.
KESTREL_PLATFORM_API LONG QueryValue(HKEY key, const char* valueName, DWORD* type, BYTE* data,
                                     DWORD* dataSize);

// RegSetValueExA: sets the named value to dataSize bytes of the given type. Needs kKeySetValue.
KESTREL_PLATFORM_API LONG SetValue(HKEY key, const char* valueName, DWORD type, const BYTE* data,
                                   DWORD dataSize);

// RegDeleteValueA. Needs kKeySetValue.
KESTREL_PLATFORM_API LONG DeleteValue(HKEY key, const char* valueName);

// RegDeleteKeyA: deletes hKey\subKey, which must have no subkeys (kErrorAccessDenied otherwise)
// and must grant the caller kDelete. Open handles to a deleted key answer kErrorKeyDeleted.
KESTREL_PLATFORM_API LONG DeleteKey(HKEY key, const char* subKey);

// RegCloseKey.
KESTREL_PLATFORM_API LONG CloseKey(HKEY key);

// RegSetKeySecurity: replaces the parts named in securityInformation (kOwnerSecurityInformation
// needs kWriteOwner on the handle, kDaclSecurityInformation needs kWriteDac). A replaced list
// holds exactly the entries given. Malformed SIDs give kErrorInvalidSid.
KESTREL_PLATFORM_API LONG SetKeySecurity(HKEY key, DWORD securityInformation,
                                         const SecurityDescriptor& descriptor);

// RegGetKeySecurity: owner and list of the key. Needs kReadControl.
KESTREL_PLATFORM_API LONG GetKeySecurity(HKEY key, SecurityDescriptor* descriptor);

} // namespace kestrel::platform::registry
