#include "platform/registry/access_check.h"

#include <algorithm>

namespace kestrel::platform::registry {

bool CallerToken::Holds(const std::string& sid) const {
    return std::find(sids.begin(), sids.end(), sid) != sids.end();
}

DWORD MapGenericRights(DWORD mask) {
    DWORD mapped = mask & ~(kGenericRead | kGenericWrite | kGenericExecute | kGenericAll);
    if ((mask & (kGenericRead | kGenericExecute)) != 0) {
        mapped |= kKeyRead;
    }
    if ((mask & kGenericWrite) != 0) {
        mapped |= kKeyWrite;
    }
    if ((mask & kGenericAll) != 0) {
        mapped |= kKeyAllAccess;
    }
    return mapped;
}

DWORD GrantedRights(const SecurityDescriptor& security, const CallerToken& token) {
    if (!security.daclPresent) {
        return kKeyAllAccess;
    }
    DWORD granted = 0;
    DWORD denied = 0;
    if (!security.owner.empty() && token.Holds(security.owner)) {
        granted |= kReadControl | kWriteDac;
    }
    for (const Ace& ace : security.dacl) {
        if ((ace.flags & kInheritOnlyAce) != 0 || !token.Holds(ace.sid)) {
            continue;
        }
        const DWORD rights = MapGenericRights(ace.mask) & kKeyAllAccess;
        if (ace.type == kAccessDeniedAceType) {
            denied |= rights & ~granted;
        } else if (ace.type == kAccessAllowedAceType) {
            granted |= rights & ~denied;
        }
    }
    return granted;
}

std::optional<DWORD> CheckAccess(const SecurityDescriptor& security, const CallerToken& token,
                                 REGSAM desired) {
    const DWORD granted = GrantedRights(security, token);
    // Bits that are no key right (the 32/64-bit view flags, for instance) are ignored.
    const DWORD wanted = MapGenericRights(desired & ~kMaximumAllowed) & kKeyAllAccess;
    if ((wanted & ~granted) != 0) {
        return std::nullopt;
    }
    if ((desired & kMaximumAllowed) != 0) {
        if (granted == 0) {
            return std::nullopt;
        }
        return granted;
    }
    return wanted;
}

} // namespace kestrel::platform::registry
