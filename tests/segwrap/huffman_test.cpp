// The payload compressor and its decoder: the stream's layout checked against an independent
// reading of it, the deterministic tree, buffer bounds, and round trips.
#include "segwrap/huffman_decoder.h"
#include "segwrap/huffman_encoder.h"
#include "segwrap/huffman_tree.h"

#include "segwrap/huffman_reference.h"

#include <gtest/gtest.h>

#include <numeric>
#include <random>
#include <set>

namespace {

using namespace kestrel::segwrap;
using kestrel::test::ParseStreamHeader;
using kestrel::test::ReferenceStream;
using Bytes = std::vector<unsigned char>;

// The trailer mask is part of the device's decoder: it must never change.
constexpr std::uint8_t kMask = 0x5A;

Bytes Compress(const Bytes& input) {
    Bytes out(input.size() + 2048);
    const CompressResult r = HuffmanCompress(input.data(), input.size(), out.data(), out.size());
    EXPECT_EQ(r.status, CompressStatus::kOk);
    out.resize(r.length);
    return out;
}

Bytes Decode(const Bytes& stream) {
    Bytes out;
    EXPECT_EQ(HuffmanDecode(stream.data(), stream.size(), 1u << 30, out), DecodeStatus::kOk);
    return out;
}

Bytes Skewed(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::geometric_distribution<int> dist(0.08);
    Bytes b(n);
    for (auto& x : b) {
        x = static_cast<unsigned char>(std::min(dist(rng), 255));
    }
    return b;
}

Bytes Random(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& x : b) {
        x = static_cast<unsigned char>(rng());
    }
    return b;
}

Bytes Distinct(int values, std::size_t n) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) {
        b[i] = static_cast<unsigned char>((i * 7) % values * 3 + 1);
    }
    return b;
}

struct Sample {
    const char* name;
    Bytes input;
};

std::vector<Sample> Samples() {
    Bytes all(256);
    std::iota(all.begin(), all.end(), 0);
    return {
        {"OneByte", Bytes{0x41}},
        {"OneSymbolRepeated", Bytes(1000, 0x00)},
        {"TwoSymbols", Bytes{'a', 'b'}},
        {"TwentyDistinctIn36", Distinct(20, 36)},
        {"ThirtyOneDistinct", Distinct(31, 500)},
        {"ThirtyTwoDistinct", Distinct(32, 500)},
        {"AllByteValuesOnce", all},
        {"Skewed", Skewed(20000, 1)},
        {"Random", Random(65536, 2)},
        {"RandomOddLength", Random(1001, 3)},
    };
}

class StreamSamples : public ::testing::TestWithParam<Sample> {};

// The stream equals what the layout prescribes for the codes it lists, and those codes are a
// complete prefix code with one code per occurring byte value and one for symbol 256, listed
// last.
TEST_P(StreamSamples, MatchesTheLayoutForItsOwnCodeTable) {
    const Bytes& input = GetParam().input;
    const Bytes stream = Compress(input);
    ASSERT_EQ(stream.size() % 4, 0u);
    const auto header = ParseStreamHeader(stream);
    ASSERT_TRUE(header);

    const std::set<int> occurring(input.begin(), input.end());
    EXPECT_EQ(std::set<int>(header->alphabet.begin(), header->alphabet.end()), occurring);
    EXPECT_TRUE(std::is_sorted(header->alphabet.begin(), header->alphabet.end()));
    EXPECT_EQ(header->shortForm, occurring.size() < 32);
    ASSERT_FALSE(header->tableOrder.empty());
    EXPECT_EQ(header->tableOrder.back(), 256);

    double kraft = 0;
    for (const auto& [symbol, code] : header->codes) {
        kraft += std::ldexp(1.0, -static_cast<int>(code.size()));
        for (const auto& [other, otherCode] : header->codes) {
            if (other != symbol) {
                EXPECT_NE(otherCode.rfind(code, 0), 0u) << symbol << " prefixes " << other;
            }
        }
    }
    EXPECT_DOUBLE_EQ(kraft, 1.0);
    EXPECT_EQ(stream, ReferenceStream(stream, *header, input, kMask));
}

TEST_P(StreamSamples, DecodesToTheInput) {
    EXPECT_EQ(Decode(Compress(GetParam().input)), GetParam().input);
}

