#include "platform/profile/ini_document.h"

#include <cctype>
#include <cstdint>

namespace kestrel::platform {
namespace {

constexpr std::size_t npos = std::string::npos;

std::string_view Trim(std::string_view s) {
    auto blank = [](char c) {
        return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
    };
    while (!s.empty() && blank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && blank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

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

bool IsComment(std::string_view trimmed) {
    return !trimmed.empty() && (trimmed.front() == ';' || trimmed.front() == '#');
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

} // namespace

IniDocument IniDocument::Parse(std::string_view bytes) {
    IniDocument doc;
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        doc.bom_ = true;
        bytes.remove_prefix(3);
    }
    const std::size_t firstLf = bytes.find('\n');
    if (firstLf != npos) {
        doc.newline_ = (firstLf > 0 && bytes[firstLf - 1] == '\r') ? "\r\n" : "\n";
    }
    doc.finalNewline_ = bytes.empty() || bytes.back() == '\n';
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t end = bytes.find('\n', start);
        if (end == npos) {
            end = bytes.size();
        }
        std::string_view line = bytes.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        doc.lines_.push_back(Line{std::string(line)});
        start = end + 1;
    }
    return doc;
}

std::size_t IniDocument::FindSection(std::string_view section) const {
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        const auto name = SectionName(lines_[i].text);
        if (name && EqualNoCase(*name, Trim(section))) {
            return i;
        }
    }
    return npos;
}

std::size_t IniDocument::FindKey(std::size_t sectionLine, std::string_view key) const {
    for (std::size_t i = sectionLine + 1; i < lines_.size(); ++i) {
        if (SectionName(lines_[i].text)) {
            break;
        }
        const auto k = KeyOf(lines_[i].text, nullptr);
        if (k && EqualNoCase(*k, Trim(key))) {
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
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
    }
    return std::string(value);
}

void IniDocument::Set(std::string_view section, std::string_view key, std::string_view value) {
    std::string line = std::string(Trim(key)) + "=" + std::string(value);
    const std::size_t s = FindSection(section);
    if (s == npos) {
        lines_.push_back(Line{"[" + std::string(Trim(section)) + "]"});
        lines_.push_back(Line{std::move(line)});
        finalNewline_ = true;
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
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insert), Line{std::move(line)});
    if (insert == lines_.size() - 1) {
        finalNewline_ = true;
    }
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
    std::string out;
    if (bom_) {
        out = "\xEF\xBB\xBF";
    }
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        out += lines_[i].text;
        if (i + 1 < lines_.size() || finalNewline_) {
            out += newline_;
        }
    }
    return out;
}

std::optional<int> ParseProfileInt(std::string_view text) {
    std::string_view t = Trim(text);
    if (t.empty()) {
        return std::nullopt;
    }
    bool negative = false;
    if (t.front() == '-' || t.front() == '+') {
        negative = t.front() == '-';
        t.remove_prefix(1);
    }
    unsigned base = 10;
    if (t.size() >= 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
        base = 16;
        t.remove_prefix(2);
    }
    std::uint32_t value = 0; // wraps like the platform's 32-bit accumulator
    for (char c : t) {
        unsigned digit;
        if (c >= '0' && c <= '9') {
            digit = static_cast<unsigned>(c - '0');
        } else if (base == 16 && c >= 'a' && c <= 'f') {
            digit = static_cast<unsigned>(c - 'a' + 10);
        } else if (base == 16 && c >= 'A' && c <= 'F') {
            digit = static_cast<unsigned>(c - 'A' + 10);
        } else {
            break;
        }
        value = value * base + digit;
    }
    if (negative) {
        value = 0u - value;
    }
    return static_cast<int>(value);
}

} // namespace kestrel::platform
