// libFuzzer target: any bytes through the ELF reader, block selection and the text dump. The
// reader must refuse or read them without touching memory outside the input.
#include "segwrap/block_selection.h"
#include "segwrap/elf_dump.h"
#include "segwrap/elf_reader.h"

#include <cstdint>
#include <cstdio>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kestrel::segwrap;
    static std::FILE* sink = std::fopen("/dev/null", "w");
    auto reader = ElfReader::Create();
    if (!reader || !reader->LoadBytes(std::span<const unsigned char>(data, size))) {
        return 0;
    }
    if (const auto views = SelectBlocks(*reader)) {
        volatile std::uint32_t sum = 0;
        for (const BlockView& block : views->blocks) {
            for (std::uint32_t i = 0; i < block.size; i += 64) {
                sum = sum + block.data[i]; // every block's bytes must be readable
            }
        }
    }
    WriteElfDump(*reader, sink);
    return 0;
}
