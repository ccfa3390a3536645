// A program that knows only the export names: with KESTREL_SIMULATE=3 it loads Kestrellib by
// file name and sees three devices with their identities.
#include <gtest/gtest.h>

#include <cstdlib>
#include <dlfcn.h>
#include <string>

namespace {

TEST(DeviceExports, SimulatedDevicesAppearThroughTheExportsAlone) {
    setenv("KESTREL_SIMULATE", "3", 1);
    void* lib = dlopen(KESTRELLIB_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    auto init = reinterpret_cast<void (*)()>(dlsym(lib, "Device_handle_set_init"));
    auto enumerate = reinterpret_cast<int (*)()>(dlsym(lib, "EnumUsbStorDevice"));
    auto count = reinterpret_cast<int (*)()>(dlsym(lib, "Device_handle_set_get_count"));
    auto handle = reinterpret_cast<void* (*)(int)>(dlsym(lib, "Device_handle_set_get_heald"));
    auto devId = reinterpret_cast<char* (*)(int)>(dlsym(lib, "Device_handle_set_get_DevId"));
    auto closeAll = reinterpret_cast<void (*)(void*)>(dlsym(lib, "CloseAllDevice"));
    auto change = reinterpret_cast<int (*)(unsigned, const void*)>(dlsym(lib, "ParseDeviceChange"));
    ASSERT_TRUE(init && enumerate && count && handle && devId && closeAll && change);

    init();
    EXPECT_NE(enumerate(), -1);
    ASSERT_EQ(count(), 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_NE(handle(i), nullptr);
        char* id = devId(i);
        ASSERT_NE(id, nullptr);
        // Three units of one batch: one reduced identity, three entries.
        EXPECT_EQ(std::string(id), "USBSTOR\\DISK&VEN_USB_DISK&PROD_MASS_STORAGE&REV_1.00");
        std::free(id);
    }
    char* none = devId(3);
    ASSERT_NE(none, nullptr);
    EXPECT_STREQ(none, "");
    std::free(none);
    EXPECT_EQ(change(0x8002, nullptr), 1);
    closeAll(nullptr);
    EXPECT_EQ(count(), 0);
    dlclose(lib);
}

} // namespace
