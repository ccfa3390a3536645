// The Windows backend's logic over a faked system-call table: what it lists and opens, the
// pass-through record it sends, the adapter's limits, and what a removal does. Runs on every
// platform; the real calls need a Windows PC with devices.
#include "platform/devices/usbstor_path.h"
#include "platform/devices/windows_backend.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>

namespace kestrel::platform::devices {
namespace {

const std::string kModel = "\\\\?\\usbstor#disk&ven_usb_disk&prod_mass_storage&rev_1.00#"
                           "0123456789&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
const std::string kOtherDisk = "\\\\?\\usbstor#disk&ven_generic&prod_flash_disk&rev_8.07#"
                               "9&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
const std::string kSystemDisk = "\\\\?\\scsi#disk&ven_nvme&prod_samsung#4&0&0#"
                                "{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";

// The fake system: present disks, what each call received, and how the device answers.
struct FakeSystem {
    std::vector<WindowsDiskInterface> disks = {{kSystemDisk, "NVMe"},
                                               {kOtherDisk, "Generic Flash Disk USB Device"},
                                               {kModel, "USB DISK MASS STORAGE USB Device"}};
    std::vector<std::string> created;
    int closed = 0;
    std::vector<PassThroughDirect> sent;
    std::vector<std::uintptr_t> buffers;
    StorageAdapterDescriptor adapter{0, sizeof(StorageAdapterDescriptor), 65536, 17, 3};
    std::uint8_t status = 0;      // SCSI status the device answers
    std::uint32_t ioctlError = 0; // nonzero: the pass-through fails with it
    std::uint8_t fill = 0x5A;     // byte a read returns
    BackendEventSink notifications;

    WindowsSystemCalls Calls() {
        WindowsSystemCalls calls;
        calls.listDisks = [this](std::vector<WindowsDiskInterface>& out, std::uint32_t&) {
            out = disks;
            return true;
        };
        calls.createFile = [this](const std::string& path, std::uint32_t&) -> NativeHandle {
            created.push_back(path);
            return 100 + static_cast<NativeHandle>(created.size());
        };
        calls.closeHandle = [this](NativeHandle) { ++closed; };
        calls.deviceIoControl = [this](NativeHandle, std::uint32_t code, void* in, std::uint32_t,
                                       void* out, std::uint32_t outSize, std::uint32_t& returned,
                                       std::uint32_t& error) {
            if (code == kIoctlStorageQueryProperty) {
                std::memcpy(out, &adapter, std::min<std::size_t>(outSize, sizeof adapter));
                returned = sizeof adapter;
                return true;
            }
            EXPECT_EQ(code, kIoctlScsiPassThroughDirect);
            auto* record = static_cast<PassThroughWithSense*>(in);
            sent.push_back(record->request);
            buffers.push_back(reinterpret_cast<std::uintptr_t>(record->request.dataBuffer));
            if (ioctlError != 0) {
                error = ioctlError;
                return false;
            }
            if (record->request.dataIn == kScsiDataIn) {
                std::memset(record->request.dataBuffer, fill, record->request.dataTransferLength);
            }
            record->request.scsiStatus = status;
            returned = sizeof *record;
            return true;
        };
        calls.startNotifications = [this](BackendEventSink sink) {
            notifications = std::move(sink);
            return true;
        };
        calls.stopNotifications = [this] { notifications = nullptr; };
        return calls;
    }
};

int Send(Connection& connection, Direction direction, void* buffer, std::uint32_t length) {
    const std::uint8_t cdb[10] = {0xC2, 0x13, 0, 0, 0, 0, 0, 5, 0, 0};
    ScsiRequest request;
    request.cdb = cdb;
    request.cdbLength = 10;
    request.direction = direction;
    request.buffer = buffer;
    request.length = length;
    request.timeoutSeconds = 20;
    return connection.Send(request);
}

TEST(WindowsBackend, ListsOnlyDisksOfTheModel) {
    FakeSystem system;
    auto backend = MakeWindowsBackend(system.Calls());
    std::vector<InterfaceInfo> found;
    ASSERT_TRUE(backend->Enumerate(found));
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].path, kModel);
    EXPECT_EQ(found[0].friendlyName, "USB DISK MASS STORAGE USB Device");
}

