#include "platform/profile/ini_document.h"

#include "platform/profile/ini_encoding.h"

#include <cctype>
#include <cstdint>

namespace kestrel::platform {
namespace {

constexpr std::size_t npos = std::string::npos;

// Blanks as the profile reader skips them: white space and the old end-of-file mark ^Z.
bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f' || c == '\x1a';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && IsBlank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

bool IsComment(std::string_view trimmed) {
    return !trimmed.empty() && trimmed.front() == ';';
}

// The section name of a "[name]" line, or nullopt for any other line.
std::optional<std::string_view> SectionName(std::string_view line) {
    const std::string_view t = Trim(line);
    if (t.empty() || t.front() != '[') {
        return std::nullopt;
    }
    const std::size_t close = t.find(']');
    if (close == npos) {
        return std::nullopt;
    }
    return Trim(t.substr(1, close - 1));
}

// The key of a "key=value" line, or nullopt.
std::optional<std::string_view> KeyOf(std::string_view line, std::string_view* value) {
    const std::string_view t = Trim(line);
    if (t.empty() || IsComment(t)) {
        return std::nullopt;
    }
    const std::size_t eq = t.find('=');
    if (eq == npos) {
        return std::nullopt;
    }
    if (value != nullptr) {
        *value = Trim(t.substr(eq + 1));
    }
    return Trim(t.substr(0, eq));
}

std::string_view Unquote(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

// Parses the integer at the start of t; *used tells how many characters it took and *digits
// how many of them were digits.
std::optional<int> ParseIntPrefix(std::string_view t, std::size_t* used, std::size_t* digits) {
    const std::size_t length = t.size();
    std::size_t i = 0;
    while (i < length && static_cast<unsigned char>(t[i]) <= ' ') {
        ++i;
    }
    *digits = 0;
    if (i == length) {
        *used = i;
        return std::nullopt;
    }
    bool negative = false;
    if (t[i] == '+' || t[i] == '-') {
        negative = t[i] == '-';
        ++i;
    }
    unsigned base = 10;
    if (length - i >= 2 && t[i] == '0') {
        // Only the lower-case prefixes select a base; "0X1F" is 0 followed by other text.
        const char p = t[i + 1];
        base = p == 'x' ? 16 : p == 'o' ? 8 : p == 'b' ? 2 : 10;
        if (base != 10) {
            i += 2;
        }
    }
    std::uint32_t value = 0; // wraps like the platform's 32-bit accumulator
    for (; i < length; ++i) {
        const char c = t[i];
        unsigned digit;
        if (c >= '0' && c <= '9') {
            digit = static_cast<unsigned>(c - '0');
        } else if (c >= 'a' && c <= 'z') {
            digit = static_cast<unsigned>(c - 'a' + 10);
        } else if (c >= 'A' && c <= 'Z') {
            digit = static_cast<unsigned>(c - 'A' + 10);
        } else {
            break;
        }
        if (digit >= base) {
            break;
        }
        value = value * base + digit;
        ++*digits;
    }
    *used = i;
    return static_cast<int>(negative ? 0u - value : value);
}

} // namespace

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

IniDocument IniDocument::Parse(std::string_view bytes) {
    IniDocument doc;
    DecodedIni decoded = DecodeIniBytes(bytes);
    doc.encoding_ = decoded.encoding;
    doc.tail_ = std::move(decoded.tail);
    const std::string_view text = decoded.text;
    bool newlineKnown = false;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find_first_of("\r\n", start);
        Line line;
        if (end == npos) {
            line.text = std::string(text.substr(start));
            start = text.size();
        } else {
            line.text = std::string(text.substr(start, end - start));
            const bool crlf = text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n';
            line.end = crlf ? "\r\n" : std::string(1, text[end]);
            start = end + line.end.size();
            if (!newlineKnown) {
                doc.newline_ = line.end;
                newlineKnown = true;
            }
        }
        doc.lines_.push_back(std::move(line));
    }
    return doc;
}

std::size_t IniDocument::FindSection(std::string_view section) const {
    const std::string_view wanted = Trim(section);
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        const auto name = SectionName(lines_[i].text);
        if (name && EqualNoCase(*name, wanted)) {
            return i;
        }
    }
    return npos;
}

