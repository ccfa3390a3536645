// "Clear Registry" on the Basic page removes the production model's USBSTOR entries and comes
// back enabled.
#include "gui_fixture.h"

#include "platform/registry/hive_control.h"
#include "platform/registry/registry.h"
#include "platform/registry/scoped_key.h"
#include "sim/backends/usbstor_entries.h"

#include <QAbstractButton>

#include <gtest/gtest.h>

namespace kestrel::test {
namespace {

namespace reg = platform::registry;

bool KeyExists(const std::string& path) {
    reg::ScopedKey key;
    return reg::OpenKeyEx(reg::kHkeyLocalMachine, path.c_str(), 0, key.Receive()) ==
           reg::kErrorSuccess;
}

TEST_F(GuiTest, ClearRegistryRemovesTheModelsEntries) {
    reg::SetCallerToken(reg::DefaultCallerToken());
    const std::string usbstor = "SYSTEM\\CurrentControlSet\\Enum\\USBSTOR\\";
    ASSERT_TRUE(sim::backends::RecordUsbStorEntries("USB DISK", "MASS STORAGE", "1.00",
                                                    "7&1&0&sim0000&0", "USB DISK"));
    ASSERT_TRUE(
        sim::backends::RecordUsbStorEntries("OTHER", "DISK", "2.00", "7&2&0&1&0", "OTHER DISK"));
    OpenDialog();
    auto* button = Control<QAbstractButton>(app::ids::kClearRegistry);
    ASSERT_NE(button, nullptr);
    button->click();
    EXPECT_FALSE(KeyExists(usbstor + "Disk&Ven_USB_DISK&Prod_MASS_STORAGE&Rev_1.00"));
    EXPECT_TRUE(KeyExists(usbstor + "Disk&Ven_OTHER&Prod_DISK&Rev_2.00\\7&2&0&1&0"));
    EXPECT_TRUE(button->isEnabled());
}

} // namespace
} // namespace kestrel::test
