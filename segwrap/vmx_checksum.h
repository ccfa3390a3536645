#pragma once
// The image checksum taken piece by piece, so that a payload can be summed while it is written
// from its parts. A payload of n words falls into four consecutive runs of n / 4 words, the
// last run taking the remainder; checkSumA sums runs 0 and 2, checkSumB runs 1 and 3, modulo
// 2^32, every word read little-endian.

#include <cstddef>
#include <cstdint>

namespace kestrel::segwrap {

class PayloadCheckSum {
public:
    // totalWords: the length of the whole payload in words.
    explicit PayloadCheckSum(std::size_t totalWords) : total_(totalWords), run_(totalWords / 4) {}

    // Adds the next `words` words (4 * words bytes) of the payload.
    void AddWords(const unsigned char* bytes, std::size_t words);
    // Adds the next bytes, which need not end on a word: a partial word is completed with zero
    // bytes, as the fill after a record's data does.
    void AddBytesZeroFilled(const unsigned char* bytes, std::size_t length);

    std::uint32_t SumA() const { return a_; }
    std::uint32_t SumB() const { return b_; }
    std::size_t WordsAdded() const { return index_; }

private:
    std::size_t total_;
    std::size_t run_;
    std::size_t index_ = 0;
    std::uint32_t a_ = 0;
    std::uint32_t b_ = 0;
};

} // namespace kestrel::segwrap