TEST(WindowsBackend, NeverOpensAnotherDiskOrAnAbsentOne) {
    FakeSystem system;
    auto backend = MakeWindowsBackend(system.Calls());
    for (const std::string& path :
         {kOtherDisk, kSystemDisk, kModel.substr(0, kModel.size() - 2) + "x}"}) {
        int error = 0;
        EXPECT_EQ(backend->Open(path, error), nullptr) << path;
        EXPECT_EQ(error, kErrorFileNotFound) << path;
    }
    system.disks.pop_back(); // the model device unplugged
    int error = 0;
    EXPECT_EQ(backend->Open(kModel, error), nullptr);
    EXPECT_TRUE(system.created.empty());
}

TEST(WindowsBackend, SendsThePassThroughWithSenseRoom) {
    FakeSystem system;
    auto backend = MakeWindowsBackend(system.Calls());
    int error = 0;
    auto connection = backend->Open(ToUpperAscii(kModel), error);
    ASSERT_NE(connection, nullptr) << error;
    ASSERT_EQ(system.created, std::vector<std::string>{kModel});
    alignas(8) std::uint8_t buffer[2048] = {};
    EXPECT_EQ(Send(*connection, Direction::kIn, buffer, sizeof buffer), 0);
    ASSERT_EQ(system.sent.size(), 1u);
    const PassThroughDirect& r = system.sent[0];
    EXPECT_EQ(r.length, sizeof(PassThroughDirect));
    EXPECT_EQ(r.cdbLength, 10);
    EXPECT_EQ(r.cdb[0], 0xC2);
    EXPECT_EQ(r.cdb[7], 5);
    EXPECT_EQ(r.dataIn, kScsiDataIn);
    EXPECT_EQ(r.dataTransferLength, 2048u);
    EXPECT_EQ(r.timeOutValue, 20u);
    EXPECT_EQ(r.senseInfoLength, kSenseBufferLength);
    EXPECT_EQ(r.senseInfoOffset, offsetof(PassThroughWithSense, sense));
    EXPECT_EQ(system.buffers[0], reinterpret_cast<std::uintptr_t>(buffer));
    EXPECT_EQ(buffer[0], 0x5A);

    EXPECT_EQ(Send(*connection, Direction::kOut, buffer, 512), 0);
    EXPECT_EQ(system.sent[1].dataIn, kScsiDataOut);
    EXPECT_EQ(Send(*connection, Direction::kIn, nullptr, 0), 0);
    EXPECT_EQ(system.sent[2].dataIn, kScsiDataUnspecified);
    EXPECT_EQ(system.sent[2].dataBuffer, nullptr);
    connection.reset();
    EXPECT_EQ(system.closed, 1);
}

TEST(WindowsBackend, ARejectedCommandIsNeverASuccess) {
    FakeSystem system;
    auto backend = MakeWindowsBackend(system.Calls());
    int error = 0;
    auto connection = backend->Open(kModel, error);
    ASSERT_NE(connection, nullptr);
    std::uint8_t buffer[64];
    system.status = 2; // CHECK CONDITION
    EXPECT_EQ(Send(*connection, Direction::kIn, buffer, sizeof buffer), kErrorGenFailure);
    system.status = 0;
    system.ioctlError = 121; // the semaphore timeout of a command that never finished
    EXPECT_EQ(Send(*connection, Direction::kIn, buffer, sizeof buffer), 121);
}

