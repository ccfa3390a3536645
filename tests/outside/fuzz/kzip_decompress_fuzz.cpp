// libFuzzer target: any bytes through the kzip decompressor. A file it accepts must compress
// and decompress again to the same bytes; nothing may read or write outside its buffers. The
// library takes paths, so the input and the outputs are memory files named by their
// /proc/self/fd paths: nothing touches the disk.
#include "fuzz/memory_file.h"
#include "outside/kzip/kzip.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using kestrel::fuzz::MemoryFile;
    static const MemoryFile input("in"), plain("plain"), again("again"), back("back");
    input.Replace(data, size);
    if (file_decompress(input.Path(), plain.Path()) != 0) {
        return 0;
    }
    const std::string original = plain.Contents();
    if (file_compress(plain.Path(), again.Path(), 2048) != 0 ||
        file_decompress(again.Path(), back.Path()) != 0 || back.Contents() != original) {
        std::abort();
    }
    return 0;
}
