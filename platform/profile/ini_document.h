#pragma once
// The in-memory form of one profile file: its raw lines, each with its own line end, kept byte
// for byte so that a write changes only the line it must. Parsing and editing live here; file
// access lives in the profile backend.
//
// The file is read as the Windows profile functions read it:
// - 8-bit text, or UTF-8 with a byte-order mark, or UTF-16 (little- or big-endian) with a
//   byte-order mark; the text is held as UTF-8 and written back in the file's own encoding;
// - a line ends at CR, LF or CR LF;
// - "[name]" opens a section (the name trimmed, text after ']' ignored); a '[' line without
//   ']' is no section header, so the keys after it stay in the section before it;
// - "key=value" is a key of the current section; keys before the first section header belong
//   to no section and no query reaches them;
// - a line starting with ';' is a comment; '#' starts an ordinary key name.

#include "platform/export.h"
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel::platform {

enum class IniEncoding {
    kAnsi,    // 8-bit text as it stands
    kUtf8Bom, // UTF-8 after EF BB BF
    kUtf16Le, // FF FE, then little-endian units
    kUtf16Be, // FE FF, then big-endian units
};

// What one line of the file is, for tools that report on a file line by line.
struct IniLine {
    enum class Kind {
        kBlank,
        kComment,
        kSection,       // "[name]"; `section` holds the name
        kBrokenSection, // starts with '[' but has no ']'
        kKey,           // "key=value"; `key` and `value` hold the trimmed texts
        kOther,         // text without '=' that is no section header
    };
    std::size_t number = 0; // 1-based line number
    Kind kind = Kind::kBlank;
    bool inSection = false; // a section header came before this line
    std::string section;    // name of the section the line belongs to (or opens)
    std::string key;
    std::string value; // trimmed, one pair of surrounding quotes removed
    std::string text;  // the whole line as written, without its line end
};

class KESTREL_PLATFORM_API IniDocument {
public:
    static IniDocument Parse(std::string_view bytes);

    // The raw value of the first matching key of the first matching section: trimmed, one
    // pair of surrounding quotes removed, not yet cut to length.
    std::optional<std::string> Find(std::string_view section, std::string_view key) const;
    // The 1-based line number of the key Find would read, or 0 when there is none.
    std::size_t LineOf(std::string_view section, std::string_view key) const;

    void Set(std::string_view section, std::string_view key, std::string_view value);
    bool Remove(std::string_view section, std::string_view key);

    // The file's bytes in its own encoding.
    std::string Serialize() const;

    IniEncoding Encoding() const { return encoding_; }
    std::vector<IniLine> Lines() const;

private:
    struct Line {
        std::string text; // UTF-8 (or the file's 8-bit text), without the line end
        std::string end;  // "\r\n", "\n", "\r", or "" for a last line without one
    };
    // Index of the first line of the first section named `section`, or npos.
    std::size_t FindSection(std::string_view section) const;
    // Index of the key's line within the section that starts at sectionLine, or npos.
    std::size_t FindKey(std::size_t sectionLine, std::string_view key) const;
    void InsertLine(std::size_t index, std::string text);

    std::vector<Line> lines_;
    std::string newline_ = "\r\n"; // line end of lines this document adds
    IniEncoding encoding_ = IniEncoding::kAnsi;
    std::string tail_; // an odd last byte of a UTF-16 file, kept as it was
};

// GetPrivateProfileInt's conversion of a value text: leading blanks, an optional sign, then
// "0x", "0o" or "0b" (lower case only) for base 16, 8 or 2, else base 10, and the digits that
// follow; the 32-bit result wraps. nullopt when the text is empty.
KESTREL_PLATFORM_API std::optional<int> ParseProfileInt(std::string_view text);

// Whether two section or key names are the same name: compared without regard to ASCII case.
KESTREL_PLATFORM_API bool EqualNoCase(std::string_view a, std::string_view b);

// Whether the whole text is one integer as ParseProfileInt reads it, with nothing left over.
KESTREL_PLATFORM_API bool IsWholeProfileInt(std::string_view text);

} // namespace kestrel::platform