INSTANTIATE_TEST_SUITE_P(Inputs, StreamSamples, ::testing::ValuesIn(Samples()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(HuffmanStream, ShortAlphabetFor20DistinctValuesIn36Bytes) {
    const Bytes input = Distinct(20, 36);
    const Bytes stream = Compress(input);
    kestrel::test::StreamBits bits(stream);
    EXPECT_EQ(*bits.Read(1), 0u);
    EXPECT_EQ(*bits.Read(5), 19u);
    const std::set<int> values(input.begin(), input.end());
    for (int v : values) {
        EXPECT_EQ(*bits.Read(8), static_cast<std::uint32_t>(v));
    }
}

TEST(HuffmanStream, PresenceMapFor32DistinctValues) {
    const Bytes input = Distinct(32, 64);
    const Bytes stream = Compress(input);
    kestrel::test::StreamBits bits(stream);
    EXPECT_EQ(*bits.Read(1), 1u);
    const std::set<int> values(input.begin(), input.end());
    for (int v = 0; v < 256; ++v) {
        EXPECT_EQ(*bits.Read(1), values.count(v)) << v;
    }
}

TEST(HuffmanStream, TrailerHoldsTheLengthMasked) {
    const Bytes stream = Compress(Skewed(0x00012345, 4));
    const Bytes trailer(stream.end() - 4, stream.end());
    EXPECT_EQ(trailer, (Bytes{0x00 ^ kMask, 0x23 ^ kMask, 0x01 ^ kMask, 0x45}));
}

TEST(HuffmanStream, EmptyInputWritesNothing) {
    Bytes out(16, 0xEE);
    const CompressResult r = HuffmanCompress(nullptr, 0, out.data(), out.size());
    EXPECT_EQ(r.status, CompressStatus::kOk);
    EXPECT_EQ(r.length, 0u);
    EXPECT_EQ(out, Bytes(16, 0xEE));
    EXPECT_EQ(HuffmanCompress(out.data(), 4, nullptr, 100).status, CompressStatus::kNoOutput);
}

// Fills: each stream gets 0-7 fill bits and 0-3 fill bytes; the samples must reach the cases
// of no bit fill and of no byte fill, which the layout check above then covers.
TEST(HuffmanStream, FillCasesAreAllReached) {
    std::set<std::size_t> bitFills, byteFills;
    for (std::size_t n = 1; n <= 80; ++n) {
        const Bytes input = Distinct(5, n);
        const Bytes stream = Compress(input);
        const auto header = ParseStreamHeader(stream);
        ASSERT_TRUE(header);
        std::size_t bits = header->headerBits + header->codes.at(256).size();
        for (unsigned char b : input) {
            bits += header->codes.at(b).size();
        }
        bitFills.insert((8 - bits % 8) % 8);
        byteFills.insert(stream.size() - 4 - (bits + 7) / 8);
        EXPECT_EQ(stream, ReferenceStream(stream, *header, input, kMask));
    }
    EXPECT_TRUE(bitFills.count(0));
    EXPECT_EQ(byteFills, (std::set<std::size_t>{0, 1, 2, 3}));
}

// With counts a=1, b=1, end=1: the end mark and b join first (end on the left), the result
// joins a (a on the left): a = 1, b = 00, end = 01.
TEST(HuffmanTree, TiesAreBrokenBySymbolThenByAge) {
    HuffmanCounts counts{};
    counts['a'] = 1;
    counts['b'] = 1;
    counts[kEndSymbol] = 1;
    HuffmanCodes codes;
    ASSERT_TRUE(BuildHuffmanCodes(counts, codes));
    EXPECT_EQ(codes['a'].length, 1);
    EXPECT_EQ(codes['a'].bits, 1u);
    EXPECT_EQ(codes['b'].length, 2);
    EXPECT_EQ(codes['b'].bits, 0u);
    EXPECT_EQ(codes[kEndSymbol].length, 2);
    EXPECT_EQ(codes[kEndSymbol].bits, 1u);
    EXPECT_EQ(codes['c'].length, 0);
}

TEST(HuffmanStream, CodesLongerThan32BitsRoundTrip) {
    // Fibonacci counts, the deepest tree for a total, reach codes of 33 bits and more from
    // about 15 million bytes (and stay under 48 bits below 2^32 bytes).
    Bytes input;
    std::uint64_t a = 1, b = 1;
    for (int s = 0; input.size() + b < 16'000'000; ++s) {
        input.insert(input.end(), b, static_cast<unsigned char>(s));
        const std::uint64_t next = a + b;
        a = b;
        b = next;
    }
    const Bytes stream = Compress(input);
    const auto header = ParseStreamHeader(stream);
    ASSERT_TRUE(header);
    std::size_t longest = 0;
    for (const auto& [symbol, code] : header->codes) {
        longest = std::max(longest, code.size());
    }
    EXPECT_GT(longest, 32u);
    EXPECT_EQ(Decode(stream), input);
}

TEST(HuffmanStream, TooSmallOutputIsRefusedWithoutWritingAByte) {
    const Bytes input = Random(4096, 5);
    const std::size_t exact = Compress(input).size();
    Bytes out(exact + 64, 0xEE);
    const CompressResult r = HuffmanCompress(input.data(), input.size(), out.data(), exact - 1);
    EXPECT_EQ(r.status, CompressStatus::kOutputTooSmall);
    EXPECT_EQ(out, Bytes(exact + 64, 0xEE));
    EXPECT_EQ(HuffmanCompress(input.data(), input.size(), out.data(), exact).status,
              CompressStatus::kOk);
    EXPECT_EQ(std::count(out.begin() + exact, out.end(), 0xEE), 64);
}

struct Corruption {
    const char* name;
    std::function<void(Bytes&)> apply;
    DecodeStatus expected;
};

class DamagedStream : public ::testing::TestWithParam<Corruption> {};

TEST_P(DamagedStream, IsRefused) {
    const Bytes input = Skewed(3000, 6);
    Bytes stream = Compress(input);
    GetParam().apply(stream);
    Bytes out{1, 2, 3};
    EXPECT_EQ(HuffmanDecode(stream.data(), stream.size(), 1u << 20, out), GetParam().expected);
    EXPECT_TRUE(out.empty());
}

const Corruption kCorruptions[] = {
    {"LengthNotWordMultiple", [](Bytes& s) { s.pop_back(); }, DecodeStatus::kBadLength},
    {"OnlyATrailer", [](Bytes& s) { s.erase(s.begin(), s.end() - 4); }, DecodeStatus::kBadLength},
    {"TrailerLengthOneMore", [](Bytes& s) { s.back() += 1; }, DecodeStatus::kLengthMismatch},
    {"TrailerLengthOneLess", [](Bytes& s) { s.back() -= 1; }, DecodeStatus::kLengthMismatch},
    {"TrailerLengthHuge", [](Bytes& s) { s[s.size() - 4] ^= 0x40; }, DecodeStatus::kTooLarge},
    {"DataCutShort", [](Bytes& s) { s.erase(s.end() - 500, s.end() - 4); }, DecodeStatus::kBadData},
    {"ExtraFillWord", [](Bytes& s) { s.insert(s.end() - 4, 4, 0); }, DecodeStatus::kBadFill},
    {"AlphabetCutShort", [](Bytes& s) { s = {s[0], s[1], s[2], s[3], kMask, kMask, kMask, 1}; },
     DecodeStatus::kBadAlphabet},
};

INSTANTIATE_TEST_SUITE_P(Cases, DamagedStream, ::testing::ValuesIn(kCorruptions),
                         [](const auto& info) { return std::string(info.param.name); });

// A code table listing the same code twice is ambiguous and must be refused.
TEST(HuffmanDecoder, DuplicateCodesAreRefused) {
    // Short alphabet of one value 'A': bit 0, count-1 = 0, 'A'; then code 'A' = "1" and code 256
    // = "1" again; then data "1" and trailer for length 1.
    // Bits: 0 00000 01000001 | 0 00000 1 | 0 00000 1 | 1
    const std::string bits = "0"
                             "00000"
                             "01000001"
                             "0"
                             "00000"
                             "1"
                             "0"
                             "00000"
                             "1"
                             "1";
    Bytes stream;
    std::string padded = bits;
    while (padded.size() % 32 != 0) {
        padded += '0';
    }
    for (std::size_t i = 0; i < padded.size(); i += 8) {
        stream.push_back(static_cast<unsigned char>(std::stoi(padded.substr(i, 8), nullptr, 2)));
    }
    stream.insert(stream.end(), {0x00 ^ kMask, 0x00 ^ kMask, 0x00 ^ kMask, 0x01});
    Bytes out;
    EXPECT_EQ(HuffmanDecode(stream.data(), stream.size(), 100, out), DecodeStatus::kBadCodeTable);
}

TEST(HuffmanDecoder, OutputLimitIsKept) {
    const Bytes input = Skewed(5000, 7);
    const Bytes stream = Compress(input);
    Bytes out;
    EXPECT_EQ(HuffmanDecode(stream.data(), stream.size(), 4999, out), DecodeStatus::kTooLarge);
    EXPECT_EQ(HuffmanDecode(stream.data(), stream.size(), 5000, out), DecodeStatus::kOk);
}

} // namespace
