#include "app/station/wrap_versions.h"

#include "platform/files/files.h"

#include <cstdio>

namespace kestrel::station {
namespace {

constexpr std::uint64_t kRevisionOffset = 7;
constexpr std::size_t kRevisionBytes = 1024;
constexpr std::size_t kHexPrefixDigits = 10;
constexpr std::size_t kVersionFieldLength = 4;

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

} // namespace

std::string ReadSvnRevision(const std::string& dir) {
    if (dir.empty()) {
        return {};
    }
    std::string path = dir;
    if (path.back() != platform::kPathSeparator && path.back() != '/') {
        path += platform::kPathSeparator;
    }
    path += std::string(".svn") + platform::kPathSeparator + "entries";
    platform::File file;
    if (file.OpenForReading(path) != 0) {
        return {};
    }
    char bytes[kRevisionBytes];
    int error = 0;
    const std::int64_t read = file.ReadAt(kRevisionOffset, bytes, sizeof bytes, &error);
    const std::string_view text(bytes, read > 0 ? static_cast<std::size_t>(read) : 0);
    char revision[16];
    std::snprintf(revision, sizeof revision, "%x", static_cast<unsigned>(ParseHexPrefix(text)));
    return revision;
}

std::uint32_t ParseHexPrefix(std::string_view text) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < text.size() && i < kHexPrefixDigits; ++i) {
        const int digit = HexDigit(text[i]);
        if (digit < 0) {
            break;
        }
        value = value * 16 + static_cast<std::uint32_t>(digit);
    }
    return value;
}

int ParseVersionField(std::string_view text) {
    if (text.empty() || text.size() > kVersionFieldLength) {
        return -1;
    }
    int value = 0;
    for (const char c : text) {
        const int digit = HexDigit(c);
        value = value << 4 | (digit < 0 ? 0 : digit);
    }
    return value;
}

} // namespace kestrel::station
