// copydir: a tree copied onto a drive, reported to the window with the drive's number.

#include "outside/kestrel_copy/kestrel_copy.h"

#include "kestrel/isp_job.h"
#include "platform/drives/drives.h"
#include "platform/messages/message_sink.h"
#include "support/symlink_or_skip.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;
namespace drives = kestrel::platform::drives;
using kestrel::platform::QueueSink;

namespace {

std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void Write(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

std::u16string Wide(const std::string& text) {
    return std::u16string(text.begin(), text.end()); // ASCII paths only
}

class CopyDir : public ::testing::Test {
protected:
    void SetUp() override {
        Write(source / "a.txt", "alpha");
        Write(source / "b.bin", std::string("\0\1\2", 3));
        Write(source / "sub" / "c.txt", "gamma");
        fs::create_directories(source / "empty");
        for (const char* d : {"d", "f"}) {
            fs::create_directories(home.Dir() / d);
        }
        // D: ready, E: without media, F: ready: F: is the demo copy's drive 1.
        drives::UseBackend(drives::MakeFolderBackend({
            {(home.Dir() / "d").string()},
            {(home.Dir() / "e").string(), drives::kDriveRemovable, false},
            {(home.Dir() / "f").string()},
        }));
    }
    void TearDown() override { drives::UseBackend(nullptr); }

    std::vector<ProgressRecord> Records(std::uint32_t code) {
        std::vector<ProgressRecord> records;
        while (auto m = window.TryTake()) {
            EXPECT_EQ(m->message, kestrel::WM_ISP_STATUS);
            if (m->wParam == code) {
                ProgressRecord r;
                std::memcpy(&r, m->payload.data(), sizeof r);
                records.push_back(r);
            }
        }
        return records;
    }

    kestrel::test::TempHome home;
    fs::path source = home.Dir() / "demo";
    QueueSink window;
};

TEST_F(CopyDir, CopiesTheTreeOntoTheDriveAndReportsEachFile) {
    Write(home.Dir() / "f" / "a.txt", "old contents, longer than the new");
    const std::u16string from = Wide(source.string());
    ASSERT_EQ(copydir(&window, from.c_str(), u"F:\\"), 1);

    const fs::path f = home.Dir() / "f";
    EXPECT_EQ(Read(f / "a.txt"), "alpha") << "an existing file is overwritten";
    EXPECT_EQ(Read(f / "b.bin"), std::string("\0\1\2", 3));
    EXPECT_EQ(Read(f / "sub" / "c.txt"), "gamma");
    EXPECT_TRUE(fs::is_directory(f / "empty"));
    EXPECT_TRUE(fs::is_empty(home.Dir() / "d"));

    std::vector<ProgressRecord> all;
    while (auto m = window.TryTake()) {
        ProgressRecord r;
        ASSERT_EQ(m->payload.size(), sizeof r);
        std::memcpy(&r, m->payload.data(), sizeof r);
        EXPECT_EQ(r.devIndex, 1u) << "F: is the second ready removable drive";
        EXPECT_EQ(m->wParam,
                  all.empty() ? kestrel::kStatusProgressRange : kestrel::kStatusProgressAdvance);
        all.push_back(r);
    }
    ASSERT_EQ(all.size(), 4u);
    // Read the packed fields by value: a reference to one would be misaligned.
    EXPECT_EQ(std::uint32_t{all[0].steps}, 3u);
    EXPECT_EQ(std::uint32_t{all[3].steps}, 1u);
}

TEST_F(CopyDir, PassesOverLinksWithoutCountingThemAndReplacesLinksInTheWay) {
    std::error_code error;
    fs::create_symlink(source / "a.txt", source / "link", error);
    if (!error) {
        fs::create_directory_symlink(source / "sub", source / "linkdir", error);
    }
    // A link on the drive where a file goes leads off the drive: it is replaced, not followed.
    Write(home.Dir() / "elsewhere", "not on the drive");
    if (!error) {
        fs::create_symlink(home.Dir() / "elsewhere", home.Dir() / "f" / "b.bin", error);
    }
    KESTREL_REQUIRE_SYMLINK(error);
    const std::u16string from = Wide(source.string());
    ASSERT_EQ(copydir(&window, from.c_str(), u"F:\\"), 1);

    const fs::path f = home.Dir() / "f";
    EXPECT_EQ(Read(f / "a.txt"), "alpha");
    EXPECT_FALSE(fs::exists(fs::symlink_status(f / "link")));
    EXPECT_FALSE(fs::exists(fs::symlink_status(f / "linkdir")));
    EXPECT_FALSE(fs::is_symlink(f / "b.bin"));
    EXPECT_EQ(Read(f / "b.bin"), std::string("\0\1\2", 3));
    EXPECT_EQ(Read(home.Dir() / "elsewhere"), "not on the drive");
    const auto ranges = Records(kestrel::kStatusProgressRange);
    ASSERT_EQ(ranges.size(), 1u);
    EXPECT_EQ(std::uint32_t{ranges[0].steps}, 3u) << "the three regular files alone";
}

TEST_F(CopyDir, RefusesWhatItCannotCopy) {
    const std::u16string from = Wide(source.string());
    EXPECT_EQ(copydir(&window, nullptr, u"D:\\"), 0);
    EXPECT_EQ(copydir(&window, from.c_str(), nullptr), 0);
    EXPECT_EQ(copydir(&window, from.c_str(), u"E:\\"), 0) << "no media";
    EXPECT_EQ(copydir(&window, from.c_str(), u"G:\\"), 0) << "no drive";
    const std::u16string missing = Wide((home.Dir() / "missing").string());
    EXPECT_EQ(copydir(&window, missing.c_str(), u"D:\\"), 0);
    const std::u16string inside = Wide((source / "sub").string());
    EXPECT_EQ(copydir(&window, from.c_str(), inside.c_str()), 0) << "would copy into itself";
    EXPECT_EQ(copydir(&window, from.c_str(), from.c_str()), 0);
    EXPECT_EQ(window.Size(), 0u);
    EXPECT_TRUE(fs::is_empty(home.Dir() / "d"));
}

TEST_F(CopyDir, CopiesIntoAPlainDirectoryWithoutADriveNumber) {
    const fs::path target = home.Dir() / "plain";
    fs::create_directories(target);
    const std::u16string from = Wide(source.string());
    const std::u16string to = Wide(target.string());
    ASSERT_EQ(copydir(&window, from.c_str(), to.c_str()), 1);
    EXPECT_EQ(Read(target / "sub" / "c.txt"), "gamma");
    const auto ranges = Records(kestrel::kStatusProgressRange);
    ASSERT_EQ(ranges.size(), 1u);
    EXPECT_EQ(ranges[0].devIndex, kestrel::copylib::kUnknownDrive);
}

} // namespace
