// Loads VantorDll by file name, as a program that knows only the exported names and signatures
// would, and calls through them; and the Windows version codes.
#include "registry_test_support.h"
#include "vantordll/c_vantor_dll.h"
#include "vantordll/os_version.h"
#include "vantordll/registry_helpers.h"

#include <gtest/gtest.h>

#include "support/loaded_library.h"
#include <memory>

namespace {

namespace reg = kestrel::test::reg;

using kestrel::test::LoadedLibrary;

class VantorDllExports : public kestrel::test::RegistryTest {};

TEST_F(VantorDllExports, AnswerByTheirPlainNames) {
    LoadedLibrary lib(VANTORDLL_PATH);
    ASSERT_TRUE(lib.Loaded()) << LoadedLibrary::LastError();
    for (const char* name :
         {"GetOSVersion", "ISDirInRegDir", "DeleteRegValue", "WriteReg", "ReadReg",
          "CopyRegDirAtoRegDirB", "DelRegDir", "GetRegDir",
          // KStringList's members and CVantorDll's assignment
          "_ZN11KStringListC1Ev", "_ZN11KStringList12InsertStringEPKc",
          "_ZNK11KStringList9GetStringEi", "_ZNK11KStringList8GetCountEv",
          "_ZN11KStringList5ReSetEv", "_ZN11KStringList4SortEv", "_ZN10CVantorDllaSERKS_"}) {
        EXPECT_NE(lib.Get<void()>(name), nullptr) << name;
    }

    auto writeReg = lib.Get<decltype(WriteReg)>("WriteReg");
    auto getRegDir = lib.Get<decltype(GetRegDir)>("GetRegDir");
    auto isDir = lib.Get<decltype(ISDirInRegDir)>("ISDirInRegDir");
    const unsigned char one[] = {1};
    ASSERT_EQ(writeReg("SYSTEM\\Enum\\USBSTOR\\Disk&Ven_USB", "v", one, 1, reg::kRegBinary,
                       reg::kHkeyLocalMachine),
              1);
    const auto list =
        std::make_unique<KStringList>(getRegDir("SYSTEM\\Enum\\USBSTOR", reg::kHkeyLocalMachine));
    ASSERT_EQ(list->GetCount(), 1);
    EXPECT_STREQ(list->GetString(0), "Disk&Ven_USB");
    EXPECT_EQ(isDir("Disk&Ven_USB", "SYSTEM\\Enum\\USBSTOR"), 1);
    EXPECT_EQ(lib.Get<int()>("GetOSVersion")(), 0) << "not Windows";
}

TEST(CVantorDll, AssignmentReturnsTheObjectAssignedTo) {
    CVantorDll a;
    const CVantorDll b;
    EXPECT_EQ(&(a = b), &a);
}

struct VersionCase {
    std::uint32_t major;
    std::uint32_t minor;
    bool nt;
    int code;
};
void PrintTo(const VersionCase& c, std::ostream* os) {
    *os << c.major << "." << c.minor << (c.nt ? " NT" : "");
}

class OsVersionCodes : public ::testing::TestWithParam<VersionCase> {};

TEST_P(OsVersionCodes, FollowTheVersionTable) {
    const auto& c = GetParam();
    EXPECT_EQ(kestrel::vantor::OsVersionCode({c.major, c.minor, c.nt}), c.code);
}

INSTANTIATE_TEST_SUITE_P(Table, OsVersionCodes,
                         ::testing::Values(VersionCase{3, 51, true, 1}, VersionCase{4, 0, true, 2},
                                           VersionCase{4, 0, false, 3},
                                           VersionCase{4, 10, false, 4},
                                           VersionCase{4, 90, false, 5}, VersionCase{5, 0, true, 6},
                                           VersionCase{5, 1, true, 7}, VersionCase{3, 10, true, 0},
                                           VersionCase{4, 1, true, 0}, VersionCase{5, 2, true, 0},
                                           VersionCase{6, 1, true, 0},
                                           VersionCase{10, 0, true, 0}));

} // namespace
