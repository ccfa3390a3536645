#include "platform/registry/access_check.h"
#include "platform/registry/hive.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

namespace reg = kestrel::platform::registry;

const reg::CallerToken kAdmin{{reg::kSidAdministrators, reg::kSidEveryone},
                              reg::kSidAdministrators};

reg::Ace Allow(reg::DWORD mask, const char* sid, reg::BYTE flags = 0) {
    return {reg::kAccessAllowedAceType, flags, mask, sid};
}
reg::Ace Deny(reg::DWORD mask, const char* sid) {
    return {reg::kAccessDeniedAceType, 0, mask, sid};
}

struct AccessCase {
    const char* label;
    std::string owner;
    bool daclPresent;
    std::vector<reg::Ace> dacl;
    reg::REGSAM desired;
    std::optional<reg::DWORD> granted;
};
void PrintTo(const AccessCase& c, std::ostream* os) {
    *os << c.label;
}

class RegistryAccessCheck : public ::testing::TestWithParam<AccessCase> {};

TEST_P(RegistryAccessCheck, GrantsWhatTheListAllowsInOrder) {
    const auto& c = GetParam();
    reg::SecurityDescriptor security{c.owner, c.daclPresent, false, c.dacl};
    EXPECT_EQ(reg::CheckAccess(security, kAdmin, c.desired), c.granted);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RegistryAccessCheck,
    ::testing::Values(AccessCase{"DenyBeforeAllowRefuses",
                                 reg::kSidLocalSystem,
                                 true,
                                 {Deny(reg::kDelete, reg::kSidAdministrators),
                                  Allow(reg::kKeyAllAccess, reg::kSidAdministrators)},
                                 reg::kDelete,
                                 std::nullopt},
                      AccessCase{"DenyOnlyTakesItsOwnRights",
                                 reg::kSidLocalSystem,
                                 true,
                                 {Deny(reg::kDelete, reg::kSidAdministrators),
                                  Allow(reg::kKeyAllAccess, reg::kSidAdministrators)},
                                 reg::kKeyRead,
                                 reg::kKeyRead},
                      AccessCase{"AllowBeforeDenyGrants",
                                 reg::kSidLocalSystem,
                                 true,
                                 {Allow(reg::kKeyAllAccess, reg::kSidEveryone),
                                  Deny(reg::kDelete, reg::kSidAdministrators)},
                                 reg::kDelete,
                                 reg::kDelete},
                      AccessCase{"OwnerMayAlwaysRewriteTheList",
                                 reg::kSidAdministrators,
                                 true,
                                 {Deny(reg::kKeyAllAccess, reg::kSidAdministrators)},
                                 reg::kWriteDac,
                                 reg::kWriteDac},
                      AccessCase{"OwnerGetsNoMoreThanThat",
                                 reg::kSidAdministrators,
                                 true,
                                 {},
                                 reg::kMaximumAllowed,
                                 reg::kReadControl | reg::kWriteDac},
                      AccessCase{"EmptyListGrantsNothing",
                                 reg::kSidLocalSystem,
                                 true,
                                 {},
                                 reg::kMaximumAllowed,
                                 std::nullopt},
                      AccessCase{"NoListGrantsEverything",
                                 reg::kSidLocalSystem,
                                 false,
                                 {},
                                 reg::kKeyAllAccess,
                                 reg::kKeyAllAccess},
                      AccessCase{"OtherSidsDoNotCount",
                                 reg::kSidLocalSystem,
                                 true,
                                 {Allow(reg::kKeyAllAccess, reg::kSidUsers)},
                                 reg::kKeyQueryValue,
                                 std::nullopt},
                      AccessCase{
                          "InheritOnlyEntriesDoNotApply",
                          reg::kSidLocalSystem,
                          true,
                          {Allow(reg::kKeyAllAccess, reg::kSidEveryone, reg::kInheritOnlyAce)},
                          reg::kKeyQueryValue,
                          std::nullopt},
                      AccessCase{"GenericRightsMapToKeyRights",
                                 reg::kSidLocalSystem,
                                 true,
                                 {Allow(reg::kGenericRead, reg::kSidEveryone)},
                                 reg::kKeyEnumerateSubKeys,
                                 reg::kKeyEnumerateSubKeys},
                      AccessCase{"MaximumAllowedCollectsEveryEntry",
                                 reg::kSidLocalSystem,
                                 true,
                                 {Allow(reg::kKeyQueryValue, reg::kSidEveryone),
                                  Allow(reg::kDelete, reg::kSidAdministrators)},
                                 reg::kMaximumAllowed,
                                 reg::kKeyQueryValue | reg::kDelete}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(RegistryInheritance, NewKeysTakeOnlyContainerInheritableEntries) {
    reg::SecurityDescriptor parent{
        reg::kSidLocalSystem,
        true,
        false,
        {Allow(reg::kKeyAllAccess, reg::kSidAdministrators, reg::kContainerInheritAce),
         Allow(reg::kKeyRead, reg::kSidUsers),
         Allow(reg::kKeyRead, reg::kSidEveryone,
               reg::kContainerInheritAce | reg::kInheritOnlyAce | reg::kNoPropagateInheritAce)}};
    const auto child = reg::InheritedSecurity(parent, reg::kSidAdministrators);
    EXPECT_EQ(child.owner, reg::kSidAdministrators);
    EXPECT_EQ(child.dacl,
              (std::vector<reg::Ace>{Allow(reg::kKeyAllAccess, reg::kSidAdministrators,
                                           reg::kContainerInheritAce | reg::kInheritedAce),
                                     Allow(reg::kKeyRead, reg::kSidEveryone, reg::kInheritedAce)}));
}

} // namespace