// A buffer the adapter cannot take as it is goes through an aligned copy, both ways; a transfer
// over the adapter's maximum is refused before anything is sent.
TEST(WindowsBackend, HonoursTheAdaptersAlignmentAndMaximumTransfer) {
    FakeSystem system;
    system.adapter.alignmentMask = 7;
    auto backend = MakeWindowsBackend(system.Calls());
    int error = 0;
    auto connection = backend->Open(kModel, error);
    ASSERT_NE(connection, nullptr);
    alignas(8) std::uint8_t storage[520] = {};
    std::uint8_t* odd = storage + 1;
    EXPECT_EQ(Send(*connection, Direction::kIn, odd, 512), 0);
    ASSERT_EQ(system.buffers.size(), 1u);
    EXPECT_EQ(system.buffers[0] % 8, 0u);
    EXPECT_EQ(odd[0], 0x5A);
    EXPECT_EQ(odd[511], 0x5A);
    EXPECT_EQ(storage[0], 0);
    EXPECT_EQ(storage[513], 0);

    std::vector<std::uint8_t> big(system.adapter.maximumTransferLength + 1);
    EXPECT_EQ(
        Send(*connection, Direction::kOut, big.data(), static_cast<std::uint32_t>(big.size())),
        kErrorInvalidParameter);
    EXPECT_EQ(system.sent.size(), 1u);
}

TEST(WindowsBackend, ARemovedDeviceAnswersNotConnected) {
    FakeSystem system;
    auto backend = MakeWindowsBackend(system.Calls());
    std::vector<std::pair<std::uint32_t, std::string>> heard;
    ASSERT_TRUE(backend->StartMonitor(
        [&](std::uint32_t event, const std::string& path) { heard.emplace_back(event, path); }));
    int error = 0;
    auto connection = backend->Open(kModel, error);
    ASSERT_NE(connection, nullptr);
    std::uint8_t buffer[16];

    // Windows names the interface in upper case; another disk's changes are not reported.
    system.notifications(kDeviceArrival, ToUpperAscii(kOtherDisk));
    system.notifications(kDeviceRemoveComplete, ToUpperAscii(kModel));
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(heard[0], std::make_pair(kDeviceRemoveComplete, kModel));
    EXPECT_EQ(Send(*connection, Direction::kIn, buffer, sizeof buffer), kErrorNotConnected);
    EXPECT_TRUE(system.sent.empty());

    // Replugged and opened again: the new handle works; a driver that reports the device gone
    // in its own words also reads as not connected.
    system.notifications(kDeviceArrival, kModel);
    auto again = backend->Open(kModel, error);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(Send(*again, Direction::kIn, buffer, sizeof buffer), 0);
    for (std::uint32_t gone : {kWinErrorNoSuchDevice, kWinErrorDeviceRemoved, 1167u}) {
        system.ioctlError = gone;
        auto fresh = backend->Open(kModel, error);
        ASSERT_NE(fresh, nullptr);
        EXPECT_EQ(Send(*fresh, Direction::kIn, buffer, sizeof buffer), kErrorNotConnected) << gone;
    }
    backend->StopMonitor();
    EXPECT_FALSE(system.notifications);
}

TEST(WindowsBackend, ModelPathsAreRecognisedWithWindowsPadding) {
    EXPECT_TRUE(IsModelInterfacePath(kModel));
    EXPECT_TRUE(IsModelInterfacePath(ToUpperAscii(kModel)));
    EXPECT_TRUE(IsModelInterfacePath("\\\\?\\USBSTOR#Disk&Ven_USB_DISK&Prod_MASS_STORAGE____&Rev_"
                                     "1.00#0123&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}"));
    EXPECT_FALSE(IsModelInterfacePath(kOtherDisk));
    EXPECT_FALSE(IsModelInterfacePath(kSystemDisk));
    EXPECT_FALSE(IsModelInterfacePath("\\\\?\\usbstor#disk&ven_usb_disk&prod_mass_storage_x&rev_"
                                      "1.00#0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}"));
    EXPECT_FALSE(IsModelInterfacePath("\\\\?\\usbstor#disk&ven_usb_disk&prod_mass_storage&rev_"
                                      "1.00#0#{00000000-0000-0000-0000-000000000000}"));
}

} // namespace
} // namespace kestrel::platform::devices
