#pragma once
// The registry helpers of VantorDll: plain exported functions over the registry layer. They
// return 1 on success and 0 on failure unless said otherwise, report nothing else and never
// show a message.
//
// Key paths are ANSI text below a root key. A path longer than kMaxKeyPathLength (263)
// characters is refused: the call does nothing and answers as for a key that cannot be opened.
// Subkey names longer than 259 characters cannot be listed (they do not fit the 260-character
// name buffer); the registry itself allows at most 255.

#include "platform/export.h"
#include "platform/registry/registry.h"
#include "vantordll/k_string_list.h"

namespace kestrel::vantor {
inline constexpr std::size_t kMaxKeyPathLength = 263;
inline constexpr std::size_t kNameBufferSize = 260; // name and data buffers of the listings
} // namespace kestrel::vantor

// 1 when HKEY_LOCAL_MACHINE\subKey has a direct subkey named exactly name (case-sensitive,
// byte by byte), else 0.
KESTREL_EXPORT int ISDirInRegDir(const char* name, const char* subKey);

// Deletes the value valueName of hKey\subKey; 1 only when the value was deleted.
KESTREL_EXPORT int DeleteRegValue(const char* subKey, const char* valueName,
                                  kestrel::platform::registry::HKEY hKey);

// Sets valueName of hKey\subKey (created when it cannot be opened) to dataSize bytes of type;
// 1 when the value was set.
KESTREL_EXPORT int WriteReg(const char* subKey, const char* valueName, const unsigned char* data,
                            kestrel::platform::registry::DWORD dataSize,
                            kestrel::platform::registry::DWORD type,
                            kestrel::platform::registry::HKEY hKey);

// Reads valueName of hKey\subKey into buffer, at most bufferSize bytes; 1 on success. The
// buffer is zero-filled first and again on every failure, a value larger than the buffer
// included. type only seeds the variable that receives the value's type; it is not passed back.
KESTREL_EXPORT int ReadReg(const char* subKey, const char* valueName, unsigned char* buffer,
                           kestrel::platform::registry::DWORD bufferSize,
                           kestrel::platform::registry::DWORD type,
                           kestrel::platform::registry::HKEY hKey);

// Copies the values of hKey\srcSubKey, with their names, types and data, into
// HKEY_LOCAL_MACHINE\dstSubKey (opened, or created when it cannot be opened, for each value).
// The copy stops at the first value whose name does not fit 260 characters or whose data does
// not fit 260 bytes; the values before it are copied. Answers the status of closing the source
// key, 0 when it was open; when the source cannot be opened (or a path is too long), the
// nonzero status of that failure.
KESTREL_EXPORT kestrel::platform::registry::LONG
CopyRegDirAtoRegDirB(const char* srcSubKey, const char* dstSubKey,
                     kestrel::platform::registry::HKEY hKey);

// Deletes HKEY_LOCAL_MACHINE\subKey and its whole subtree. Before each key is deleted, its
// access list is replaced by one entry granting full access to the Administrators group. Passes
// over the tree are repeated while a pass meets subkeys and deletes something, so a key that
// stays undeletable ends the work instead of repeating it. An empty path (the root itself) is
// refused. Answers 0.
KESTREL_EXPORT int DelRegDir(const char* subKey);

// The names of the direct subkeys of hKey\subKey, sorted ascending by byte value; empty when
// the key cannot be opened. Names past the list's 260 are left out.
// KStringList is returned by value across the boundary: it is a plain value (trivially
// copyable, standard layout), which the compilers' C-linkage warnings do not know.
#if defined(_MSC_VER)
#pragma warning(push)
#pragma warning(disable : 4190)
#elif defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wreturn-type-c-linkage"
#endif
KESTREL_EXPORT KStringList GetRegDir(const char* subKey, kestrel::platform::registry::HKEY hKey);
#if defined(_MSC_VER)
#pragma warning(pop)
#elif defined(__clang__)
#pragma clang diagnostic pop
#endif