std::size_t IniDocument::FindKey(std::size_t sectionLine, std::string_view key) const {
    const std::string_view wanted = Trim(key);
    for (std::size_t i = sectionLine + 1; i < lines_.size(); ++i) {
        if (SectionName(lines_[i].text)) {
            break;
        }
        const auto k = KeyOf(lines_[i].text, nullptr);
        if (k && EqualNoCase(*k, wanted)) {
            return i;
        }
    }
    return npos;
}

std::optional<std::string> IniDocument::Find(std::string_view section, std::string_view key) const {
    const std::size_t s = FindSection(section);
    if (s == npos) {
        return std::nullopt;
    }
    const std::size_t k = FindKey(s, key);
    if (k == npos) {
        return std::nullopt;
    }
    std::string_view value;
    KeyOf(lines_[k].text, &value);
    return std::string(Unquote(value));
}

std::size_t IniDocument::LineOf(std::string_view section, std::string_view key) const {
    const std::size_t s = FindSection(section);
    const std::size_t k = s == npos ? npos : FindKey(s, key);
    return k == npos ? 0 : k + 1;
}

void IniDocument::InsertLine(std::size_t index, std::string text) {
    if (index == lines_.size() && !lines_.empty() && lines_.back().end.empty()) {
        lines_.back().end = newline_;
    }
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(index),
                  Line{std::move(text), newline_});
}

void IniDocument::Set(std::string_view section, std::string_view key, std::string_view value) {
    std::string line = std::string(Trim(key)) + "=" + std::string(value);
    const std::size_t s = FindSection(section);
    if (s == npos) {
        InsertLine(lines_.size(), "[" + std::string(Trim(section)) + "]");
        InsertLine(lines_.size(), std::move(line));
        return;
    }
    const std::size_t k = FindKey(s, key);
    if (k != npos) {
        lines_[k].text = std::move(line);
        return;
    }
    // Append after the section's last non-blank line, before any blank separator lines.
    std::size_t end = s + 1;
    while (end < lines_.size() && !SectionName(lines_[end].text)) {
        ++end;
    }
    std::size_t insert = end;
    while (insert > s + 1 && Trim(lines_[insert - 1].text).empty()) {
        --insert;
    }
    InsertLine(insert, std::move(line));
}

bool IniDocument::Remove(std::string_view section, std::string_view key) {
    const std::size_t s = FindSection(section);
    if (s == npos) {
        return false;
    }
    const std::size_t k = FindKey(s, key);
    if (k == npos) {
        return false;
    }
    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(k));
    return true;
}

std::string IniDocument::Serialize() const {
    std::string text;
    for (const Line& line : lines_) {
        text += line.text;
        text += line.end;
    }
    return EncodeIniText(text, encoding_, tail_);
}

std::vector<IniLine> IniDocument::Lines() const {
    std::vector<IniLine> out;
    out.reserve(lines_.size());
    bool inSection = false;
    std::string section;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        IniLine line;
        line.number = i + 1;
        line.text = lines_[i].text;
        const std::string_view t = Trim(line.text);
        std::string_view value;
        if (const auto name = SectionName(t)) {
            line.kind = IniLine::Kind::kSection;
            section = std::string(*name);
            inSection = true;
        } else if (t.empty()) {
            line.kind = IniLine::Kind::kBlank;
        } else if (IsComment(t)) {
            line.kind = IniLine::Kind::kComment;
        } else if (t.front() == '[') {
            line.kind = IniLine::Kind::kBrokenSection;
        } else if (const auto key = KeyOf(t, &value)) {
            line.kind = IniLine::Kind::kKey;
            line.key = std::string(*key);
            line.value = std::string(Unquote(value));
        } else {
            line.kind = IniLine::Kind::kOther;
        }
        line.inSection = inSection;
        line.section = section;
        out.push_back(std::move(line));
    }
    return out;
}

std::optional<int> ParseProfileInt(std::string_view text) {
    const std::string_view t = Trim(text);
    if (t.empty()) {
        return std::nullopt;
    }
    std::size_t used = 0;
    std::size_t digits = 0;
    return ParseIntPrefix(t, &used, &digits);
}

bool IsWholeProfileInt(std::string_view text) {
    const std::string_view t = Trim(text);
    std::size_t used = 0;
    std::size_t digits = 0;
    const auto value = ParseIntPrefix(t, &used, &digits);
    // A sign or prefix alone ("-", "0x") reads as 0 but names no number.
    return value && used == t.size() && digits > 0;
}

} // namespace kestrel::platform
