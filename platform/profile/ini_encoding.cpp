#include "platform/profile/ini_encoding.h"

#include <cstdint>

namespace kestrel::platform {
namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeBom = "\xFF\xFE";
constexpr std::string_view kUtf16BeBom = "\xFE\xFF";

void AppendUtf8(std::uint32_t code, std::string* out) {
    if (code < 0x80) {
        out->push_back(static_cast<char>(code));
    } else if (code < 0x800) {
        out->push_back(static_cast<char>(0xC0 | (code >> 6)));
        out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
        out->push_back(static_cast<char>(0xE0 | (code >> 12)));
        out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
        out->push_back(static_cast<char>(0xF0 | (code >> 18)));
        out->push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
}

std::string Utf16ToUtf8(std::string_view bytes, bool bigEndian) {
    auto unitAt = [&](std::size_t i) -> std::uint32_t {
        const auto a = static_cast<unsigned char>(bytes[i]);
        const auto b = static_cast<unsigned char>(bytes[i + 1]);
        return bigEndian ? (a << 8) | b : (b << 8) | a;
    };
    std::string out;
    out.reserve(bytes.size());
    const std::size_t units = bytes.size() / 2;
    for (std::size_t u = 0; u < units; ++u) {
        const std::uint32_t unit = unitAt(u * 2);
        if (unit >= 0xD800 && unit <= 0xDBFF && u + 1 < units) {
            const std::uint32_t low = unitAt((u + 1) * 2);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                AppendUtf8(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00), &out);
                ++u;
                continue;
            }
        }
        AppendUtf8(unit, &out); // a lone surrogate travels as its own three bytes
    }
    return out;
}

// Decodes one UTF-8 sequence at text[*i]; a byte that starts no valid sequence stands for
// itself (text the user typed into a UTF-16 file through a value of ours is always valid).
std::uint32_t NextCode(std::string_view text, std::size_t* i) {
    const auto lead = static_cast<unsigned char>(text[*i]);
    std::size_t length = lead < 0x80           ? 1
                         : (lead >> 5) == 0x6  ? 2
                         : (lead >> 4) == 0xE  ? 3
                         : (lead >> 3) == 0x1E ? 4
                                               : 0;
    if (length == 0 || length > text.size() - *i) {
        ++*i;
        return lead;
    }
    std::uint32_t code = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
        const auto c = static_cast<unsigned char>(text[*i + k]);
        if ((c & 0xC0) != 0x80) {
            ++*i;
            return lead;
        }
        code = (code << 6) | (c & 0x3F);
    }
    *i += length;
    return code;
}

std::string Utf8ToUtf16(std::string_view text, bool bigEndian) {
    std::string out;
    out.reserve(text.size() * 2);
    auto put = [&](std::uint32_t unit) {
        const char hi = static_cast<char>(unit >> 8);
        const char lo = static_cast<char>(unit & 0xFF);
        out.push_back(bigEndian ? hi : lo);
        out.push_back(bigEndian ? lo : hi);
    };
    std::size_t i = 0;
    while (i < text.size()) {
        const std::uint32_t code = NextCode(text, &i);
        if (code >= 0x10000) {
            put(0xD800 + ((code - 0x10000) >> 10));
            put(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            put(code);
        }
    }
    return out;
}

} // namespace

DecodedIni DecodeIniBytes(std::string_view bytes) {
    DecodedIni decoded;
    if (bytes.substr(0, 3) == kUtf8Bom) {
        decoded.encoding = IniEncoding::kUtf8Bom;
        decoded.text = std::string(bytes.substr(3));
    } else if (bytes.substr(0, 2) == kUtf16LeBom || bytes.substr(0, 2) == kUtf16BeBom) {
        const bool bigEndian = bytes.substr(0, 2) == kUtf16BeBom;
        decoded.encoding = bigEndian ? IniEncoding::kUtf16Be : IniEncoding::kUtf16Le;
        std::string_view units = bytes.substr(2);
        if (units.size() % 2 != 0) {
            decoded.tail = std::string(units.substr(units.size() - 1));
            units.remove_suffix(1);
        }
        decoded.text = Utf16ToUtf8(units, bigEndian);
    } else {
        decoded.text = std::string(bytes);
    }
    return decoded;
}

std::string EncodeIniText(std::string_view text, IniEncoding encoding, std::string_view tail) {
    switch (encoding) {
    case IniEncoding::kAnsi:
        return std::string(text);
    case IniEncoding::kUtf8Bom:
        return std::string(kUtf8Bom) + std::string(text);
    case IniEncoding::kUtf16Le:
        return std::string(kUtf16LeBom) + Utf8ToUtf16(text, false) + std::string(tail);
    case IniEncoding::kUtf16Be:
        return std::string(kUtf16BeBom) + Utf8ToUtf16(text, true) + std::string(tail);
    }
    return std::string(text);
}

} // namespace kestrel::platform
