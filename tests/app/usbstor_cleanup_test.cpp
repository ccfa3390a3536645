// "Clear Registry": the production model's USBSTOR entries go, whatever their case and however
// their subkeys are protected; other entries stay.

#include "app/station/usbstor_cleanup.h"

#include "sim/backends/usbstor_entries.h"
#include "vantordll/registry_test_support.h"

#include <gtest/gtest.h>

using namespace kestrel;
using kestrel::station::ClearUsbStorRegistry;
namespace reg = kestrel::platform::registry;

namespace {

const std::string kUsbStor = "SYSTEM\\CurrentControlSet\\Enum\\USBSTOR";

class ClearRegistry : public test::RegistryTest {};

TEST_F(ClearRegistry, DeletesTheModelsEntriesUnderTheirListedNames) {
    const std::string upper = kUsbStor + "\\Disk&Ven_USB_DISK&Prod_MASS_STORAGE&Rev_1.00";
    const std::string lower = kUsbStor + "\\disk&ven_usb_disk&prod_mass_storage&rev_2.00";
    const std::string other = kUsbStor + "\\Disk&Ven_OTHER&Prod_MASS_STORAGE&Rev_1.00";
    const std::string cdrom = kUsbStor + "\\CdRom&Ven_USB_DISK&Prod_MASS_STORAGE&Rev_1.00";
    for (const std::string& key : {upper, lower, other, cdrom}) {
        MakeKey(key + "\\7&abc&0&1&0\\Device Parameters");
    }

    const std::vector<std::string> deleted = ClearUsbStorRegistry();

    // Ascending by byte value: capitals first.
    EXPECT_EQ(deleted, (std::vector<std::string>{upper, lower}));
    EXPECT_FALSE(KeyExists(upper));
    EXPECT_FALSE(KeyExists(lower)) << "deleted under its lower-case name";
    EXPECT_TRUE(KeyExists(other + "\\7&abc&0&1&0\\Device Parameters"));
    EXPECT_TRUE(KeyExists(cdrom));
    EXPECT_TRUE(KeyExists(kUsbStor));
}

TEST_F(ClearRegistry, RemovesTheEntriesMadeForASimulatedDeviceDespiteTheirProtection) {
    ASSERT_TRUE(sim::backends::RecordUsbStorEntries(
        "USB DISK", "MASS STORAGE", "1.00", "7&2f3e4d5c&0&sim0000&0", "USB DISK MASS STORAGE"));
    const std::string key =
        kUsbStor + "\\Disk&Ven_USB_DISK&Prod_MASS_STORAGE&Rev_1.00\\7&2f3e4d5c&0&sim0000&0";
    ASSERT_TRUE(KeyExists(key + "\\Properties"));
    EXPECT_EQ(ValueBytes(key, "FriendlyName"), std::string("USB DISK MASS STORAGE\0", 22));
    {
        // Only local system may use the Properties key, as on Windows.
        reg::ScopedKey properties;
        EXPECT_EQ(reg::OpenKeyEx(reg::kHkeyLocalMachine, (key + "\\Properties").c_str(),
                                 reg::kKeyRead, properties.Receive()),
                  reg::kErrorAccessDenied);
    }
    // Recording again changes nothing.
    ASSERT_TRUE(sim::backends::RecordUsbStorEntries("USB DISK", "MASS STORAGE", "1.00",
                                                    "7&2f3e4d5c&0&sim0000&0", "renamed"));
    EXPECT_EQ(ValueBytes(key, "FriendlyName"), std::string("USB DISK MASS STORAGE\0", 22));

    EXPECT_EQ(ClearUsbStorRegistry().size(), 1u);
    EXPECT_FALSE(KeyExists(kUsbStor + "\\Disk&Ven_USB_DISK&Prod_MASS_STORAGE&Rev_1.00"));
}

TEST_F(ClearRegistry, AnEmptyRegistryAsksNothing) {
    EXPECT_TRUE(ClearUsbStorRegistry().empty());
}

TEST(UsbStorKeyName, TrimsTheInquiryFieldsAndJoinsTheirWordsWithUnderscores) {
    EXPECT_EQ(sim::backends::UsbStorDeviceKeyName(" USB DISK ", "MASS STORAGE  ", "1.00"),
              "Disk&Ven_USB_DISK&Prod_MASS_STORAGE&Rev_1.00");
    EXPECT_EQ(sim::backends::UsbStorDeviceKeyName("A\\B", "", " "), "Disk&Ven_A_B&Prod_&Rev_");
}

} // namespace
