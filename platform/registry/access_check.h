#pragma once
// Access checks of the registry hive against a key's security descriptor, in the order the
// Windows access check uses: the owner holds kReadControl and kWriteDac whatever the list says;
// then the entries are read in order, a deny entry refusing the rights not yet granted and an
// allow entry granting those not yet refused. Inherit-only entries do not apply to the key
// itself; a descriptor without a list grants everything.

#include "platform/export.h"
#include "platform/registry/registry.h"

#include <optional>
#include <string>
#include <vector>

namespace kestrel::platform::registry {

// Who is calling: the SIDs of the caller's token and the owner given to the keys it creates.
struct KESTREL_PLATFORM_API CallerToken {
    std::vector<std::string> sids;
    std::string owner;

    bool Holds(const std::string& sid) const;
};

// Generic rights mapped to the key rights (kGenericRead to kKeyRead and so on).
KESTREL_PLATFORM_API DWORD MapGenericRights(DWORD mask);

// Every key right the token holds on a key with this descriptor.
KESTREL_PLATFORM_API DWORD GrantedRights(const SecurityDescriptor& security,
                                         const CallerToken& token);

// The rights a handle opened with `desired` carries, or nothing when the token is refused.
// kMaximumAllowed asks for every right held and is refused only when none is.
KESTREL_PLATFORM_API std::optional<DWORD> CheckAccess(const SecurityDescriptor& security,
                                                      const CallerToken& token, REGSAM desired);

} // namespace kestrel::platform::registry
