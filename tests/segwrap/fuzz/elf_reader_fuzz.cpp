// libFuzzer target: any bytes through the ELF reader (from memory, and from a file with only the
// structure read, as the stored wrap does), block selection and the text dump. The reader must
// refuse or read them without touching memory outside the input.
#include "segwrap/block_selection.h"
#include "segwrap/elf_dump.h"
#include "segwrap/elf_reader.h"

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kestrel::segwrap;
    static std::FILE* sink = std::fopen("/dev/null", "w");
    static const std::string path = "/tmp/segwrap-elf-fuzz-" + std::to_string(getpid());
    if (FileHandle file{std::fopen(path.c_str(), "wb")}) {
        std::fwrite(data, 1, size, file.get());
    }
    if (auto structure = ElfReader::Create();
        structure && structure->LoadFile(path.c_str(), ElfContents::kStructure)) {
        SelectBlocks(*structure);
    }
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
