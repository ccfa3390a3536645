#include "segwrap/vmx_checksum.h"

#include "segwrap/byte_order.h"
#include "segwrap/vmx_image.h"

#include <algorithm>

namespace kestrel::segwrap {
namespace {

std::uint32_t SumWords(const unsigned char* words, std::size_t count) {
    // Four lanes let the additions of one pass proceed independently.
    std::uint32_t lane[4] = {0, 0, 0, 0};
    std::size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        lane[0] += LoadLe32(words + 4 * i);
        lane[1] += LoadLe32(words + 4 * i + 4);
        lane[2] += LoadLe32(words + 4 * i + 8);
        lane[3] += LoadLe32(words + 4 * i + 12);
    }
    for (; i < count; ++i) {
        lane[0] += LoadLe32(words + 4 * i);
    }
    return lane[0] + lane[1] + lane[2] + lane[3];
}

} // namespace

void PayloadCheckSum::AddWords(const unsigned char* bytes, std::size_t words) {
    while (words > 0) {
        // Runs 0-2 hold run_ words each; run 3 holds the rest (everything when run_ is 0).
        const std::size_t run = run_ == 0 ? 3 : std::min<std::size_t>(index_ / run_, 3);
        const std::size_t runEnd = run < 3 ? (run + 1) * run_ : std::max(total_, index_ + words);
        const std::size_t take = std::min(words, runEnd - index_);
        (run % 2 == 0 ? a_ : b_) += SumWords(bytes, take);
        bytes += 4 * take;
        words -= take;
        index_ += take;
    }
}

void PayloadCheckSum::AddBytesZeroFilled(const unsigned char* bytes, std::size_t length) {
    AddWords(bytes, length / 4);
    if (length % 4 != 0) {
        unsigned char last[4] = {0, 0, 0, 0};
        std::copy(bytes + length / 4 * 4, bytes + length, last);
        AddWords(last, 1);
    }
}

} // namespace kestrel::segwrap

int MakeCheckSum(ImageHeader* header, const void* data, unsigned int length) {
    if (header == nullptr || data == nullptr || length % 4 != 0) {
        return 0;
    }
    kestrel::segwrap::PayloadCheckSum sum(length / 4);
    sum.AddWords(static_cast<const unsigned char*>(data), length / 4);
    header->checkSumA = sum.SumA();
    header->checkSumB = sum.SumB();
    return 1;
}
