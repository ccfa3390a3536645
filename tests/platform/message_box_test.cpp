#include "platform/message_box/message_box.h"

#include <gtest/gtest.h>

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
