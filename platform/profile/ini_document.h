#pragma once
// The in-memory form of one profile file: its raw lines, kept byte for byte so that a write
// changes only the line it must. Parsing and editing live here; file access lives in the
// profile backend.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel::platform {

class IniDocument {
public:
    static IniDocument Parse(std::string_view bytes);

    // The raw value of the first matching key of the first matching section: trimmed, one
    // pair of surrounding quotes removed, not yet cut to length.
    std::optional<std::string> Find(std::string_view section, std::string_view key) const;

    void Set(std::string_view section, std::string_view key, std::string_view value);
    bool Remove(std::string_view section, std::string_view key);

    std::string Serialize() const;

private:
    struct Line {
        std::string text; // without the line ending
    };
    // Index of the first line of the first section named `section`, or npos.
    std::size_t FindSection(std::string_view section) const;
    // Index of the key's line within the section that starts at sectionLine, or npos.
    std::size_t FindKey(std::size_t sectionLine, std::string_view key) const;

    std::vector<Line> lines_;
    std::string newline_ = "\r\n";
    bool bom_ = false;
    bool finalNewline_ = true;
};

// GetPrivateProfileInt's conversion of a value text; nullopt when the text is empty.
std::optional<int> ParseProfileInt(std::string_view text);

} // namespace kestrel::platform
