// What the profile reader gives for a file's bytes, row by row, as the Windows profile functions
// (GetPrivateProfileIntA / GetPrivateProfileStringA) give it for the same bytes.
#include "platform/profile/profile.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>

#if defined(_WIN32)
#include <windows.h>
// <windows.h> maps these names to its own profile functions; ours are meant here.
#undef GetProfileInt
#undef GetProfileString
#endif

using namespace kestrel::platform;
using kestrel::test::TempHome;
using namespace std::string_literals;

namespace {

// UTF-16 file bytes of ASCII text, with the byte-order mark.
std::string Utf16(const std::string& ascii, bool bigEndian) {
    std::string out = bigEndian ? "\xFE\xFF"s : "\xFF\xFE"s;
    for (const char c : ascii) {
        out += bigEndian ? "\0"s + c : std::string(1, c) + '\0';
    }
    return out;
}

struct Row {
    const char* name;
    std::string bytes;
    const char* section;
    const char* key;
    std::optional<int> expectInt;            // GetPrivateProfileIntA with default 9
    std::optional<std::string> expectString; // GetPrivateProfileStringA with default "dflt"
};

void PrintTo(const Row& row, std::ostream* out) {
    *out << row.name;
}

Row Int(const char* name, std::string bytes, const char* section, const char* key, int expect) {
    return Row{name, std::move(bytes), section, key, expect, std::nullopt};
}

Row Str(const char* name, std::string bytes, const char* section, const char* key,
        std::string expect) {
    return Row{name, std::move(bytes), section, key, std::nullopt, std::move(expect)};
}

const Row kRows[] = {
    // Integer conversion: lower-case prefixes only, digits up to the first that does not fit.
    Int("binary_prefix", "[S]\r\nk=0b101\r\n", "S", "k", 5),
    Int("octal_prefix", "[S]\r\nk=0o17\r\n", "S", "k", 15),
    Int("hex_prefix", "[S]\r\nk=0x1F\r\n", "S", "k", 31),
    Int("hex_digits_any_case", "[S]\r\nk=0x1f\r\n", "S", "k", 31),
    Int("upper_case_X_is_not_a_prefix", "[S]\r\nk=0X1F\r\n", "S", "k", 0),
    Int("upper_case_B_is_not_a_prefix", "[S]\r\nk=0B11\r\n", "S", "k", 0),
    Int("binary_stops_at_2", "[S]\r\nk=0b102\r\n", "S", "k", 2),
    Int("octal_stops_at_9", "[S]\r\nk=0o19\r\n", "S", "k", 1),
    Int("leading_zero_is_decimal", "[S]\r\nk=010\r\n", "S", "k", 10),
    Int("trailing_text_ignored", "[S]\r\nk=8MB\r\n", "S", "k", 8),
    Int("letters_read_as_zero", "[S]\r\nk=abc\r\n", "S", "k", 0),
    Int("negative", "[S]\r\nk=-5\r\n", "S", "k", -5),
    Int("plus_sign", "[S]\r\nk=+7\r\n", "S", "k", 7),
    Int("negative_hex", "[S]\r\nk=-0x10\r\n", "S", "k", -16),
    Int("wraps_at_32_bits", "[S]\r\nk=4294967297\r\n", "S", "k", 1),
    Int("empty_value_gives_default", "[S]\r\nk=\r\n", "S", "k", 9),
    Int("quoted_number", "[S]\r\nk=\"12\"\r\n", "S", "k", 12),
    Int("blanks_around", "[S]\r\n  k  =  7  \r\n", "S", "k", 7),
    Int("ctrl_z_is_blank", "[S]\r\nk=7\x1a\r\n", "S", "k", 7),
    Int("missing_key", "[S]\r\nk=1\r\n", "S", "j", 9),
    // Line ends.
    Int("cr_only", "[S]\rk=3\rj=4\r", "S", "j", 4),
    Int("lf_only", "[S]\nk=3\nj=4\n", "S", "j", 4),
    Int("crlf", "[S]\r\nk=3\r\nj=4\r\n", "S", "j", 4),
    Int("mixed_ends", "[S]\r\nk=3\rj=4\nl=5", "S", "l", 5),
    Int("cr_only_second_section", "[A]\rk=1\r[S]\rk=2\r", "S", "k", 2),
    // Encodings with a byte-order mark.
    Int("utf16le_bom", Utf16("[S]\r\nk=42\r\n", false), "S", "k", 42),
    Int("utf16be_bom", Utf16("[S]\r\nk=42\r\n", true), "S", "k", 42),
    Int("utf8_bom", "\xEF\xBB\xBF[S]\r\nk=42\r\n", "S", "k", 42),
    // Comments: ';' only.
    Int("hash_starts_a_key", "[S]\r\n#k=4\r\n", "S", "#k", 4),
    Int("hash_line_hides_nothing", "[S]\r\n# note\r\nk=4\r\n", "S", "k", 4),
    Int("semicolon_comment", "[S]\r\n;k=4\r\nk=5\r\n", "S", "k", 5),
    // Sections.
    Int("keys_before_first_section_belong_to_none", "k=1\r\n[S]\r\nj=2\r\n", "S", "k", 9),
    Int("broken_header_keeps_previous_section", "[T]\r\nk=1\r\n[S\r\nj=2\r\n", "T", "j", 2),
    Int("broken_header_opens_nothing", "[T]\r\n[S\r\nj=2\r\n", "S", "j", 9),
    Int("header_name_trimmed", "[ S ]\r\nk=1\r\n", "S", "k", 1),
    Int("text_after_header_ignored", "[S] ; note\r\nk=1\r\n", "S", "k", 1),
    Int("names_without_case", "[romfs]\r\nMAXSIZE=16\r\n", "Romfs", "maxsize", 16),
    Int("first_section_wins", "[S]\r\nj=1\r\n[s]\r\nk=2\r\n", "S", "k", 9),
    Int("first_key_wins", "[S]\r\nk=1\r\nk=2\r\n", "S", "k", 1),
    // Strings.
    Str("empty_section_name_reaches_only_brackets", "k=a\r\n[]\r\nk=b\r\n", "", "k", "b"),
    Str("keys_before_section_not_in_empty_section", "k=a\r\n[S]\r\n", "", "k", "dflt"),
    Str("double_quotes_removed", "[S]\r\nk=\"two words\"\r\n", "S", "k", "two words"),
    Str("single_quotes_removed", "[S]\r\nk='x'\r\n", "S", "k", "x"),
    Str("lone_quote_kept", "[S]\r\nk=\"x\r\n", "S", "k", "\"x"),
    Str("value_cut_at_255", "[S]\r\nk=" + std::string(300, 'v') + "\r\n", "S", "k",
        std::string(255, 'v')),
    Str("value_ends_at_nul", "[S]\r\nk=ab\0cd\r\n"s, "S", "k", "ab"),
    Str("utf16_text_as_utf8", "\xFF\xFE[\0S\0]\0\r\0\n\0k\0=\0\xE9\0.\0i\0m\0g\0"s, "S", "k",
        "\xC3\xA9.img"),
    Str("empty_file_gives_default", "", "S", "k", "dflt"),
};

class ProfileAsWindowsReadsIt : public ::testing::TestWithParam<Row> {
protected:
    TempHome home_;
};

TEST_P(ProfileAsWindowsReadsIt, GivesTheWindowsValue) {
    const Row& row = GetParam();
    home_.WriteFile("t.ini", row.bytes);
    const std::string path = home_.Path("t.ini");
    if (row.expectInt) {
        EXPECT_EQ(GetProfileInt(row.section, row.key, 9, path), *row.expectInt);
    } else {
        EXPECT_EQ(GetProfileString(row.section, row.key, "dflt", path), *row.expectString);
    }
}

#if defined(_WIN32)
// The table's results checked against the system's own profile functions, where the test runs
// on Windows. Wine's functions differ from Windows in a few rows; under Wine those are skipped
// with the difference named, so that on a Windows PC every row is checked.
bool UnderWine() {
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

TEST_P(ProfileAsWindowsReadsIt, AgreesWithTheSystemsProfileFunctions) {
    const Row& row = GetParam();
    static constexpr std::string_view kWineDiffers[] = {"empty_section_name_reaches_only_brackets",
                                                        "keys_before_section_not_in_empty_section",
                                                        "utf16_text_as_utf8"};
    for (const std::string_view name : kWineDiffers) {
        if (name == row.name && UnderWine()) {
            GTEST_SKIP() << "Wine's profile functions read this file differently from Windows";
        }
    }
    home_.WriteFile("t.ini", row.bytes);
    const std::string path = home_.Path("t.ini");
    if (row.expectInt) {
        EXPECT_EQ(static_cast<int>(GetPrivateProfileIntA(row.section, row.key, 9, path.c_str())),
                  *row.expectInt);
    } else {
        char buffer[kProfileStringMax + 1] = {};
        GetPrivateProfileStringA(row.section, row.key, "dflt", buffer, sizeof buffer, path.c_str());
        EXPECT_EQ(std::string(buffer), *row.expectString);
    }
}
#endif

INSTANTIATE_TEST_SUITE_P(Rows, ProfileAsWindowsReadsIt, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
