#pragma once
// An independent reading of the payload stream's header for the tests: the alphabet and the code
// table as bit strings, and a re-encoding of an input from them, so that tests compare the
// library's stream with the layout byte for byte.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kestrel::test {

class StreamBits {
public:
    explicit StreamBits(const std::vector<unsigned char>& bytes) : bytes_(bytes) {}
    std::optional<std::uint32_t> Read(int n) {
        std::uint32_t v = 0;
        for (int i = 0; i < n; ++i) {
            if (pos_ >= bytes_.size() * 8) {
                return std::nullopt;
            }
            v = (v << 1) | ((bytes_[pos_ / 8] >> (7 - pos_ % 8)) & 1u);
            ++pos_;
        }
        return v;
    }
    std::size_t Position() const { return pos_; }

private:
    const std::vector<unsigned char>& bytes_;
    std::size_t pos_ = 0;
};

struct StreamHeader {
    bool shortForm = false;
    std::vector<int> alphabet;        // occurring byte values, ascending
    std::map<int, std::string> codes; // symbol -> code as '0'/'1', root edge first
    std::vector<int> tableOrder;      // symbols in the order the table lists them
    std::size_t headerBits = 0;
};

inline std::optional<StreamHeader> ParseStreamHeader(const std::vector<unsigned char>& stream) {
    StreamBits bits(stream);
    StreamHeader h;
    auto form = bits.Read(1);
    if (!form) {
        return std::nullopt;
    }
    h.shortForm = *form == 0;
    if (h.shortForm) {
        auto count = bits.Read(5);
        for (std::uint32_t i = 0; count && i <= *count; ++i) {
            h.alphabet.push_back(static_cast<int>(*bits.Read(8)));
        }
    } else {
        for (int v = 0; v < 256; ++v) {
            if (*bits.Read(1)) {
                h.alphabet.push_back(v);
            }
        }
    }
    std::vector<int> symbols = h.alphabet;
    symbols.push_back(256);
    for (int s : symbols) {
        const auto wide = bits.Read(1);
        const auto lengthMinusOne = bits.Read(*wide ? 8 : 5);
        if (!lengthMinusOne) {
            return std::nullopt;
        }
        std::string code;
        for (std::uint32_t i = 0; i <= *lengthMinusOne; ++i) {
            code += *bits.Read(1) ? '1' : '0';
        }
        h.codes[s] = code;
        h.tableOrder.push_back(s);
    }
    h.headerBits = bits.Position();
    return h;
}

// The whole stream the layout prescribes for input under the parsed header.
inline std::vector<unsigned char> ReferenceStream(const std::vector<unsigned char>& stream,
                                                  const StreamHeader& h,
                                                  const std::vector<unsigned char>& input,
                                                  std::uint8_t mask) {
    std::string bitText;
    StreamBits bits(stream);
    for (std::size_t i = 0; i < h.headerBits; ++i) {
        bitText += *bits.Read(1) ? '1' : '0';
    }
    for (unsigned char b : input) {
        bitText += h.codes.at(b);
    }
    bitText += h.codes.at(256);
    while (bitText.size() % 8 != 0) {
        bitText += '0';
    }
    std::vector<unsigned char> out;
    for (std::size_t i = 0; i < bitText.size(); i += 8) {
        out.push_back(static_cast<unsigned char>(std::stoi(bitText.substr(i, 8), nullptr, 2)));
    }
    while (out.size() % 4 != 0) {
        out.push_back(0);
    }
    const auto L = static_cast<std::uint32_t>(input.size());
    out.push_back(static_cast<unsigned char>((L >> 24) ^ mask));
    out.push_back(static_cast<unsigned char>(((L >> 8) & 0xFF) ^ mask));
    out.push_back(static_cast<unsigned char>(((L >> 16) & 0xFF) ^ mask));
    out.push_back(static_cast<unsigned char>(L & 0xFF));
    return out;
}

} // namespace kestrel::test
