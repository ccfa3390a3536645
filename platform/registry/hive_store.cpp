// Registry store over the hive file (hive_control.h), the same on every platform. One lock
// serialises every call of the process; each call first makes sure the loaded hive is the one in
// the file, and each change is written out before the call returns.
#include "platform/module_dir/module_dir.h"
#include "platform/registry/hive_control.h"
#include "platform/registry/hive_file.h"
#include "platform/registry/hive_file_io.h"
#include "platform/registry/registry_stores.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <mutex>
#include <optional>
#include <unordered_map>

namespace kestrel::platform::registry {
namespace {

constexpr std::size_t kMaxAceCount = 1024;

struct OpenHandle {
    std::weak_ptr<HiveKey> key;
    DWORD granted = 0;
};

} // namespace

// Process-wide state. It exists once per process because it lives only in KestrelPlatform, the
// shared library every module calls into; the accessor itself is not exported.
namespace detail {

struct HiveStore {
    std::mutex lock;
    bool loaded = false;
    std::string path;
    HiveFileStamp stamp;
    std::optional<Hive> hive; // empty when the file is corrupt
    std::unordered_map<std::uintptr_t, OpenHandle> handles;
    std::uintptr_t nextHandle = 0x1000;
    CallerToken token = DefaultCallerToken();
};

HiveStore& HiveStoreInstance() {
    static HiveStore store;
    return store;
}

} // namespace detail

namespace {

using detail::HiveStore;

// Makes the loaded hive the one in the file.
LONG Refresh(HiveStore& s) {
    const std::string path = HiveFilePath();
    const HiveFileStamp stamp = StampHiveFile(path);
    if (!s.loaded || path != s.path || stamp != s.stamp) {
        if (!stamp.exists) {
            s.hive = Hive::Fresh();
        } else {
            const auto bytes = ReadHiveFile(path);
            if (!bytes) {
                s.loaded = false;
                return kErrorRegistryIoFailed;
            }
            s.hive = ParseHive(*bytes);
        }
        s.loaded = true;
        s.path = path;
        s.stamp = stamp;
    }
    return s.hive ? kErrorSuccess : kErrorRegistryCorrupt;
}

// Writes the changed hive out; on failure runs undo so memory matches the file again.
LONG Commit(HiveStore& s, const std::function<void()>& undo) {
    if (ReplaceHiveFile(s.path, SerializeHive(*s.hive))) {
        s.stamp = StampHiveFile(s.path);
        return kErrorSuccess;
    }
    undo();
    return kErrorRegistryIoFailed;
}

template <typename Op>
LONG WithHive(Op op) {
    HiveStore& s = detail::HiveStoreInstance();
    std::lock_guard guard(s.lock);
    if (const LONG status = Refresh(s); status != kErrorSuccess) {
        return status;
    }
    return op(s);
}

struct Resolved {
    LONG status = kErrorSuccess;
    std::shared_ptr<HiveKey> key;
    DWORD granted = 0;
};

Resolved Resolve(HiveStore& s, HKEY handle) {
    if (auto root = s.hive->Root(handle)) {
        return {kErrorSuccess, root, GrantedRights(root->security, s.token)};
    }
    const auto it = s.handles.find(reinterpret_cast<std::uintptr_t>(handle));
    if (handle == nullptr || it == s.handles.end()) {
        return {kErrorInvalidHandle, nullptr, 0};
    }
    auto key = it->second.key.lock();
    if (key == nullptr) {
        return {kErrorKeyDeleted, nullptr, 0};
    }
    return {kErrorSuccess, std::move(key), it->second.granted};
}

// Splits a key path at backslashes. One trailing backslash is allowed; empty names elsewhere
// are not.
LONG SplitPath(const char* subKey, std::vector<std::string_view>& names) {
    names.clear();
    if (subKey == nullptr) {
        return kErrorSuccess;
    }
    std::string_view path(subKey);
    if (!path.empty() && path.back() == '\\') {
        path.remove_suffix(1);
    }
    while (!path.empty()) {
        const auto cut = path.find('\\');
        const auto name = path.substr(0, cut);
        if (name.empty()) {
            return kErrorBadPathname;
        }
        if (!IsValidKeyName(name) || names.size() >= kMaxKeyDepth) {
            return kErrorInvalidParameter;
        }
        names.push_back(name);
        path = cut == std::string_view::npos ? std::string_view() : path.substr(cut + 1);
        if (cut != std::string_view::npos && path.empty()) {
            return kErrorBadPathname; // a doubled trailing backslash
        }
    }
    return kErrorSuccess;
}

// Follows names from key as far as they exist; returns how many were found.
std::size_t Walk(std::shared_ptr<HiveKey>& key, const std::vector<std::string_view>& names) {
    std::size_t found = 0;
    for (; found < names.size(); ++found) {
        auto next = key->FindSubkey(names[found]);
        if (next == nullptr) {
            break;
        }
        key = std::move(next);
    }
    return found;
}

HKEY AddHandle(HiveStore& s, const std::shared_ptr<HiveKey>& key, DWORD granted) {
    const std::uintptr_t id = s.nextHandle;
    s.nextHandle += 4;
    s.handles[id] = {key, granted};
    return reinterpret_cast<HKEY>(id);
}

bool ValidDescriptorParts(DWORD information, const SecurityDescriptor& descriptor) {
    if ((information & kOwnerSecurityInformation) != 0 && !IsValidSid(descriptor.owner)) {
        return false;
    }
    if ((information & kDaclSecurityInformation) != 0) {
        for (const Ace& ace : descriptor.dacl) {
            if (!IsValidSid(ace.sid)) {
                return false;
            }
        }
    }
    return true;
}

} // namespace

std::string HiveFilePath() {
    return ModuleFilePath(kHiveFileName);
}

CallerToken DefaultCallerToken() {
    return {{kSidAdministrators, kSidEveryone, kSidAuthenticatedUsers, kSidUsers},
            kSidAdministrators};
}

void SetCallerToken(CallerToken token) {
    HiveStore& s = detail::HiveStoreInstance();
    std::lock_guard guard(s.lock);
    s.token = std::move(token);
}

CallerToken CurrentCallerToken() {
    HiveStore& s = detail::HiveStoreInstance();
    std::lock_guard guard(s.lock);
    return s.token;
}

void DropLoadedHive() {
    HiveStore& s = detail::HiveStoreInstance();
    std::lock_guard guard(s.lock);
    s.loaded = false;
    s.hive.reset();
}

namespace hive_store {

LONG OpenKey(HKEY key, const char* subKey, HKEY* result) {
    return hive_store::OpenKeyEx(key, subKey, kMaximumAllowed, result);
}

LONG OpenKeyEx(HKEY key, const char* subKey, REGSAM access, HKEY* result) {
    if (result == nullptr) {
        return kErrorInvalidParameter;
    }
    *result = nullptr;
    return WithHive([&](HiveStore& s) {
        Resolved base = Resolve(s, key);
        if (base.status != kErrorSuccess) {
            return base.status;
        }
        std::vector<std::string_view> names;
        if (const LONG status = SplitPath(subKey, names); status != kErrorSuccess) {
            return status;
        }
        if (Walk(base.key, names) != names.size()) {
            return kErrorFileNotFound;
        }
        const auto granted = CheckAccess(base.key->security, s.token, access);
        if (!granted) {
            return kErrorAccessDenied;
        }
        *result = AddHandle(s, base.key, *granted);
        return kErrorSuccess;
    });
}

LONG CreateKey(HKEY key, const char* subKey, HKEY* result) {
    if (result == nullptr) {
        return kErrorInvalidParameter;
    }
    *result = nullptr;
    return WithHive([&](HiveStore& s) {
        Resolved base = Resolve(s, key);
        if (base.status != kErrorSuccess) {
            return base.status;
        }
        std::vector<std::string_view> names;
        if (const LONG status = SplitPath(subKey, names); status != kErrorSuccess) {
            return status;
        }
        std::shared_ptr<HiveKey> target = base.key;
        const std::size_t found = Walk(target, names);
        if (found < names.size()) {
            if (target->Depth() + (names.size() - found) > kMaxKeyDepth) {
                return kErrorInvalidParameter;
            }
            if ((GrantedRights(target->security, s.token) & kKeyCreateSubKey) == 0) {
                return kErrorAccessDenied;
            }
            HiveKey* const firstParent = target.get();
            HiveKey* firstCreated = nullptr;
            for (std::size_t i = found; i < names.size(); ++i) {
                auto created = std::make_shared<HiveKey>();
                created->name = std::string(names[i]);
                created->security = InheritedSecurity(target->security, s.token.owner);
                target->InsertSubkey(created);
                target = std::move(created);
                if (firstCreated == nullptr) {
                    firstCreated = target.get();
                }
            }
            const LONG status = Commit(s, [&] { firstParent->RemoveSubkey(firstCreated); });
            if (status != kErrorSuccess) {
                return status;
            }
        }
        const auto granted = CheckAccess(target->security, s.token, kMaximumAllowed);
        if (!granted) {
            return kErrorAccessDenied;
        }
        *result = AddHandle(s, target, *granted);
        return kErrorSuccess;
    });
}

LONG EnumKey(HKEY key, DWORD index, char* name, DWORD* nameSize) {
    return WithHive([&](HiveStore& s) {
        const Resolved base = Resolve(s, key);
        if (base.status != kErrorSuccess) {
            return base.status;
        }
        if ((base.granted & kKeyEnumerateSubKeys) == 0) {
            return kErrorAccessDenied;
        }
        if (name == nullptr || nameSize == nullptr) {
            return kErrorInvalidParameter;
        }
        if (index >= base.key->subkeys.size()) {
            return kErrorNoMoreItems;
        }
        const std::string& subName = base.key->subkeys[index]->name;
        if (subName.size() >= *nameSize) {
            return kErrorMoreData;
        }
        std::memcpy(name, subName.c_str(), subName.size() + 1);
        *nameSize = static_cast<DWORD>(subName.size());
        return kErrorSuccess;
    });
}

namespace {

// The data half of EnumValue and QueryValue.
LONG CopyValueOut(const HiveValue& value, DWORD* type, BYTE* data, DWORD* dataSize) {
    if (data != nullptr && dataSize == nullptr) {
        return kErrorInvalidParameter;
    }
    if (type != nullptr) {
        *type = value.type;
    }
    if (dataSize == nullptr) {
        return kErrorSuccess;
    }
    const auto size = static_cast<DWORD>(value.data.size());
    if (data != nullptr) {
        if (size > *dataSize) {
            *dataSize = size;
            return kErrorMoreData;
        }
        std::copy(value.data.begin(), value.data.end(), data);
    }
    *dataSize = size;
    return kErrorSuccess;
}

} // namespace

LONG EnumValue(HKEY key, DWORD index, char* name, DWORD* nameSize, DWORD* type, BYTE* data,
               DWORD* dataSize) {
    return WithHive([&](HiveStore& s) {
        const Resolved base = Resolve(s, key);
        if (base.status != kErrorSuccess) {
            return base.status;
        }
        if ((base.granted & kKeyQueryValue) == 0) {
            return kErrorAccessDenied;
        }
        if (name == nullptr || nameSize == nullptr) {
            return kErrorInvalidParameter;
        }
        if (index >= base.key->values.size()) {
            return kErrorNoMoreItems;
        }
        const HiveValue& value = base.key->values[index];
        if (value.name.size() >= *nameSize) {
            return kErrorMoreData;
        }
        const LONG status = CopyValueOut(value, type, data, dataSize);
        if (status == kErrorSuccess) {
            std::memcpy(name, value.name.c_str(), value.name.size() + 1);
            *nameSize = static_cast<DWORD>(value.name.size());
        }
        return status;
    });
}

LONG QueryValue(HKEY key, const char* valueName, DWORD* type, BYTE* data, DWORD* dataSize) {
    return WithHive([&](HiveStore& s) {
        const Resolved base = Resolve(s, key);
        if (base.status != kErrorSuccess) {
            return base.status;
        }
        if ((base.granted & kKeyQueryValue) == 0) {
            return kErrorAccessDenied;
        }
        const HiveValue* value = base.key->FindValue(valueName == nullptr ? "" : valueName);
        if (value == nullptr) {
            return kErrorFileNotFound;
        }
        return CopyValueOut(*value, type, data, dataSize);
    });
}

LONG SetValue(HKEY key, const char* valueName, DWORD type, const BYTE* data, DWORD dataSize) {
    return WithHive([&](HiveStore& s) {
        const Resolved base = Resolve(s, key);
        if (base.status != kErrorSuccess) {
            return base.status;
        }
        if ((base.granted & kKeySetValue) == 0) {
            return kErrorAccessDenied;
        }
        const std::string_view name = valueName == nullptr ? "" : valueName;
        if (name.size() > kMaxValueNameLength || (data == nullptr && dataSize != 0) ||
            dataSize > kMaxValueDataSize) {
            return kErrorInvalidParameter;
        }
        HiveValue fresh{std::string(name), type, {}};
        if (dataSize != 0) {
            fresh.data.assign(data, data + dataSize);
        }
        HiveKey& target = *base.key;
        if (HiveValue* existing = target.FindValue(name)) {
            fresh.name = existing->name; // a value keeps the case it was created with
            std::swap(*existing, fresh);
            const std::size_t at = static_cast<std::size_t>(existing - target.values.data());
            return Commit(s, [&] { std::swap(target.values[at], fresh); });
        }
        target.values.push_back(std::move(fresh));
        return Commit(s, [&] { target.values.pop_back(); });
    });
}

LONG DeleteValue(HKEY key, const char* valueName) {
    return WithHive([&](HiveStore& s) {
        const Resolved base = Resolve(s, key);
        if (base.status != kErrorSuccess) {
            return base.status;
        }
        if ((base.granted & kKeySetValue) == 0) {
            return kErrorAccessDenied;
        }
        HiveKey& target = *base.key;
        HiveValue* value = target.FindValue(valueName == nullptr ? "" : valueName);
        if (value == nullptr) {
            return kErrorFileNotFound;
        }
        const auto index = value - target.values.data();
        HiveValue removed = std::move(*value);
        target.values.erase(target.values.begin() + index);
        return Commit(
            s, [&] { target.values.insert(target.values.begin() + index, std::move(removed)); });
    });
}

LONG DeleteKey(HKEY key, const char* subKey) {
    return WithHive([&](HiveStore& s) {
        Resolved base = Resolve(s, key);
        if (base.status != kErrorSuccess) {
            return base.status;
        }
        std::vector<std::string_view> names;
        if (const LONG status = SplitPath(subKey, names); status != kErrorSuccess) {
            return status;
        }
        if (names.empty()) {
            return kErrorInvalidParameter; // never the key of the handle itself
        }
        std::shared_ptr<HiveKey> target = base.key;
        if (Walk(target, names) != names.size()) {
            return kErrorFileNotFound;
        }
        if ((GrantedRights(target->security, s.token) & kDelete) == 0 || !target->subkeys.empty()) {
            return kErrorAccessDenied;
        }
        HiveKey* parent = target->parent;
        auto removed = parent->RemoveSubkey(target.get());
        return Commit(s, [&] { parent->InsertSubkey(removed); });
    });
}

LONG CloseKey(HKEY key) {
    HiveStore& s = detail::HiveStoreInstance();
    std::lock_guard guard(s.lock);
    for (const HiveRoot& root : kHiveRoots) {
        if (key == RootKey(root.index)) {
            return kErrorSuccess;
        }
    }
    return s.handles.erase(reinterpret_cast<std::uintptr_t>(key)) == 1 ? kErrorSuccess
                                                                       : kErrorInvalidHandle;
}

LONG SetKeySecurity(HKEY key, DWORD securityInformation, const SecurityDescriptor& descriptor) {
    return WithHive([&](HiveStore& s) {
        const Resolved base = Resolve(s, key);
        if (base.status != kErrorSuccess) {
            return base.status;
        }
        if (securityInformation == 0 ||
            (securityInformation & ~(kOwnerSecurityInformation | kDaclSecurityInformation)) != 0 ||
            descriptor.dacl.size() > kMaxAceCount ||
            std::any_of(descriptor.dacl.begin(), descriptor.dacl.end(),
                        [](const Ace& ace) { return ace.type > kAccessDeniedAceType; })) {
            return kErrorInvalidParameter;
        }
        if (((securityInformation & kOwnerSecurityInformation) != 0 &&
             (base.granted & kWriteOwner) == 0) ||
            ((securityInformation & kDaclSecurityInformation) != 0 &&
             (base.granted & kWriteDac) == 0)) {
            return kErrorAccessDenied;
        }
        if (!ValidDescriptorParts(securityInformation, descriptor)) {
            return kErrorInvalidSid;
        }
        HiveKey& target = *base.key;
        const SecurityDescriptor previous = target.security;
        if ((securityInformation & kOwnerSecurityInformation) != 0) {
            target.security.owner = descriptor.owner;
        }
        if ((securityInformation & kDaclSecurityInformation) != 0) {
            target.security.daclPresent = descriptor.daclPresent;
            target.security.daclDefaulted = descriptor.daclDefaulted;
            target.security.dacl = descriptor.daclPresent ? descriptor.dacl : std::vector<Ace>{};
        }
        return Commit(s, [&] { target.security = previous; });
    });
}

LONG GetKeySecurity(HKEY key, SecurityDescriptor* descriptor) {
    return WithHive([&](HiveStore& s) {
        const Resolved base = Resolve(s, key);
        if (base.status != kErrorSuccess) {
            return base.status;
        }
        if ((base.granted & kReadControl) == 0) {
            return kErrorAccessDenied;
        }
        if (descriptor == nullptr) {
            return kErrorInvalidParameter;
        }
        *descriptor = base.key->security;
        return kErrorSuccess;
    });
}

} // namespace hive_store
} // namespace kestrel::platform::registry
