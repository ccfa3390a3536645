#include "platform/registry/hive_file.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

namespace reg = kestrel::platform::registry;

std::shared_ptr<reg::HiveKey> AddKey(reg::HiveKey& parent, const std::string& name) {
    auto key = std::make_shared<reg::HiveKey>();
    key->name = name;
    key->security = reg::InheritedSecurity(parent.security, reg::kSidAdministrators);
    parent.InsertSubkey(key);
    return key;
}

// A hive with nesting, every kind of value and a hand-made security descriptor.
reg::Hive SampleHive() {
    reg::Hive hive = reg::Hive::Fresh();
    auto& machine = *hive.roots[2];
    auto system = AddKey(machine, "SYSTEM");
    auto usbstor = AddKey(*AddKey(*system, "Enum"), "USBSTOR");
    auto disk = AddKey(*usbstor, "Disk&Ven_USB");
    AddKey(*usbstor, "alpha");
    AddKey(*usbstor, "Omega");
    disk->values = {{"", reg::kRegSz, {'d', 0}},
                    {"FriendlyName", reg::kRegSz, {'U', 'S', 'B', 0}},
                    {"Count", reg::kRegDword, {1, 0, 0, 0}},
                    {"Empty", reg::kRegBinary, {}},
                    {std::string(300, 'n'), 0x12345678, std::vector<reg::BYTE>(70000, 0xA5)}};
    disk->security = {reg::kSidLocalSystem,
                      true,
                      true,
                      {{reg::kAccessDeniedAceType, 0, reg::kDelete, reg::kSidAdministrators},
                       {reg::kAccessAllowedAceType, reg::kContainerInheritAce, reg::kKeyRead,
                        "S-1-5-21-1004336348-1177238915-682003330-512"}}};
    hive.roots[1]->security.daclPresent = false;
    hive.roots[1]->security.dacl.clear();
    return hive;
}

void ExpectSameKeys(const reg::HiveKey& a, const reg::HiveKey& b) {
    EXPECT_EQ(a.name, b.name);
    EXPECT_EQ(a.security, b.security) << a.name;
    EXPECT_EQ(a.values, b.values) << a.name;
    ASSERT_EQ(a.subkeys.size(), b.subkeys.size()) << a.name;
    for (std::size_t i = 0; i < a.subkeys.size(); ++i) {
        EXPECT_EQ(b.subkeys[i]->parent, &b);
        ExpectSameKeys(*a.subkeys[i], *b.subkeys[i]);
    }
}

TEST(RegistryHiveFile, RoundTripKeepsKeysValuesAndSecurity) {
    const reg::Hive hive = SampleHive();
    const std::string bytes = reg::SerializeHive(hive);
    const auto parsed = reg::ParseHive(bytes);
    ASSERT_TRUE(parsed);
    for (std::size_t i = 0; i < hive.roots.size(); ++i) {
        ExpectSameKeys(*hive.roots[i], *parsed->roots[i]);
    }
    EXPECT_EQ(reg::SerializeHive(*parsed), bytes);
}

TEST(RegistryHiveFile, EveryTruncationAndTrailingByteIsRefused) {
    const std::string bytes = reg::SerializeHive(SampleHive());
    // Every cut inside the small records; the big value's data is sampled.
    for (std::size_t size = 0; size < bytes.size(); size += (size < 2000 ? 1 : 997)) {
        ASSERT_FALSE(reg::ParseHive(std::string_view(bytes).substr(0, size))) << size;
    }
    EXPECT_FALSE(reg::ParseHive(bytes + '\0'));
}

// Replaces the first occurrence of `from` in the serialised sample with `to` (same length).
std::string Patched(const std::string& from, const std::string& to) {
    std::string bytes = reg::SerializeHive(SampleHive());
    const auto at = bytes.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    EXPECT_EQ(from.size(), to.size());
    return bytes.replace(at, from.size(), to);
}

struct CorruptCase {
    const char* label;
    std::string from;
    std::string to;
};
void PrintTo(const CorruptCase& c, std::ostream* os) {
    *os << c.label;
}

class RegistryHiveFileCorrupt : public ::testing::TestWithParam<CorruptCase> {};

TEST_P(RegistryHiveFileCorrupt, IsRefused) {
    EXPECT_FALSE(reg::ParseHive(Patched(GetParam().from, GetParam().to)));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RegistryHiveFileCorrupt,
    ::testing::Values(CorruptCase{"Magic", "KHIV", "KHIX"},
                      CorruptCase{"RootName", "HKEY_USERS", "HKEY_USERZ"},
                      CorruptCase{"DuplicateSubkey", "Omega", "ALPHA"},
                      CorruptCase{"BackslashInName", "alpha", "al\\ha"},
                      CorruptCase{"DuplicateValue", "Empty", "COUNT"},
                      CorruptCase{"NulInValueName", "Empty", std::string("Em\0ty", 5)},
                      CorruptCase{"BadSid", "S-1-5-21-1004336348", "S-1-5-21-10043363x8"},
                      CorruptCase{"BadSidInRootList", "S-1-5-18", "S-1-5-1x"},
                      CorruptCase{"HugeValueCount", std::string("-512\x05\0\0\0", 8),
                                  std::string("-512\xff\xff\xff\x7f", 8)}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(RegistryHiveFile, RefusesNestingDeeperThanTheRegistryAllows) {
    reg::Hive hive = reg::Hive::Fresh();
    reg::HiveKey* key = hive.roots[2].get();
    for (std::size_t depth = 0; depth < reg::kMaxKeyDepth; ++depth) {
        key = AddKey(*key, "k").get();
    }
    EXPECT_TRUE(reg::ParseHive(reg::SerializeHive(hive)));
    AddKey(*key, "k");
    EXPECT_FALSE(reg::ParseHive(reg::SerializeHive(hive)));
}

} // namespace
