// The Scrivet stand-in: keyed, reversible, block by block, and the skipping variant.
#include "outside/scrivet/scrivet.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

using kestrel::test::TempHome;

std::string Content(std::size_t size) {
    std::string content(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        content[i] = static_cast<char>(i * 7 + i / 251);
    }
    return content;
}

class ScrivetRoundTrip : public ::testing::TestWithParam<std::size_t> {};

TEST_P(ScrivetRoundTrip, DecodingRestoresAndKeepsTheLength) {
    TempHome home;
    const std::string original = Content(GetParam());
    home.WriteFile("in", original);
    ASSERT_EQ(EncodeFunc(home.Path("in").c_str(), home.Path("enc").c_str(), 2048, 5), 0);
    ASSERT_EQ(EncodeFuncWithSkip(home.Path("in").c_str(), home.Path("skip").c_str(), 5), 0);
    const std::string encoded = home.ReadFile("enc");
    const std::string skipped = home.ReadFile("skip");
    ASSERT_EQ(encoded.size(), original.size());
    ASSERT_EQ(skipped.size(), original.size());
    EXPECT_EQ(skipped.substr(0, 32), original.substr(0, 32)) << "the header stays readable";
    EXPECT_EQ(skipped.substr(std::min<std::size_t>(32, skipped.size())),
              encoded.substr(std::min<std::size_t>(32, encoded.size())))
        << "after the header both variants agree";
    if (original.size() >= 64) {
        EXPECT_NE(encoded.substr(0, 64), original.substr(0, 64));
    }
    ASSERT_EQ(DecodeFunc(home.Path("enc").c_str(), home.Path("dec").c_str(), 2048, 5), 0);
    ASSERT_EQ(DecodeFuncWithSkip(home.Path("skip").c_str(), home.Path("dec2").c_str(), 5), 0);
    EXPECT_EQ(home.ReadFile("dec"), original);
    EXPECT_EQ(home.ReadFile("dec2"), original);
}

INSTANTIATE_TEST_SUITE_P(Sizes, ScrivetRoundTrip,
                         ::testing::Values(0, 1, 31, 32, 33, 2048, 2049, 100000));

TEST(Scrivet, KeyAndBlockSizeChangeTheOutputAndBlocksDecodeAlone) {
    TempHome home;
    const std::string original = Content(8192);
    home.WriteFile("in", original);
    home.WriteFile("tail", original.substr(4096));
    ASSERT_EQ(EncodeFunc(home.Path("in").c_str(), home.Path("k5").c_str(), 2048, 5), 0);
    ASSERT_EQ(EncodeFunc(home.Path("in").c_str(), home.Path("k6").c_str(), 2048, 6), 0);
    ASSERT_EQ(EncodeFunc(home.Path("in").c_str(), home.Path("b4k").c_str(), 4096, 5), 0);
    EXPECT_NE(home.ReadFile("k5"), home.ReadFile("k6"));
    EXPECT_NE(home.ReadFile("k5"), home.ReadFile("b4k"));
    ASSERT_EQ(DecodeFunc(home.Path("k5").c_str(), home.Path("wrong").c_str(), 2048, 6), 0);
    EXPECT_NE(home.ReadFile("wrong"), original) << "the wrong key does not decode";
    // Blocks 2 and 3 of the whole file are encoded with their own numbers: taken out of the
    // file on their own they do not match the encoding of the tail as a file of its own.
    ASSERT_EQ(EncodeFunc(home.Path("tail").c_str(), home.Path("tail.enc").c_str(), 4096, 5), 0);
    EXPECT_EQ(home.ReadFile("b4k").substr(0, 4096), [&] {
        home.WriteFile("head", original.substr(0, 4096));
        EncodeFunc(home.Path("head").c_str(), home.Path("head.enc").c_str(), 4096, 5);
        return home.ReadFile("head.enc");
    }()) << "a block's encoding depends only on its own bytes and number";
    EXPECT_NE(home.ReadFile("b4k").substr(4096), home.ReadFile("tail.enc"));
}

TEST(Scrivet, BadArgumentsFailWithoutOutput) {
    TempHome home;
    home.WriteFile("in", "abc");
    EXPECT_EQ(EncodeFunc(home.Path("missing").c_str(), home.Path("o").c_str(), 2048, 5), -1);
    EXPECT_EQ(EncodeFunc(home.Path("in").c_str(), home.Path("o").c_str(), 0, 5), -1);
    EXPECT_EQ(EncodeFunc(home.Path("in").c_str(), nullptr, 2048, 5), -1);
    EXPECT_FALSE(std::filesystem::exists(home.Path("o")));
}

} // namespace
