#include "segwrap/byte_order.h"
#include "segwrap/vmx_image.h"

namespace {

std::uint32_t SumWords(const unsigned char* words, std::size_t count) {
    // Four lanes let the additions of one pass proceed independently.
    std::uint32_t lane[4] = {0, 0, 0, 0};
    std::size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        lane[0] += kestrel::segwrap::LoadLe32(words + 4 * i);
        lane[1] += kestrel::segwrap::LoadLe32(words + 4 * i + 4);
        lane[2] += kestrel::segwrap::LoadLe32(words + 4 * i + 8);
        lane[3] += kestrel::segwrap::LoadLe32(words + 4 * i + 12);
    }
    for (; i < count; ++i) {
        lane[0] += kestrel::segwrap::LoadLe32(words + 4 * i);
    }
    return lane[0] + lane[1] + lane[2] + lane[3];
}

} // namespace

int MakeCheckSum(ImageHeader* header, const void* data, unsigned int length) {
    if (header == nullptr || data == nullptr || length % 4 != 0) {
        return 0;
    }
    const auto* bytes = static_cast<const unsigned char*>(data);
    const std::size_t n = length / 4;
    const std::size_t q = n / 4;
    const std::size_t runBytes = q * 4;
    header->checkSumA = SumWords(bytes, q) + SumWords(bytes + 2 * runBytes, q);
    header->checkSumB = SumWords(bytes + runBytes, q) + SumWords(bytes + 3 * runBytes, n - 3 * q);
    return 1;
}
