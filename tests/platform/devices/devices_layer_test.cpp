// The devices layer above its backends: handles, hot-plug subscriptions and the Windows-form
// names and records.
#include "platform/devices/devices.h"
#include "platform/devices/usbstor_path.h"
#include "sim/backends/devices_backend.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <future>
#include <memory>
#include <thread>

namespace kestrel::platform::devices {
namespace {

// A backend whose devices are named "A", "B"; "A" blocks a command until released.
class FakeBackend : public Backend {
public:
    struct Shared {
        std::mutex lock;
        std::condition_variable changed;
        bool inSend = false;
        bool release = false;
        int connectionsAlive = 0;
        int monitorStarts = 0;
        int monitorStops = 0;
        BackendEventSink sink;
    };

    class FakeConnection : public Connection {
    public:
        FakeConnection(Shared& s, bool blocks) : s_(s), blocks_(blocks) {
            std::lock_guard guard(s_.lock);
            ++s_.connectionsAlive;
        }
        ~FakeConnection() override {
            std::lock_guard guard(s_.lock);
            --s_.connectionsAlive;
        }
        int Send(const ScsiRequest& request) override {
            if (blocks_) {
                std::unique_lock wait(s_.lock);
                s_.inSend = true;
                s_.changed.notify_all();
                s_.changed.wait(wait, [this] { return s_.release; });
            }
            return request.cdb[1];
        }

    private:
        Shared& s_;
        bool blocks_;
    };

    explicit FakeBackend(Shared& s) : s_(s) {}
    const char* Name() const override { return "fake"; }
    bool Enumerate(std::vector<InterfaceInfo>& list) override {
        list.push_back({"A", "a"});
        return true;
    }
    std::unique_ptr<Connection> Open(const std::string& path, int& error) override {
        if (path != "A" && path != "B") {
            error = 2;
            return nullptr;
        }
        return std::make_unique<FakeConnection>(s_, path == "A");
    }
    bool StartMonitor(BackendEventSink sink) override {
        std::lock_guard guard(s_.lock);
        ++s_.monitorStarts;
        s_.sink = std::move(sink);
        return true;
    }
    void StopMonitor() override {
        std::lock_guard guard(s_.lock);
        ++s_.monitorStops;
        s_.sink = nullptr;
    }

private:
    Shared& s_;
};

class DevicesLayer : public ::testing::Test {
protected:
    void SetUp() override { UseBackend(std::make_shared<FakeBackend>(shared_)); }
    void TearDown() override { UseBackend(sim::backends::MakeDevicesBackend()); }

    int SendSub(DeviceHandle handle, std::uint8_t sub) {
        const std::uint8_t cdb[10] = {0xC2, sub};
        ScsiRequest request;
        request.cdb = cdb;
        request.cdbLength = 10;
        return Send(handle, request);
    }

