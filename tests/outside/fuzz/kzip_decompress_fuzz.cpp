// libFuzzer target: any bytes through the kzip decompressor. A file it accepts must compress
// and decompress again to the same bytes; nothing may read or write outside its buffers.
#include "outside/kzip/kzip.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

namespace {

std::string Scratch(const char* what) {
    return "/tmp/kzip-fuzz-" + std::to_string(getpid()) + "." + what;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string input = Scratch("in");
    static const std::string plain = Scratch("plain");
    static const std::string again = Scratch("again");
    static const std::string back = Scratch("back");
    std::ofstream(input, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (file_decompress(input.c_str(), plain.c_str()) != 0) {
        return 0;
    }
    if (file_compress(plain.c_str(), again.c_str(), 2048) != 0 ||
        file_decompress(again.c_str(), back.c_str()) != 0 || ReadAll(back) != ReadAll(plain)) {
        std::abort();
    }
    return 0;
}
