// A program that knows only the export names: with KESTREL_SIMULATE=3 it loads Kestrellib by
// file name and sees three devices with their identities.
#include "platform/environment/environment.h"
#include "support/loaded_library.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

TEST(DeviceExports, SimulatedDevicesAppearThroughTheExportsAlone) {
    kestrel::platform::SetEnvironmentValue("KESTREL_SIMULATE", "3");
    kestrel::test::LoadedLibrary lib(KESTRELLIB_PATH);
    ASSERT_TRUE(lib.Loaded()) << KESTRELLIB_PATH;
    auto init = lib.Get<void()>("Device_handle_set_init");
    auto enumerate = lib.Get<int()>("EnumUsbStorDevice");
    auto count = lib.Get<int()>("Device_handle_set_get_count");
    auto handle = lib.Get<void*(int)>("Device_handle_set_get_heald");
    auto devId = lib.Get<char*(int)>("Device_handle_set_get_DevId");
    auto closeAll = lib.Get<void(void*)>("CloseAllDevice");
    auto change = lib.Get<int(unsigned, const void*)>("ParseDeviceChange");
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
}

} // namespace
