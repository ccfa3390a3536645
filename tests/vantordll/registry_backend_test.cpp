// The hive backend of the registry layer: what callers rely on from the registry, its access
// checks, and the hive file it keeps in the module directory.
#include "platform/registry/hive_file.h"
#include "registry_test_support.h"

#include <filesystem>
#include <fstream>
#include <thread>
#include <unistd.h>

namespace {

namespace reg = kestrel::test::reg;
using reg::kHkeyLocalMachine;

class RegistryBackend : public kestrel::test::RegistryTest {
protected:
    static std::vector<std::string> SubkeyNames(const char* path) {
        reg::ScopedKey key;
        EXPECT_EQ(reg::OpenKeyEx(kHkeyLocalMachine, path, reg::kKeyRead, key.Receive()),
                  reg::kErrorSuccess);
        std::vector<std::string> names;
        char name[256];
        reg::DWORD size = sizeof name;
        for (reg::DWORD i = 0; reg::EnumKey(key.Get(), i, name, &size) == reg::kErrorSuccess;
             ++i, size = sizeof name) {
            names.emplace_back(name);
        }
        return names;
    }
};

TEST_F(RegistryBackend, KeysMatchWithoutCaseAndKeepTheirOwnCase) {
    MakeKey("Software\\Kestrel\\Station");
    EXPECT_TRUE(KeyExists("SOFTWARE\\kestrel\\STATION"));
    EXPECT_TRUE(KeyExists("software\\kestrel\\"));
    MakeKey("SOFTWARE\\KESTREL\\zeta");
    MakeKey("SOFTWARE\\KESTREL\\Alpha");
    EXPECT_EQ(SubkeyNames("SOFTWARE\\Kestrel"),
              (std::vector<std::string>{"Alpha", "Station", "zeta"}));
    EXPECT_EQ(SubkeyNames("SOFTWARE"), (std::vector<std::string>{"Kestrel"}));
}

TEST_F(RegistryBackend, MalformedPathsAreRefused) {
    reg::ScopedKey key;
    const std::string tooLongName(256, 'n');
    for (const char* path : {"\\Software", "Software\\\\Kestrel", "Software\\\\"}) {
        EXPECT_EQ(reg::CreateKey(kHkeyLocalMachine, path, key.Receive()), reg::kErrorBadPathname)
            << path;
    }
    EXPECT_EQ(reg::CreateKey(kHkeyLocalMachine, tooLongName.c_str(), key.Receive()),
              reg::kErrorInvalidParameter);
    EXPECT_EQ(reg::OpenKey(reinterpret_cast<reg::HKEY>(0x4321), "Software", key.Receive()),
              reg::kErrorInvalidHandle);
}

TEST_F(RegistryBackend, EnumerationReportsNamesAndDataThatDoNotFit) {
    SetValueBytes("Software\\K", "second", "22");
    SetValueBytes("Software\\K", "first", "1");
    reg::ScopedKey key;
    ASSERT_EQ(reg::OpenKey(kHkeyLocalMachine, "Software\\K", key.Receive()), reg::kErrorSuccess);
    char name[7];
    reg::BYTE data[2];
    reg::DWORD nameSize = 6; // "second" needs 7 with its NUL
    reg::DWORD dataSize = sizeof data;
    reg::DWORD type = 0;
    EXPECT_EQ(reg::EnumValue(key.Get(), 0, name, &nameSize, &type, data, &dataSize),
              reg::kErrorMoreData);
    nameSize = 7;
    dataSize = 1;
    EXPECT_EQ(reg::EnumValue(key.Get(), 0, name, &nameSize, &type, data, &dataSize),
              reg::kErrorMoreData);
    EXPECT_EQ(dataSize, 2u);
    EXPECT_EQ(reg::EnumValue(key.Get(), 0, name, &nameSize, &type, data, &dataSize),
              reg::kErrorSuccess);
    EXPECT_STREQ(name, "second"); // creation order
    EXPECT_EQ(nameSize, 6u);
    nameSize = 7;
    EXPECT_EQ(reg::EnumValue(key.Get(), 2, name, &nameSize, &type, data, &dataSize),
              reg::kErrorNoMoreItems);
}

TEST_F(RegistryBackend, HandlesAreBoundByTheirAccessAndTheKeysLife) {
    MakeKey("Software\\K\\Child");
    reg::ScopedKey reader;
    ASSERT_EQ(
        reg::OpenKeyEx(kHkeyLocalMachine, "Software\\K\\Child", reg::kKeyRead, reader.Receive()),
        reg::kErrorSuccess);
    const reg::BYTE byte = 1;
    EXPECT_EQ(reg::SetValue(reader.Get(), "v", reg::kRegBinary, &byte, 1), reg::kErrorAccessDenied);

    EXPECT_EQ(reg::DeleteKey(kHkeyLocalMachine, "Software\\K"), reg::kErrorAccessDenied)
        << "a key with subkeys stays";
    EXPECT_EQ(reg::DeleteKey(kHkeyLocalMachine, "Software\\K\\Child"), reg::kErrorSuccess);
    char name[16];
    reg::DWORD size = sizeof name;
    EXPECT_EQ(reg::EnumKey(reader.Get(), 0, name, &size), reg::kErrorKeyDeleted);
    MakeKey("Software\\K\\Child");
    EXPECT_EQ(reg::EnumKey(reader.Get(), 0, name, &size), reg::kErrorKeyDeleted)
        << "a new key of the same name is another key";
    EXPECT_EQ(reader.Close(), reg::kErrorSuccess);
    EXPECT_EQ(reg::CloseKey(reg::kHkeyLocalMachine), reg::kErrorSuccess);
}

TEST_F(RegistryBackend, AnotherUsersTokenIsCheckedAgainstTheLists) {
    MakeKey("Software\\K");
    SetValueBytes("Software\\K", "v", "x");
    reg::SetCallerToken({{reg::kSidUsers, reg::kSidEveryone}, reg::kSidUsers});
    reg::ScopedKey key;
    EXPECT_EQ(reg::CreateKey(kHkeyLocalMachine, "Software\\K\\New", key.Receive()),
              reg::kErrorAccessDenied);
    EXPECT_EQ(reg::OpenKeyEx(kHkeyLocalMachine, "Software\\K", reg::kKeyWrite, key.Receive()),
              reg::kErrorAccessDenied);
    EXPECT_EQ(ValueBytes("Software\\K", "v"), "x") << "reading stays allowed";
    EXPECT_EQ(reg::DeleteKey(kHkeyLocalMachine, "Software\\K"), reg::kErrorAccessDenied);
    ASSERT_EQ(reg::OpenKey(kHkeyLocalMachine, "Software\\K", key.Receive()), reg::kErrorSuccess);
    reg::SecurityDescriptor open{"", true, false, {{0, 0, reg::kKeyAllAccess, reg::kSidUsers}}};
    EXPECT_EQ(reg::SetKeySecurity(key.Get(), reg::kDaclSecurityInformation, open),
              reg::kErrorAccessDenied);
}

TEST_F(RegistryBackend, MalformedSecurityAndSelfDeletionAreRefused) {
    MakeKey("Software\\K");
    reg::ScopedKey key;
    ASSERT_EQ(reg::OpenKey(kHkeyLocalMachine, "Software\\K", key.Receive()), reg::kErrorSuccess);
    const reg::SecurityDescriptor badSid{"", true, false, {{0, 0, reg::kKeyRead, "S-1-x"}}};
    const reg::SecurityDescriptor badType{"", true, false, {{7, 0, reg::kKeyRead, "S-1-1-0"}}};
    const reg::SecurityDescriptor badOwner{"Administrators", true, false, {}};
    EXPECT_EQ(reg::SetKeySecurity(key.Get(), reg::kDaclSecurityInformation, badSid),
              reg::kErrorInvalidSid);
    EXPECT_EQ(reg::SetKeySecurity(key.Get(), reg::kDaclSecurityInformation, badType),
              reg::kErrorInvalidParameter);
    EXPECT_EQ(reg::SetKeySecurity(key.Get(), reg::kOwnerSecurityInformation, badOwner),
              reg::kErrorInvalidSid);
    EXPECT_EQ(reg::DeleteKey(key.Get(), ""), reg::kErrorInvalidParameter);
    EXPECT_EQ(reg::DeleteKey(kHkeyLocalMachine, nullptr), reg::kErrorInvalidParameter);
    EXPECT_TRUE(KeyExists("Software\\K"));
}

TEST_F(RegistryBackend, HiveSurvivesAReloadFromItsFile) {
    MakeKey("SYSTEM\\Enum\\USBSTOR\\Disk\\0001");
    SetValueBytes("SYSTEM\\Enum\\USBSTOR\\Disk", "FriendlyName", "USB DISK", reg::kRegSz);
    SetValueBytes("SYSTEM\\Enum\\USBSTOR\\Disk", "Blob", std::string("\0\1\2\xff", 4));
    SetSecurity("SYSTEM\\Enum\\USBSTOR\\Disk\\0001", reg::kSidLocalSystem,
                {{reg::kAccessDeniedAceType, 0, reg::kDelete, reg::kSidAdministrators},
                 {reg::kAccessAllowedAceType, 0, reg::kKeyAllAccess, reg::kSidAdministrators}});
    ASSERT_TRUE(std::filesystem::exists(home_.Path(reg::kHiveFileName)));

    reg::DropLoadedHive();
    EXPECT_EQ(ValueBytes("SYSTEM\\Enum\\USBSTOR\\Disk", "FriendlyName"),
              std::string("USB DISK", 8));
    EXPECT_EQ(ValueBytes("SYSTEM\\Enum\\USBSTOR\\Disk", "Blob"), std::string("\0\1\2\xff", 4));
    EXPECT_EQ(reg::DeleteKey(kHkeyLocalMachine, "SYSTEM\\Enum\\USBSTOR\\Disk\\0001"),
              reg::kErrorAccessDenied)
        << "the access list came back too";
    reg::ScopedKey key;
    ASSERT_EQ(reg::OpenKeyEx(kHkeyLocalMachine, "SYSTEM\\Enum\\USBSTOR\\Disk\\0001",
                             reg::kReadControl, key.Receive()),
              reg::kErrorSuccess);
    reg::SecurityDescriptor security;
    ASSERT_EQ(reg::GetKeySecurity(key.Get(), &security), reg::kErrorSuccess);
    EXPECT_EQ(security.owner, reg::kSidLocalSystem);
    EXPECT_EQ(security.dacl.size(), 2u);
}

TEST_F(RegistryBackend, FollowsAHiveFileReplacedFromOutside) {
    MakeKey("Software\\Old");
    auto hive = reg::Hive::Fresh();
    auto key = std::make_shared<reg::HiveKey>();
    key->name = "Outside";
    key->security = reg::DefaultRootSecurity();
    hive.roots[2]->InsertSubkey(key);
    home_.WriteFile("outside.tmp", reg::SerializeHive(hive));
    std::filesystem::rename(home_.Path("outside.tmp"), home_.Path(reg::kHiveFileName));
    EXPECT_TRUE(KeyExists("Outside"));
    EXPECT_FALSE(KeyExists("Software\\Old"));
}

TEST_F(RegistryBackend, CorruptHiveFileIsReportedAndLeftAlone) {
    const std::string garbage = "KHIV\1\0\0\0 definitely not a hive";
    home_.WriteFile(reg::kHiveFileName, garbage);
    reg::ScopedKey key;
    EXPECT_EQ(reg::CreateKey(kHkeyLocalMachine, "Software", key.Receive()),
              reg::kErrorRegistryCorrupt);
    EXPECT_EQ(reg::OpenKey(kHkeyLocalMachine, nullptr, key.Receive()), reg::kErrorRegistryCorrupt);
    EXPECT_EQ(home_.ReadFile(reg::kHiveFileName), garbage);
    std::filesystem::remove(home_.Path(reg::kHiveFileName));
    EXPECT_EQ(reg::CreateKey(kHkeyLocalMachine, "Software", key.Receive()), reg::kErrorSuccess);
}

TEST_F(RegistryBackend, ChangesThatCannotBeWrittenAreUndone) {
    MakeKey("Software\\K");
    SetValueBytes("Software\\K", "v", "old");
    // The next writes go to a hive file in a directory that disappears.
    kestrel::test::TempHome gone;
    std::filesystem::copy_file(home_.Path(reg::kHiveFileName), gone.Path(reg::kHiveFileName));
    reg::ScopedKey key;
    ASSERT_EQ(reg::OpenKey(kHkeyLocalMachine, "Software\\K", key.Receive()), reg::kErrorSuccess);
    std::filesystem::permissions(gone.Dir(), std::filesystem::perms::owner_read |
                                                 std::filesystem::perms::owner_exec);
    const bool writable = std::ofstream(gone.Path("probe")).good(); // root ignores permissions
    if (writable) {
        std::filesystem::permissions(gone.Dir(), std::filesystem::perms::owner_all);
        std::filesystem::remove(gone.Path("probe"));
        // Make the temporary file impossible to create instead: a directory in its place.
        std::filesystem::create_directory(
            gone.Path(std::string(reg::kHiveFileName) + ".tmp" + std::to_string(::getpid())));
    }
    const reg::BYTE fresh[] = {'n', 'e', 'w'};
    reg::ScopedKey created;
    EXPECT_EQ(reg::SetValue(key.Get(), "v", reg::kRegBinary, fresh, 3),
              reg::kErrorRegistryIoFailed);
    EXPECT_EQ(reg::SetValue(key.Get(), "added", reg::kRegBinary, fresh, 3),
              reg::kErrorRegistryIoFailed);
    EXPECT_EQ(reg::DeleteValue(key.Get(), "v"), reg::kErrorRegistryIoFailed);
    EXPECT_EQ(reg::CreateKey(kHkeyLocalMachine, "Software\\K\\Sub", created.Receive()),
              reg::kErrorRegistryIoFailed);
    EXPECT_FALSE(created.IsOpen());
    EXPECT_EQ(reg::DeleteKey(kHkeyLocalMachine, "Software\\K"), reg::kErrorRegistryIoFailed);
    reg::SecurityDescriptor none{reg::kSidUsers, true, false, {}};
    EXPECT_EQ(reg::SetKeySecurity(key.Get(), reg::kOwnerSecurityInformation, none),
              reg::kErrorRegistryIoFailed);

    EXPECT_EQ(ValueBytes("Software\\K", "v"), "old");
    EXPECT_FALSE(ValueBytes("Software\\K", "added"));
    EXPECT_FALSE(KeyExists("Software\\K\\Sub"));
    EXPECT_TRUE(KeyExists("Software\\K"));
    reg::SecurityDescriptor security;
    ASSERT_EQ(reg::GetKeySecurity(key.Get(), &security), reg::kErrorSuccess);
    EXPECT_EQ(security.owner, reg::kSidAdministrators);
    std::filesystem::permissions(gone.Dir(), std::filesystem::perms::owner_all);
}

TEST_F(RegistryBackend, TwoThreadsShareOneHiveFile) {
    constexpr int kWrites = 15;
    auto writer = [](const std::string& own) {
        for (int i = 0; i < kWrites; ++i) {
            const std::string name = own + std::to_string(i);
            reg::ScopedKey key;
            ASSERT_EQ(reg::CreateKey(kHkeyLocalMachine, ("Software\\Shared\\" + own).c_str(),
                                     key.Receive()),
                      reg::kErrorSuccess);
            ASSERT_EQ(reg::SetValue(key.Get(), name.c_str(), reg::kRegSz,
                                    reinterpret_cast<const reg::BYTE*>(name.c_str()),
                                    static_cast<reg::DWORD>(name.size() + 1)),
                      reg::kErrorSuccess);
            reg::ScopedKey shared;
            ASSERT_EQ(reg::CreateKey(kHkeyLocalMachine, "Software\\Shared", shared.Receive()),
                      reg::kErrorSuccess);
            ASSERT_EQ(reg::SetValue(shared.Get(), name.c_str(), reg::kRegDword, nullptr, 0),
                      reg::kErrorSuccess);
        }
    };
    std::thread first(writer, "a");
    std::thread second(writer, "b");
    first.join();
    second.join();

    reg::DropLoadedHive();
    for (const std::string own : {"a", "b"}) {
        for (int i = 0; i < kWrites; ++i) {
            const std::string name = own + std::to_string(i);
            EXPECT_EQ(ValueBytes("Software\\Shared\\" + own, name), name + '\0');
            EXPECT_EQ(ValueBytes("Software\\Shared", name), "");
        }
    }
}

} // namespace
