#include "vantordll/k_string_list.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

std::vector<std::string> Contents(const KStringList& list) {
    std::vector<std::string> out;
    for (int i = 0; i < list.GetCount(); ++i) {
        out.emplace_back(list.GetString(i));
    }
    return out;
}

struct SortCase {
    const char* label;
    std::vector<std::string> input;
    std::vector<std::string> sorted;
};
void PrintTo(const SortCase& c, std::ostream* os) {
    *os << c.label;
}

class KStringListSort : public ::testing::TestWithParam<SortCase> {};

TEST_P(KStringListSort, SortsUsedSlotsByByteValue) {
    auto list = std::make_unique<KStringList>();
    for (const auto& s : GetParam().input) {
        ASSERT_TRUE(list->InsertString(s.c_str()));
    }
    list->Sort();
    EXPECT_EQ(Contents(*list), GetParam().sorted);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, KStringListSort,
    ::testing::Values(
        SortCase{"CapitalsBeforeSmallLetters", {"b", "A", "a"}, {"A", "a", "b"}},
        SortCase{"PrefixFirst", {"abd", "abc", "ab", ""}, {"", "ab", "abc", "abd"}},
        SortCase{"Duplicates", {"b", "a", "b", "a"}, {"a", "a", "b", "b"}},
        SortCase{"HighBytesAfterAscii", {"\xe4x", "z", "Z"}, {"Z", "z", "\xe4x"}},
        SortCase{"ReverseOrder", {"5", "4", "3", "2", "1", "0"}, {"0", "1", "2", "3", "4", "5"}},
        SortCase{"Empty", {}, {}}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(KStringList, SortLeavesSlotsPastCountAlone) {
    auto list = std::make_unique<KStringList>();
    list->InsertString("z");
    list->InsertString("a");
    list->InsertString("m");
    list->ReSet();
    list->InsertString("y");
    list->InsertString("b");
    list->Sort();
    EXPECT_EQ(Contents(*list), (std::vector<std::string>{"b", "y"}));
    EXPECT_STREQ(list->GetString(2), "m");
}

TEST(KStringList, ReSetThenInsertOverwritesSlotZero) {
    auto list = std::make_unique<KStringList>();
    list->InsertString("first");
    list->InsertString("second");
    list->ReSet();
    EXPECT_EQ(list->GetCount(), 0);
    EXPECT_STREQ(list->GetString(1), "second"); // slots keep their characters
    ASSERT_TRUE(list->InsertString("new"));
    EXPECT_EQ(list->GetCount(), 1);
    EXPECT_STREQ(list->GetString(0), "new");
}

TEST(KStringList, RefusesStringsPastItsSlots) {
    auto list = std::make_unique<KStringList>();
    for (int i = 0; i < KStringList::kMaxStrings; ++i) {
        ASSERT_TRUE(list->InsertString(std::to_string(i).c_str())) << i;
    }
    EXPECT_FALSE(list->InsertString("one too many"));
    EXPECT_FALSE(list->InsertString(nullptr));
    EXPECT_EQ(list->GetCount(), int{KStringList::kMaxStrings}); // a copy: no reference into the DLL
    EXPECT_STREQ(list->GetString(KStringList::kMaxStrings - 1), "259");
    EXPECT_STREQ(list->GetString(KStringList::kMaxStrings), "");
    EXPECT_STREQ(list->GetString(-1), "");
}

TEST(KStringList, CutsLongStringsToTheSlot) {
    auto list = std::make_unique<KStringList>();
    const std::string fits(259, 'f');
    const std::string tooLong(400, 'x');
    list->InsertString(fits.c_str());
    list->InsertString(tooLong.c_str());
    list->InsertString("after");
    EXPECT_EQ(std::string(list->GetString(0)), fits);
    EXPECT_EQ(std::string(list->GetString(1)), std::string(259, 'x'));
    EXPECT_STREQ(list->GetString(2), "after");
}

TEST(KStringList, CopiesAndAssignmentsAreIndependentValues) {
    auto original = std::make_unique<KStringList>();
    original->InsertString("one");
    original->InsertString("two");
    auto copy = std::make_unique<KStringList>(*original);
    auto assigned = std::make_unique<KStringList>();
    assigned->InsertString("old");
    *assigned = *original;
    original->ReSet();
    original->InsertString("changed");
    for (const KStringList* list : {copy.get(), assigned.get()}) {
        EXPECT_EQ(Contents(*list), (std::vector<std::string>{"one", "two"}));
    }
}

} // namespace
