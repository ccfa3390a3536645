// Which store the registry calls reach: the hive is written to its file in the module directory,
// and on Windows a key made through the hive never appears in the machine's registry, while the
// system's registry stays reachable for a station on real devices.
#include "registry_test_support.h"

#include <filesystem>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace {

namespace reg = kestrel::test::reg;

class RegistryStore : public kestrel::test::RegistryTest {
protected:
    void TearDown() override {
        reg::UseRegistryStore(reg::RegistryStore::kHive);
        RegistryTest::TearDown();
    }
};

TEST_F(RegistryStore, TestProgramsRunOnTheHiveAndItsFileTakesTheKeys) {
    EXPECT_EQ(reg::CurrentRegistryStore(), reg::RegistryStore::kHive);
    MakeKey("SYSTEM\\CurrentControlSet\\Enum\\USBSTOR\\Disk&Ven_Test&Prod_Store");
    EXPECT_TRUE(std::filesystem::is_regular_file(reg::HiveFilePath()));
    EXPECT_TRUE(KeyExists("SYSTEM\\CurrentControlSet\\Enum\\USBSTOR\\Disk&Ven_Test&Prod_Store"));
}

#if defined(_WIN32)
TEST_F(RegistryStore, HiveKeysNeverReachTheMachinesRegistry) {
    const char* path = "SOFTWARE\\KestrelStoreTest\\OnlyInTheHive";
    MakeKey(path);
    HKEY native = nullptr;
    const LONG status = ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &native);
    if (status == ERROR_SUCCESS) {
        ::RegCloseKey(native);
    }
    EXPECT_EQ(status, ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryStore, TheSystemStoreReachesTheMachinesRegistry) {
    ASSERT_TRUE(reg::UseRegistryStore(reg::RegistryStore::kSystem));
    // A key every Windows registry has, read through the layer and not found in the hive.
    reg::ScopedKey key;
    EXPECT_EQ(reg::OpenKeyEx(reg::kHkeyLocalMachine,
                             "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", reg::kKeyRead,
                             key.Receive()),
              reg::kErrorSuccess);
    EXPECT_EQ(key.Close(), reg::kErrorSuccess);
    EXPECT_FALSE(std::filesystem::exists(reg::HiveFilePath()));
}
#else
TEST_F(RegistryStore, LinuxHasOnlyTheHive) {
    EXPECT_FALSE(reg::UseRegistryStore(reg::RegistryStore::kSystem));
    EXPECT_EQ(reg::CurrentRegistryStore(), reg::RegistryStore::kHive);
}
#endif

} // namespace
