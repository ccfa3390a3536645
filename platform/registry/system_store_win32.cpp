// Registry store over the Windows registry and security functions. Our handles carry the
// native handle values (the predefined roots have the same numbers), so they pass through.
// registry.h comes before <windows.h>: its names are our own, the Windows ones are macros.
#include "platform/registry/registry.h"
#include "platform/registry/registry_stores.h"

#include <windows.h>

#include <sddl.h>

#include <memory>
#include <string>
#include <vector>

namespace kestrel::platform::registry {
namespace {

::HKEY Native(HKEY key) {
    return reinterpret_cast<::HKEY>(key);
}
HKEY Ours(::HKEY key) {
    return reinterpret_cast<HKEY>(key);
}

// A SID converted from its string form, released with LocalFree.
class LocalSid {
public:
    explicit LocalSid(const std::string& text) {
        if (!::ConvertStringSidToSidA(text.c_str(), &sid_)) {
            sid_ = nullptr;
        }
    }
    ~LocalSid() {
        if (sid_ != nullptr) {
            ::LocalFree(sid_);
        }
    }
    LocalSid(const LocalSid&) = delete;
    LocalSid& operator=(const LocalSid&) = delete;
    PSID Get() const { return sid_; }

private:
    PSID sid_ = nullptr;
};

std::string SidText(PSID sid) {
    char* text = nullptr;
    if (sid == nullptr || !::ConvertSidToStringSidA(sid, &text)) {
        return {};
    }
    std::string result = text;
    ::LocalFree(text);
    return result;
}

// Hands out the key an open or create call filled in. Called only after that call returned:
// the status is taken first, in its own statement, because the order in which a call's
// arguments are evaluated is unspecified (passing the call and `native` as two arguments could
// read the handle before the call filled it in).
LONG OpenResult(LONG status, ::HKEY native, HKEY* result) {
    *result = status == ERROR_SUCCESS ? Ours(native) : nullptr;
    return status;
}

} // namespace

namespace system_store {

LONG OpenKey(HKEY key, const char* subKey, HKEY* result) {
    if (result == nullptr) {
        return kErrorInvalidParameter;
    }
    ::HKEY native = nullptr;
    const LONG status = ::RegOpenKeyA(Native(key), subKey, &native);
    return OpenResult(status, native, result);
}

LONG OpenKeyEx(HKEY key, const char* subKey, REGSAM access, HKEY* result) {
    if (result == nullptr) {
        return kErrorInvalidParameter;
    }
    ::HKEY native = nullptr;
    const LONG status = ::RegOpenKeyExA(Native(key), subKey, 0, access, &native);
    return OpenResult(status, native, result);
}

LONG CreateKey(HKEY key, const char* subKey, HKEY* result) {
    if (result == nullptr) {
        return kErrorInvalidParameter;
    }
    ::HKEY native = nullptr;
    const LONG status = ::RegCreateKeyA(Native(key), subKey, &native);
    return OpenResult(status, native, result);
}

LONG EnumKey(HKEY key, DWORD index, char* name, DWORD* nameSize) {
    if (nameSize == nullptr) {
        return kErrorInvalidParameter;
    }
    ::DWORD size = *nameSize;
    const LONG status =
        ::RegEnumKeyExA(Native(key), index, name, &size, nullptr, nullptr, nullptr, nullptr);
    *nameSize = size;
    return status;
}

LONG EnumValue(HKEY key, DWORD index, char* name, DWORD* nameSize, DWORD* type, BYTE* data,
               DWORD* dataSize) {
    if (nameSize == nullptr) {
        return kErrorInvalidParameter;
    }
    ::DWORD size = *nameSize;
    ::DWORD valueType = 0;
    ::DWORD bytes = dataSize != nullptr ? *dataSize : 0;
    const LONG status = ::RegEnumValueA(Native(key), index, name, &size, nullptr, &valueType, data,
                                        dataSize != nullptr ? &bytes : nullptr);
    *nameSize = size;
    if (type != nullptr) {
        *type = valueType;
    }
    if (dataSize != nullptr) {
        *dataSize = bytes;
    }
    return status;
}

LONG QueryValue(HKEY key, const char* valueName, DWORD* type, BYTE* data, DWORD* dataSize) {
    ::DWORD valueType = 0;
    ::DWORD bytes = dataSize != nullptr ? *dataSize : 0;
    const LONG status = ::RegQueryValueExA(Native(key), valueName, nullptr, &valueType, data,
                                           dataSize != nullptr ? &bytes : nullptr);
    if (type != nullptr) {
        *type = valueType;
    }
    if (dataSize != nullptr) {
        *dataSize = bytes;
    }
    return status;
}

LONG SetValue(HKEY key, const char* valueName, DWORD type, const BYTE* data, DWORD dataSize) {
    return ::RegSetValueExA(Native(key), valueName, 0, type, data, dataSize);
}

LONG DeleteValue(HKEY key, const char* valueName) {
    return ::RegDeleteValueA(Native(key), valueName);
}

LONG DeleteKey(HKEY key, const char* subKey) {
    if (subKey == nullptr || *subKey == '\0') {
        return kErrorInvalidParameter; // never the key of the handle itself
    }
    return ::RegDeleteKeyA(Native(key), subKey);
}

LONG CloseKey(HKEY key) {
    return ::RegCloseKey(Native(key));
}

LONG SetKeySecurity(HKEY key, DWORD securityInformation, const SecurityDescriptor& descriptor) {
    SECURITY_DESCRIPTOR sd;
    if (!::InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION)) {
        return static_cast<LONG>(::GetLastError());
    }
    LocalSid owner(descriptor.owner);
    if ((securityInformation & kOwnerSecurityInformation) != 0) {
        if (owner.Get() == nullptr) {
            return kErrorInvalidSid;
        }
        if (!::SetSecurityDescriptorOwner(&sd, owner.Get(), FALSE)) {
            return static_cast<LONG>(::GetLastError());
        }
    }
    std::vector<std::unique_ptr<LocalSid>> sids;
    std::vector<BYTE> aclBytes;
    if ((securityInformation & kDaclSecurityInformation) != 0) {
        ::DWORD aclSize = sizeof(ACL);
        for (const Ace& ace : descriptor.dacl) {
            sids.push_back(std::make_unique<LocalSid>(ace.sid));
            if (sids.back()->Get() == nullptr) {
                return kErrorInvalidSid;
            }
            aclSize +=
                sizeof(ACCESS_ALLOWED_ACE) - sizeof(::DWORD) + ::GetLengthSid(sids.back()->Get());
        }
        aclBytes.assign(aclSize, 0);
        auto* acl = reinterpret_cast<PACL>(aclBytes.data());
        if (!::InitializeAcl(acl, aclSize, ACL_REVISION)) {
            return static_cast<LONG>(::GetLastError());
        }
        for (std::size_t i = 0; i < descriptor.dacl.size(); ++i) {
            const Ace& ace = descriptor.dacl[i];
            const BOOL added =
                ace.type == kAccessDeniedAceType
                    ? ::AddAccessDeniedAceEx(acl, ACL_REVISION, ace.flags, ace.mask, sids[i]->Get())
                    : ::AddAccessAllowedAceEx(acl, ACL_REVISION, ace.flags, ace.mask,
                                              sids[i]->Get());
            if (!added) {
                return static_cast<LONG>(::GetLastError());
            }
        }
        if (!::SetSecurityDescriptorDacl(&sd, descriptor.daclPresent ? TRUE : FALSE,
                                         descriptor.daclPresent ? acl : nullptr,
                                         descriptor.daclDefaulted ? TRUE : FALSE)) {
            return static_cast<LONG>(::GetLastError());
        }
    }
    return ::RegSetKeySecurity(Native(key), securityInformation, &sd);
}

LONG GetKeySecurity(HKEY key, SecurityDescriptor* descriptor) {
    if (descriptor == nullptr) {
        return kErrorInvalidParameter;
    }
    const SECURITY_INFORMATION wanted = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    ::DWORD size = 0;
    LONG status = ::RegGetKeySecurity(Native(key), wanted, nullptr, &size);
    if (status != ERROR_INSUFFICIENT_BUFFER) {
        return status;
    }
    std::vector<BYTE> bytes(size);
    auto* sd = reinterpret_cast<PSECURITY_DESCRIPTOR>(bytes.data());
    status = ::RegGetKeySecurity(Native(key), wanted, sd, &size);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    SecurityDescriptor result;
    PSID owner = nullptr;
    BOOL ownerDefaulted = FALSE;
    if (::GetSecurityDescriptorOwner(sd, &owner, &ownerDefaulted)) {
        result.owner = SidText(owner);
    }
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL acl = nullptr;
    if (!::GetSecurityDescriptorDacl(sd, &present, &acl, &defaulted)) {
        return static_cast<LONG>(::GetLastError());
    }
    result.daclPresent = present && acl != nullptr;
    result.daclDefaulted = defaulted != FALSE;
    for (::DWORD i = 0; result.daclPresent && i < acl->AceCount; ++i) {
        void* raw = nullptr;
        if (!::GetAce(acl, i, &raw)) {
            return static_cast<LONG>(::GetLastError());
        }
        const auto* header = static_cast<const ACE_HEADER*>(raw);
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE &&
            header->AceType != ACCESS_DENIED_ACE_TYPE) {
            continue; // object and callback entries are not used on keys here
        }
        const auto* entry = static_cast<const ACCESS_ALLOWED_ACE*>(raw);
        result.dacl.push_back(
            {header->AceType == ACCESS_DENIED_ACE_TYPE ? kAccessDeniedAceType
                                                       : kAccessAllowedAceType,
             header->AceFlags, static_cast<DWORD>(entry->Mask),
             SidText(reinterpret_cast<PSID>(const_cast<::DWORD*>(&entry->SidStart)))});
    }
    *descriptor = std::move(result);
    return ERROR_SUCCESS;
}

} // namespace system_store
} // namespace kestrel::platform::registry
