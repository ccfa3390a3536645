#pragma once
// Shared set-up of the resource programming tests: a fresh module directory, a window that
// collects every notification, recorded message boxes and a job for device 0.

#include "kestrel/isp_job.h"
#include "kestrellib/device/nand_layout.h"
#include "kestrellib/program/stop_request.h"
#include "platform/clock/clock.h"
#include "platform/message_box/message_box.h"
#include "platform/messages/message_sink.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kestrel::test {

struct Posted {
    std::uint32_t message;
    std::uintptr_t wParam;
    std::intptr_t lParam; // for a progress range: its step count
    bool operator==(const Posted&) const = default;
};

// A layout of the given geometry with the resource areas after a boot area of bootBlocks.
inline device::NandLayout TestLayout(std::uint16_t pageSize, std::uint16_t pagesPerBlock,
                                     std::uint16_t romfsBlocks, std::uint16_t romfs1Blocks,
                                     bool paired = false, std::uint16_t bootBlocks = 6,
                                     std::uint16_t chipBlocks = 2048) {
    device::NandLayout l{};
    l.bootBlocks = bootBlocks;
    l.romfsStart = bootBlocks;
    l.romfsBlocks = romfsBlocks;
    l.backupStart = static_cast<std::uint16_t>(bootBlocks + romfsBlocks);
    l.backupBlocks = romfsBlocks;
    l.romfs1Start = static_cast<std::uint16_t>(bootBlocks + 2 * romfsBlocks);
    l.romfs1Blocks = romfs1Blocks;
    l.fsStart = static_cast<std::uint16_t>(l.romfs1Start + romfs1Blocks);
    l.fsBlocks = device::kFileSystemBlocks;
    l.restStart = static_cast<std::uint16_t>(l.fsStart + device::kFileSystemBlocks);
    l.restBlocks = static_cast<std::uint16_t>(chipBlocks - l.restStart);
    l.pagesPerBlock = pagesPerBlock;
    l.pageSize = pageSize;
    l.pagesPerBlockShift = device::Log2(pagesPerBlock);
    l.pageSizeShift = device::Log2(pageSize);
    l.pairedPage = paired ? 1 : 0;
    return l;
}

class ResourceFixture : public ::testing::Test {
protected:
    void SetUp() override {
        platform::SetSleepScale(0);
        program::ClearStopRequests();
        previousBox_ = platform::SetMessageBoxHandler(
            [this](const std::string& text, const std::string&) { boxes.push_back(text); });
        job.hWnd = platform::ToWindowHandle(&sink);
        job.devIndex = 0;
        job.readVerify = 1;
        job.writeRomfs = 1;
        romfs = home.Path("romfs.img");
        romfs1 = home.Path("romfs1.img");
        job.romfsPath = romfs.c_str();
        job.romfs1Path = romfs1.c_str();
    }
    void TearDown() override {
        platform::SetMessageBoxHandler(std::move(previousBox_));
        program::ClearStopRequests();
    }

    std::vector<Posted> TakePosted() {
        std::vector<Posted> out;
        while (auto m = sink.TryTake()) {
            std::intptr_t l = m->lParam;
            if (m->message == WM_ISP_STATUS && m->wParam == kStatusProgressRange) {
                const auto* record = reinterpret_cast<const ProgressRecord*>(m->lParam);
                EXPECT_EQ(record->devIndex, job.devIndex);
                l = static_cast<std::intptr_t>(record->steps);
            }
            out.push_back({m->message, m->wParam, l});
        }
        return out;
    }

    static std::string Pattern(std::size_t length, unsigned seed = 1) {
        std::string s(length, '\0');
        std::uint32_t x = seed * 2654435761u + 1;
        for (auto& c : s) {
            x = x * 1103515245u + 12345u;
            c = static_cast<char>(x >> 16);
        }
        return s;
    }

    TempHome home;
    platform::QueueSink sink;
    std::vector<std::string> boxes;
    IspJob job{};
    std::string romfs;
    std::string romfs1;

private:
    platform::MessageBoxHandler previousBox_;
};

} // namespace kestrel::test
