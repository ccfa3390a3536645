// The image writer: items at ascending offsets with zeros between them, small files through
// the buffer and large ones file to file, and a source shorter than announced reported with
// the count copied.
#include "kestrellib/romfs/image_writer.h"
#include "kestrellib/romfs/romfs_format.h"
#include "kestrellib/romfs/romfs_test_support.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>

namespace kestrel::test {
namespace {

using romfs::CopyResult;
using romfs::ImageWriter;

std::string Pattern(std::size_t size, char seed) {
    std::string s(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        s[i] = static_cast<char>(seed + i * 31 + i / 4093);
    }
    return s;
}

class ImageWriterTest : public ::testing::Test {
protected:
    platform::File Source(const std::string& name, const std::string& content) {
        WriteBytes(home_.Dir() / name, content);
        platform::File file;
        EXPECT_EQ(file.OpenForReading(home_.Path(name)), 0);
        return file;
    }

    TempHome home_;
};

TEST_F(ImageWriterTest, PlacesItemsWithZerosBetweenAndNothingAfterTheLast) {
    const std::string small = Pattern(100, 'a');
    const std::string large = Pattern(ImageWriter::kDirectCopyThreshold + 5, 'b');
    const std::string huge = Pattern(ImageWriter::kBufferSize + 777, 'c');
    platform::File smallFile = Source("small", small);
    platform::File largeFile = Source("large", large);
    platform::File hugeFile = Source("huge", huge);
    platform::File out;
    ASSERT_EQ(out.Create(home_.Path("image")), 0);
    std::string expected(64, 'H'); // written by the caller before the writer starts
    ASSERT_EQ(out.WriteAt(0, expected.data(), expected.size()), 0);
    {
        ImageWriter writer(out, 64);
        ASSERT_EQ(writer.SeekTo(96), 0);
        ASSERT_EQ(writer.Write("table", 5), 0);
        ASSERT_EQ(writer.SeekTo(128), 0);
        ASSERT_EQ(writer.Copy(smallFile, small.size()).outcome, CopyResult::kCopied);
        ASSERT_EQ(writer.SeekTo(256), 0);
        ASSERT_EQ(writer.Copy(largeFile, large.size()).outcome, CopyResult::kCopied);
        const std::uint64_t hugeAt = romfs::RoundUp32(256 + large.size());
        ASSERT_EQ(writer.SeekTo(hugeAt), 0);
        ASSERT_EQ(writer.Copy(hugeFile, huge.size()).outcome, CopyResult::kCopied);
        const std::uint64_t end = hugeAt + huge.size();
        ASSERT_EQ(writer.SeekTo(romfs::RoundUp32(end)), 0);
        EXPECT_EQ(writer.Copy(smallFile, 0).outcome, CopyResult::kCopied);
        EXPECT_EQ(writer.SeekTo(100), -1) << "an image is written front to back";
        ASSERT_EQ(writer.Flush(), 0);
        expected += std::string(32, '\0') + "table" + std::string(27, '\0') + small;
        expected += std::string(256 - expected.size(), '\0') + large;
        expected += std::string(hugeAt - expected.size(), '\0') + huge;
    }
    ASSERT_EQ(out.Close(), 0);
    const std::string image = ReadBytes(home_.Dir() / "image");
    EXPECT_EQ(image.size(), expected.size()) << "the padding after the last item is not written";
    EXPECT_TRUE(image == expected);
}

class ImageWriterShortSource : public ImageWriterTest,
                               public ::testing::WithParamInterface<std::size_t> {};

TEST_P(ImageWriterShortSource, ReportsAReadFailureWithTheCountCopied) {
    const std::size_t present = GetParam();
    platform::File source = Source("short", Pattern(present, 'x'));
    platform::File out;
    ASSERT_EQ(out.Create(home_.Path("image")), 0);
    ImageWriter writer(out, 0);
    const CopyResult result = writer.Copy(source, present + 1000);
    EXPECT_EQ(result.outcome, CopyResult::kReadFailed);
    EXPECT_EQ(result.copied, present);
    EXPECT_EQ(result.error, 0) << "the end of the file, not an error of the host";
}

INSTANTIATE_TEST_SUITE_P(ThroughBufferAndFileToFile, ImageWriterShortSource,
                         ::testing::Values(0, 10, ImageWriter::kDirectCopyThreshold + 3,
                                           ImageWriter::kBufferSize * 2 + 1));

} // namespace
} // namespace kestrel::test