    FakeBackend::Shared shared_;
};

TEST_F(DevicesLayer, HandlesAreNeverReusedAndStaleOnesFail) {
    int error = -1;
    DeviceHandle first = Open("B", &error);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(SendSub(first, 7), 7);
    EXPECT_TRUE(Close(first));
    EXPECT_FALSE(Close(first));
    EXPECT_EQ(SendSub(first, 7), kErrorInvalidHandle);
    DeviceHandle second = Open("B");
    EXPECT_NE(second, first);
    EXPECT_TRUE(Close(second));
    EXPECT_EQ(Open("C", &error), nullptr);
    EXPECT_EQ(error, 2);
    EXPECT_FALSE(Close(nullptr));
    EXPECT_EQ(SendSub(reinterpret_cast<DeviceHandle>(0x1234567), 1), kErrorInvalidHandle);
    EXPECT_EQ(shared_.connectionsAlive, 0);
}

TEST_F(DevicesLayer, MalformedRequestsAreRefusedBeforeTheBackend) {
    DeviceHandle h = Open("B");
    ScsiRequest request; // no command block
    EXPECT_EQ(Send(h, request), kErrorInvalidParameter);
    const std::uint8_t cdb[10] = {0xC2, 1};
    request.cdb = cdb;
    request.cdbLength = 10;
    request.direction = Direction::kIn;
    request.length = 16; // no buffer
    EXPECT_EQ(Send(h, request), kErrorInvalidParameter);
    Close(h);
}

TEST_F(DevicesLayer, ClosingDuringACommandKeepsTheDeviceOpenUntilItEnds) {
    DeviceHandle h = Open("A");
    std::atomic<int> result{-1};
    std::thread worker([&] { result = SendSub(h, 9); });
    {
        std::unique_lock wait(shared_.lock);
        shared_.changed.wait(wait, [&] { return shared_.inSend; });
    }
    EXPECT_TRUE(Close(h));
    {
        std::lock_guard guard(shared_.lock);
        EXPECT_EQ(shared_.connectionsAlive, 1);
        shared_.release = true;
    }
    shared_.changed.notify_all();
    worker.join();
    EXPECT_EQ(result, 9);
    EXPECT_EQ(shared_.connectionsAlive, 0);
    EXPECT_EQ(SendSub(h, 9), kErrorInvalidHandle);
}

TEST_F(DevicesLayer, SubscribersHearUpperCaseRecordsUntilTheyLeave) {
    std::vector<std::pair<std::uint32_t, std::string>> heard;
    auto first = Subscribe([&](std::uint32_t event, const void* record) {
        heard.emplace_back(event, static_cast<const char*>(record) + kBroadcastNameOffset);
    });
    auto second = Subscribe([](std::uint32_t, const void*) {});
    ASSERT_TRUE(first.Active());
    EXPECT_EQ(shared_.monitorStarts, 1);
    shared_.sink(kDeviceArrival, "\\\\?\\usbstor#disk&ven_x#1&0#{c}");
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(heard[0].second, "\\\\?\\USBSTOR#DISK&VEN_X#1&0#{C}");
    first.Reset();
    EXPECT_EQ(shared_.monitorStops, 0); // the second subscriber still listens
    shared_.sink(kDeviceRemoveComplete, "x");
    EXPECT_EQ(heard.size(), 1u);
    second = Subscription();
    EXPECT_EQ(shared_.monitorStops, 1);
}

// A backend that, while it is destroyed, asks the layer for the device list from another thread
// and records whether the answer came within two seconds, that is whether the layer's own lock
// was free: a backend's destructor takes the backend's locks, which come before the layer's.
class ProbingBackend : public FakeBackend {
public:
    ProbingBackend(Shared& s, std::shared_ptr<std::atomic<int>> answered)
        : FakeBackend(s), answered_(std::move(answered)) {}
    ~ProbingBackend() override {
        auto done = std::make_shared<std::promise<void>>();
        std::future<void> answer = done->get_future();
        std::thread([done] {
            std::vector<InterfaceInfo> list;
            devices::Enumerate(list);
            done->set_value();
        }).detach();
        *answered_ = answer.wait_for(std::chrono::seconds(2)) == std::future_status::ready ? 1 : 0;
    }

private:
    std::shared_ptr<std::atomic<int>> answered_;
};

TEST_F(DevicesLayer, AReplacedBackendIsDestroyedOutsideTheLayersLock) {
    auto answered = std::make_shared<std::atomic<int>>(-1);
    UseBackend(std::make_shared<ProbingBackend>(shared_, answered));
    UseBackend(std::make_shared<FakeBackend>(shared_)); // the layer held the last reference
    EXPECT_EQ(answered->load(), 1);
}

TEST(DeviceNames, BroadcastRecordHasTheWindowsLayout) {
    const auto record = MakeInterfaceBroadcast("\\\\?\\USBSTOR#X");
    std::uint32_t size = 0;
    std::uint32_t type = 0;
    std::memcpy(&size, record.data(), 4);
    std::memcpy(&type, record.data() + 4, 4);
    EXPECT_EQ(size, record.size());
    EXPECT_EQ(size, 28u + 13u + 1u);
    EXPECT_EQ(type, kDeviceTypeInterface);
    EXPECT_EQ(record[12], 0x07); // class identifier, first byte of 53F56307 little-endian
    EXPECT_STREQ(reinterpret_cast<const char*>(record.data() + 28), "\\\\?\\USBSTOR#X");
}

TEST(DeviceNames, InterfacePathsFollowTheWindowsForm) {
    EXPECT_EQ(UsbStorInterfacePath("USB DISK", "MASS STORAGE    ", "1.00", "A1B2&0"),
              "\\\\?\\usbstor#disk&ven_usb_disk&prod_mass_storage&rev_1.00#a1b2&0#"
              "{53f56307-b6bf-11d0-94f2-00a0c91efb8b}");
    // Separators inside the fields cannot split the path.
    EXPECT_EQ(UsbStorInterfacePath("A#B", "C&D", "1\\2", "x#y&0"),
              "\\\\?\\usbstor#disk&ven_a_b&prod_c_d&rev_1_2#x_y&0#"
              "{53f56307-b6bf-11d0-94f2-00a0c91efb8b}");
    EXPECT_EQ(UsbStorFriendlyName("USB DISK", "MASS STORAGE    "),
              "USB DISK MASS STORAGE USB Device");
    EXPECT_TRUE(EqualsIgnoreCase("UsbStor", "USBSTOR"));
    EXPECT_FALSE(EqualsIgnoreCase("UsbStor", "USBSTO"));
}

} // namespace
} // namespace kestrel::platform::devices
