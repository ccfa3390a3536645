// Records, entry sizes and name rules of the image layout.
#include "kestrellib/romfs/romfs_format.h"
#include "kestrellib/romfs/romfs_listing.h"

#include <gtest/gtest.h>

#include <cstring>

namespace kestrel::romfs {
namespace {

struct EntrySizeCase {
    std::size_t nameLength;
    std::uint32_t size;
};

void PrintTo(const EntrySizeCase& c, std::ostream* os) {
    *os << "name of " << c.nameLength;
}

class RomfsEntrySize : public ::testing::TestWithParam<EntrySizeCase> {};

TEST_P(RomfsEntrySize, IsNamePlusNineRoundedUpTo32) {
    const auto [length, size] = GetParam();
    EXPECT_EQ(EntrySize(length), size);
    std::vector<unsigned char> table;
    const std::string name(length, 'q');
    EXPECT_EQ(AppendDirEntry(table, 7, name), size);
    ASSERT_EQ(table.size(), size);
    EXPECT_EQ(LoadLe32(table.data()), 7u);
    EXPECT_EQ(LoadLe32(table.data() + 4), size) << "next is the offset after the entry";
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(table.data() + 8)),
              std::string(length, 'Q'));
    for (std::size_t i = 8 + length; i < size; ++i) {
        EXPECT_EQ(table[i], 0) << "padding byte " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Boundaries, RomfsEntrySize,
                         ::testing::Values(EntrySizeCase{1, 32}, EntrySizeCase{2, 32},
                                           EntrySizeCase{23, 32}, EntrySizeCase{24, 64},
                                           EntrySizeCase{55, 64}, EntrySizeCase{56, 96},
                                           EntrySizeCase{259, 288}));

TEST(RomfsFormat, HeaderAndNodeRecordAreLittleEndianAtFixedOffsets) {
    RomfsHeader header;
    header.nodeCount = 3;
    header.imageSize = 0x160;
    header.versionWord = 0x00010002;
    std::memcpy(header.volumeName, "0123456789ABCDEF", 16);
    unsigned char bytes[32];
    StoreHeader(header, bytes);
    const unsigned char expected[32] = {0x2E, 0x6D, 0x6F, 0x52, 3,   0,   0,   0,   0x60, 1,   0,
                                        0,    2,    0,    1,    0,   '0', '1', '2', '3',  '4', '5',
                                        '6',  '7',  '8',  '9',  'A', 'B', 'C', 'D', 'E',  'F'};
    EXPECT_EQ(std::memcmp(bytes, expected, 32), 0);
    const RomfsHeader back = LoadHeader(bytes);
    EXPECT_EQ(back.versionWord, header.versionWord);
    EXPECT_EQ(back.imageSize, header.imageSize);

    RomfsNodeRecord record;
    record.mode = kModeFile;
    record.linkCount = 1;
    record.size = 5;
    record.timeStamp = 0x12345678;
    record.dataOffset = 320;
    FormatNodeLabel(2, record.label);
    StoreNodeRecord(record, bytes);
    const unsigned char node[32] = {8, 0, 7,   0,   1,   0,    0,    0,    0x90, 1,    0x91,
                                    1, 5, 0,   0,   0,   0x78, 0x56, 0x34, 0x12, 0x40, 1,
                                    0, 0, '<', ' ', ' ', ' ',  ' ',  ' ',  '2',  '>'};
    EXPECT_EQ(std::memcmp(bytes, node, 32), 0);
}

TEST(RomfsFormat, LabelIsTheNumberRightAlignedInSixColumns) {
    char label[8];
    FormatNodeLabel(0, label);
    EXPECT_EQ(std::string(label, 8), "<     0>");
    FormatNodeLabel(8191, label);
    EXPECT_EQ(std::string(label, 8), "<  8191>");
    FormatNodeLabel(999999, label);
    EXPECT_EQ(std::string(label, 8), "<999999>");
}

TEST(RomfsFormat, StoredNamesUpperCaseOnlyAsciiLetters) {
    EXPECT_EQ(StoredName("readme.txt"), "README.TXT");
    EXPECT_EQ(StoredName("."), ".");
    EXPECT_EQ(StoredName(".."), "..");
    EXPECT_EQ(StoredName("a_z~\xe9"), "A_Z~\xe9");
}

struct DropCase {
    const char* name;
    bool dropped;
};

void PrintTo(const DropCase& c, std::ostream* os) {
    *os << c.name;
}

class RomfsSvnNames : public ::testing::TestWithParam<DropCase> {};

TEST_P(RomfsSvnNames, ContainingLowerCaseSvnAreDropped) {
    EXPECT_EQ(IsDroppedName(GetParam().name), GetParam().dropped) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(Names, RomfsSvnNames,
                         ::testing::Values(DropCase{".svn", true}, DropCase{"svnlog.txt", true},
                                           DropCase{"my_svn", true}, DropCase{"SVN", false},
                                           DropCase{"Svn", false}, DropCase{"s.v.n", false},
                                           DropCase{"sv", false}));

TEST(RomfsListingOrder, IsCaseInsensitiveWithUnderscoreAfterLetters) {
    EXPECT_TRUE(ListedBefore("a", "B"));
    EXPECT_TRUE(ListedBefore("B", "c"));
    EXPECT_TRUE(ListedBefore("AB", "a_b")) << "'_' sorts after the upper-case letters";
    EXPECT_TRUE(ListedBefore("a", "ab"));
    EXPECT_TRUE(ListedBefore("README", "readme")) << "equal names ordered by their bytes";
    EXPECT_FALSE(ListedBefore("readme", "README"));
    EXPECT_FALSE(ListedBefore("x", "x"));
}

} // namespace
} // namespace kestrel::romfs
