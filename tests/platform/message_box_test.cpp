#include "platform/message_box/message_box.h"
#include "platform/message_box/message_box_observer.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using namespace kestrel::platform;

TEST(MessageBox, InstalledHandlerReceivesTheExactText) {
    std::vector<std::string> shown;
    auto previous = SetMessageBoxHandler(
        [&](const std::string& text, const std::string&) { shown.push_back(text); });
    ShowMessageBox("Device2-->[WriteVendorSector]: error id: 31\n");
    SetMessageBoxHandler(previous);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], "Device2-->[WriteVendorSector]: error id: 31\n");
}

TEST(MessageBox, DefaultWritesToStderr) {
    SetMessageBoxHandler({});
    testing::internal::CaptureStderr();
    ShowMessageBox("Can't found isp.ini");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Can't found isp.ini\n");
}

// A handler learns the device the raising thread works for; scopes nest, and other threads
// keep their own.
TEST(MessageBox, TheRaisingThreadNamesItsDevice) {
    std::vector<int> devices;
    auto previous = SetMessageBoxHandler(
        [&](const std::string&, const std::string&) { devices.push_back(MessageBoxDevice()); });
    ShowMessageBox("before");
    {
        const MessageBoxDeviceScope outer(3);
        ShowMessageBox("outer");
        {
            const MessageBoxDeviceScope inner(12);
            ShowMessageBox("inner");
        }
        std::thread other([] { EXPECT_EQ(MessageBoxDevice(), -1); });
        other.join();
        ShowMessageBox("outer again");
    }
    ShowMessageBox("after");
    SetMessageBoxHandler(previous);
    EXPECT_EQ(devices, (std::vector<int>{-1, 3, 12, 3, -1}));
}

// Observers see every box, whatever handler shows it, until they are removed.
TEST(MessageBox, ObserversSeeEveryBoxWhateverTheHandlerUntilRemoved) {
    std::vector<std::string> shown;
    std::vector<std::string> observed;
    auto previous = SetMessageBoxHandler(
        [&](const std::string& text, const std::string&) { shown.push_back(text); });
    const int id =
        AddMessageBoxObserver([&](const std::string& text) { observed.push_back(text); });
    ShowMessageBox("Failed to Open boot.pkg.\n");
    RemoveMessageBoxObserver(id);
    ShowMessageBox("Can't found isp.ini");
    SetMessageBoxHandler(previous);
    EXPECT_EQ(observed, std::vector<std::string>{"Failed to Open boot.pkg.\n"});
    EXPECT_EQ(shown.size(), 2u);
}
