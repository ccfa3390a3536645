// libFuzzer target: any bytes through the ELF reader, block selection and the text dump: from
// memory, and from a file with only the structure read (as the stored wrap reads it; the file
// is a memory file, so nothing touches the disk). The reader must refuse or read them without
// touching memory outside the input, and both loads must agree on whether the file is sound.
#include "fuzz/memory_file.h"
#include "segwrap/block_selection.h"
#include "segwrap/elf_dump.h"
#include "segwrap/elf_reader.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kestrel::segwrap;
    static std::FILE* sink = std::fopen("/dev/null", "w");
    static const kestrel::fuzz::MemoryFile file("elf");
    file.Replace(data, size);
    auto structure = ElfReader::Create();
    auto reader = ElfReader::Create();
    if (!structure || !reader) {
        std::abort();
    }
    const bool structureLoaded = structure->LoadFile(file.Path(), ElfContents::kStructure);
    if (structureLoaded) {
        SelectBlocks(*structure);
    }
    const bool loaded = reader->LoadBytes(std::span<const unsigned char>(data, size));
    if (loaded != structureLoaded) {
        std::abort(); // the structure-only read decided differently from the whole file
    }
    if (!loaded) {
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
