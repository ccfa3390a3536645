#include "app/station/sha256.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>

using kestrel::station::Sha256Hex;

namespace {

struct DigestCase {
    std::string input;
    const char* digest;
    friend void PrintTo(const DigestCase& c, std::ostream* os) {
        *os << c.input.size() << " bytes";
    }
};

class Digest : public ::testing::TestWithParam<DigestCase> {};

TEST_P(Digest, MatchesTheStandardVectors) {
    EXPECT_EQ(Sha256Hex(GetParam().input.data(), GetParam().input.size()), GetParam().digest);
}

INSTANTIATE_TEST_SUITE_P(
    Vectors, Digest,
    ::testing::Values(
        DigestCase{"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        DigestCase{"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        // 56 bytes: the length no longer fits in the first block.
        DigestCase{"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
                   "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        DigestCase{std::string(1000000, 'a'),
                   "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"}));

TEST(Sha256, FileDigestEqualsTheBytesDigest) {
    kestrel::test::TempHome home;
    std::string bytes(200000, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>(i * 7);
    }
    home.WriteFile("image.bin", bytes);
    EXPECT_EQ(kestrel::station::Sha256OfFile(home.Path("image.bin")),
              Sha256Hex(bytes.data(), bytes.size()));
    EXPECT_FALSE(kestrel::station::Sha256OfFile(home.Path("missing.bin")));
}

} // namespace
