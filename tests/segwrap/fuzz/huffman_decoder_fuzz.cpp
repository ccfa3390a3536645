// libFuzzer target: any bytes through the payload decoder. A stream that decodes must, encoded
// again, decode to the same bytes; nothing may read or write outside the buffers.
#include "segwrap/huffman_decoder.h"
#include "segwrap/huffman_encoder.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kestrel::segwrap;
    std::vector<unsigned char> plain;
    if (HuffmanDecode(data, size, 1u << 20, plain) != DecodeStatus::kOk) {
        return 0;
    }
    std::vector<unsigned char> again(plain.size() + 2048);
    const CompressResult r =
        HuffmanCompress(plain.data(), plain.size(), again.data(), again.size());
    std::vector<unsigned char> back;
    if (r.status != CompressStatus::kOk ||
        HuffmanDecode(again.data(), r.length, 1u << 20, back) != DecodeStatus::kOk ||
        back != plain) {
        std::abort();
    }
    return 0;
}
