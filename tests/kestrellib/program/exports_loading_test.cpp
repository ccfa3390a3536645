// Loads Kestrellib by file name, as a program that knows only the exports' names and C
// signatures would, and calls them.
#include "support/temp_home.h"

#include <gtest/gtest.h>

#include "support/loaded_library.h"

namespace {

using kestrel::test::LoadedLibrary;

TEST(KestrellibExports, ConfigurationAndCounterExportsAnswerByName) {
    kestrel::test::TempHome home;
    home.WriteFile("isp.ini", "[Romfs]\nmaxsize=64\n[WrapImage]\ndescription=Line 7\n");
    LoadedLibrary lib(KESTRELLIB_PATH);
    ASSERT_TRUE(lib.Loaded()) << KESTRELLIB_PATH;

    auto isIni = lib.Get<int(const char*)>("IsIniFileExist");
    auto maxSize = lib.Get<int(int)>("GetRomfs_Max_size");
    auto isWrite = lib.Get<int(int)>("GetIsWriteRomFs");
    auto getString = lib.Get<void(const char*, char*)>("GetConfigInistring");
    ASSERT_TRUE(isIni && maxSize && isWrite && getString);
    EXPECT_EQ(isIni("isp.ini"), 0);
    EXPECT_EQ(isIni("config.ini"), -1);
    EXPECT_EQ(maxSize(1), 64);
    EXPECT_EQ(isWrite(1), 1);
    char buffer[256];
    getString("description", buffer);
    EXPECT_STREQ(buffer, "Line 7");

    const char* names[] = {"Init_Surplus_redboot_count",
                           "Free_Surplus_redboot_count",
                           "Get_Surplus_redboot_count",
                           "Reset_Surplus_redboot_count",
                           "Increase_Surplus_redboot_count",
                           "Decrease_Surplus_redboot_count",
                           "Reset_global_val",
                           "Seset_global_val",
                           "Increase_global_val",
                           "Decrease_global_val",
                           "Getglobal_val"};
    for (const char* name : names) {
        EXPECT_NE(lib.Get<void()>(name), nullptr) << name;
    }
    auto seset = lib.Get<void(int)>("Seset_global_val");
    auto get = lib.Get<int()>("Getglobal_val");
    seset(41);
    lib.Get<void()>("Increase_global_val")();
    EXPECT_EQ(get(), 42);
}

} // namespace
