#include "platform/registry/hive_file.h"

#include <algorithm>
#include <cstring>

namespace kestrel::platform::registry {
namespace {

// Smallest encodings, used to check a count against the bytes left before looping over it.
constexpr std::size_t kMinAceBytes = 1 + 1 + 4 + 2;
constexpr std::size_t kMinValueBytes = 2 + 4 + 4;
constexpr std::size_t kMinKeyBytes = 2 + 2 + 1 + 2 + 4 + 4;
constexpr std::uint8_t kDaclPresentFlag = 0x01;
constexpr std::uint8_t kDaclDefaultedFlag = 0x02;

class Writer {
public:
    void U8(std::uint8_t v) { out_.push_back(static_cast<char>(v)); }
    void U16(std::uint16_t v) {
        U8(static_cast<std::uint8_t>(v));
        U8(static_cast<std::uint8_t>(v >> 8));
    }
    void U32(std::uint32_t v) {
        U16(static_cast<std::uint16_t>(v));
        U16(static_cast<std::uint16_t>(v >> 16));
    }
    // Lengths were bounded when the strings entered the hive.
    void Str16(std::string_view s) {
        U16(static_cast<std::uint16_t>(s.size()));
        out_.append(s);
    }
    void Bytes(const std::vector<BYTE>& b) { out_.append(b.begin(), b.end()); }
    std::string Take() { return std::move(out_); }

private:
    std::string out_;
};

class Reader {
public:
    explicit Reader(std::string_view bytes) : bytes_(bytes) {}

    std::size_t Left() const { return bytes_.size() - pos_; }
    bool Ok() const { return ok_; }
    bool Fail() { return ok_ = false; }

    std::uint8_t U8() {
        if (!ok_ || Left() < 1) {
            Fail();
            return 0;
        }
        return static_cast<std::uint8_t>(bytes_[pos_++]);
    }
    std::uint16_t U16() {
        const std::uint16_t lo = U8();
        return static_cast<std::uint16_t>(lo | (U8() << 8));
    }
    std::uint32_t U32() {
        const std::uint32_t lo = U16();
        return lo | (static_cast<std::uint32_t>(U16()) << 16);
    }
    std::string_view Take(std::size_t n) {
        if (!ok_ || Left() < n) {
            Fail();
            return {};
        }
        const auto piece = bytes_.substr(pos_, n);
        pos_ += n;
        return piece;
    }
    std::string Str16() { return std::string(Take(U16())); }

private:
    std::string_view bytes_;
    std::size_t pos_ = 0;
    bool ok_ = true;
};

void WriteKey(Writer& w, const HiveKey& key) {
    w.Str16(key.name);
    w.Str16(key.security.owner);
    w.U8(static_cast<std::uint8_t>((key.security.daclPresent ? kDaclPresentFlag : 0) |
                                   (key.security.daclDefaulted ? kDaclDefaultedFlag : 0)));
    w.U16(static_cast<std::uint16_t>(key.security.dacl.size()));
    for (const Ace& ace : key.security.dacl) {
        w.U8(ace.type);
        w.U8(ace.flags);
        w.U32(ace.mask);
        w.Str16(ace.sid);
    }
    w.U32(static_cast<std::uint32_t>(key.values.size()));
    for (const HiveValue& value : key.values) {
        w.Str16(value.name);
        w.U32(value.type);
        w.U32(static_cast<std::uint32_t>(value.data.size()));
        w.Bytes(value.data);
    }
    w.U32(static_cast<std::uint32_t>(key.subkeys.size()));
    for (const auto& sub : key.subkeys) {
        WriteKey(w, *sub);
    }
}

bool ReadSecurity(Reader& r, SecurityDescriptor& security) {
    security.owner = r.Str16();
    if (!security.owner.empty() && !IsValidSid(security.owner)) {
        return false;
    }
    const std::uint8_t flags = r.U8();
    if ((flags & ~(kDaclPresentFlag | kDaclDefaultedFlag)) != 0) {
        return false;
    }
    security.daclPresent = (flags & kDaclPresentFlag) != 0;
    security.daclDefaulted = (flags & kDaclDefaultedFlag) != 0;
    const std::size_t aceCount = r.U16();
    if (!r.Ok() || aceCount > r.Left() / kMinAceBytes) {
        return false;
    }
    security.dacl.resize(aceCount);
    for (Ace& ace : security.dacl) {
        ace.type = r.U8();
        ace.flags = r.U8();
        ace.mask = r.U32();
        ace.sid = r.Str16();
        if (!r.Ok() || ace.type > kAccessDeniedAceType || !IsValidSid(ace.sid)) {
            return false;
        }
    }
    return r.Ok();
}

bool ReadValues(Reader& r, HiveKey& key) {
    const std::size_t count = r.U32();
    if (!r.Ok() || count > r.Left() / kMinValueBytes) {
        return false;
    }
    key.values.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        HiveValue value;
        value.name = r.Str16();
        value.type = r.U32();
        const std::size_t size = r.U32();
        if (!r.Ok() || value.name.size() > kMaxValueNameLength ||
            value.name.find('\0') != std::string::npos || size > kMaxValueDataSize ||
            key.FindValue(value.name) != nullptr) {
            return false;
        }
        const auto data = r.Take(size);
        value.data.assign(data.begin(), data.end());
        key.values.push_back(std::move(value));
    }
    return r.Ok();
}

std::shared_ptr<HiveKey> ReadKey(Reader& r, std::size_t depth) {
    auto key = std::make_shared<HiveKey>();
    key->name = r.Str16();
    if (!r.Ok() || (depth > 0 && !IsValidKeyName(key->name)) || !ReadSecurity(r, key->security) ||
        !ReadValues(r, *key)) {
        return nullptr;
    }
    const std::size_t count = r.U32();
    if (!r.Ok() || count > r.Left() / kMinKeyBytes || (count > 0 && depth >= kMaxKeyDepth)) {
        return nullptr;
    }
    for (std::size_t i = 0; i < count; ++i) {
        auto sub = ReadKey(r, depth + 1);
        if (sub == nullptr || key->FindSubkey(sub->name) != nullptr) {
            return nullptr;
        }
        key->InsertSubkey(std::move(sub));
    }
    return key;
}

} // namespace

std::string SerializeHive(const Hive& hive) {
    Writer w;
    for (char c : kHiveMagic) {
        w.U8(static_cast<std::uint8_t>(c));
    }
    w.U32(kHiveFormatVersion);
    w.U32(static_cast<std::uint32_t>(hive.roots.size()));
    for (const auto& root : hive.roots) {
        WriteKey(w, *root);
    }
    return w.Take();
}

std::optional<Hive> ParseHive(std::string_view bytes) {
    Reader r(bytes);
    if (r.Take(sizeof kHiveMagic) != std::string_view(kHiveMagic, sizeof kHiveMagic) ||
        r.U32() != kHiveFormatVersion || r.U32() != kHiveRoots.size()) {
        return std::nullopt;
    }
    Hive hive;
    for (std::size_t i = 0; i < kHiveRoots.size(); ++i) {
        hive.roots[i] = ReadKey(r, 0);
        if (hive.roots[i] == nullptr || hive.roots[i]->name != kHiveRoots[i].name) {
            return std::nullopt;
        }
    }
    if (!r.Ok() || r.Left() != 0) {
        return std::nullopt;
    }
    return hive;
}

} // namespace kestrel::platform::registry
