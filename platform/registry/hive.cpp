#include "platform/registry/hive.h"

#include <algorithm>
#include <charconv>
#include <cstdint>

namespace kestrel::platform::registry {
namespace {

char FoldCase(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// Parses a decimal number of at most maxValue; advances text past it.
bool ParseNumber(std::string_view& text, std::uint64_t maxValue) {
    std::uint64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end == text.data() || value > maxValue) {
        return false;
    }
    text.remove_prefix(static_cast<std::size_t>(end - text.data()));
    return true;
}

} // namespace

bool KeyNameLess(std::string_view a, std::string_view b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return static_cast<unsigned char>(FoldCase(x)) < static_cast<unsigned char>(FoldCase(y));
    });
}

bool KeyNamesEqual(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return FoldCase(x) == FoldCase(y);
           });
}

bool IsValidKeyName(std::string_view name) {
    return !name.empty() && name.size() <= kMaxKeyNameLength &&
           name.find('\\') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

bool IsValidSid(std::string_view sid) {
    if (!sid.starts_with("S-1-")) {
        return false;
    }
    sid.remove_prefix(4);
    if (!ParseNumber(sid, (std::uint64_t{1} << 48) - 1)) {
        return false;
    }
    int subAuthorities = 0;
    while (!sid.empty()) {
        if (sid.front() != '-') {
            return false;
        }
        sid.remove_prefix(1);
        if (!ParseNumber(sid, UINT32_MAX) || ++subAuthorities > 15) {
            return false;
        }
    }
    return subAuthorities >= 1;
}

std::size_t HiveKey::Depth() const {
    std::size_t depth = 0;
    for (const HiveKey* key = parent; key != nullptr; key = key->parent) {
        ++depth;
    }
    return depth;
}

std::shared_ptr<HiveKey> HiveKey::FindSubkey(std::string_view subName) const {
    const auto it = std::lower_bound(
        subkeys.begin(), subkeys.end(), subName,
        [](const auto& key, std::string_view n) { return KeyNameLess(key->name, n); });
    if (it != subkeys.end() && KeyNamesEqual((*it)->name, subName)) {
        return *it;
    }
    return nullptr;
}

void HiveKey::InsertSubkey(std::shared_ptr<HiveKey> key) {
    key->parent = this;
    const auto it = std::lower_bound(
        subkeys.begin(), subkeys.end(), key->name,
        [](const auto& k, const std::string& n) { return KeyNameLess(k->name, n); });
    subkeys.insert(it, std::move(key));
}

std::shared_ptr<HiveKey> HiveKey::RemoveSubkey(const HiveKey* key) {
    const auto it = std::find_if(subkeys.begin(), subkeys.end(),
                                 [key](const auto& k) { return k.get() == key; });
    if (it == subkeys.end()) {
        return nullptr;
    }
    std::shared_ptr<HiveKey> removed = std::move(*it);
    subkeys.erase(it);
    removed->parent = nullptr;
    return removed;
}

HiveValue* HiveKey::FindValue(std::string_view valueName) {
    const auto it = std::find_if(values.begin(), values.end(), [valueName](const HiveValue& v) {
        return KeyNamesEqual(v.name, valueName);
    });
    return it == values.end() ? nullptr : &*it;
}

SecurityDescriptor DefaultRootSecurity() {
    SecurityDescriptor security;
    security.owner = kSidAdministrators;
    security.dacl = {
        {kAccessAllowedAceType, kContainerInheritAce, kKeyAllAccess, kSidLocalSystem},
        {kAccessAllowedAceType, kContainerInheritAce, kKeyAllAccess, kSidAdministrators},
        {kAccessAllowedAceType, kContainerInheritAce, kKeyRead, kSidUsers}};
    return security;
}

SecurityDescriptor InheritedSecurity(const SecurityDescriptor& parent, const std::string& owner) {
    SecurityDescriptor security;
    security.owner = owner;
    security.daclPresent = true;
    for (const Ace& ace : parent.daclPresent ? parent.dacl : std::vector<Ace>{}) {
        if ((ace.flags & kContainerInheritAce) == 0) {
            continue;
        }
        Ace inherited = ace;
        inherited.flags = static_cast<BYTE>((ace.flags & ~kInheritOnlyAce) | kInheritedAce);
        if ((ace.flags & kNoPropagateInheritAce) != 0) {
            inherited.flags = kInheritedAce;
        }
        security.dacl.push_back(std::move(inherited));
    }
    if (!parent.daclPresent) {
        security.daclPresent = false;
    }
    return security;
}

Hive Hive::Fresh() {
    Hive hive;
    for (std::size_t i = 0; i < kHiveRoots.size(); ++i) {
        auto root = std::make_shared<HiveKey>();
        root->name = kHiveRoots[i].name;
        root->security = DefaultRootSecurity();
        hive.roots[i] = std::move(root);
    }
    return hive;
}

std::shared_ptr<HiveKey> Hive::Root(HKEY handle) const {
    for (std::size_t i = 0; i < kHiveRoots.size(); ++i) {
        if (handle == RootKey(kHiveRoots[i].index)) {
            return roots[i];
        }
    }
    return nullptr;
}

} // namespace kestrel::platform::registry
