// Writes the fuzzers' seed inputs into two folders: hand-built ELF files of each class and byte
// order (segments, sections, symbols, notes), and compressed streams of a few payload kinds.
#include "segwrap/elf_builder.h"
#include "segwrap/huffman_encoder.h"

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

void Write(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        return 2;
    }
    const std::filesystem::path elfDir = argv[1], streamDir = argv[2];
    std::filesystem::create_directories(elfDir);
    std::filesystem::create_directories(streamDir);
    using kestrel::test::ElfBuilder;
    int n = 0;
    for (bool is64 : {false, true}) {
        for (bool big : {false, true}) {
            ElfBuilder elf(is64, big);
            elf.entry = 0x30000000;
            elf.AddSegment({.type = 1,
                            .virtAddr = 0x30000000,
                            .physAddr = 0x100000,
                            .data = "\x00\x00\xa0\xe3\x1e\xff\x2f\xe1"});
            elf.AddSegment({.type = 4, .data = "note"});
            elf.AddSegment({.type = 0x70000001, .virtAddr = 0x1000, .data = "x"});
            elf.AddSection({.name = ".text", .type = 1, .flags = 6, .data = "abcd"});
            elf.AddSymbolTable(".symtab", {{}, {.name = "main", .value = 0x30000000, .bind = 1}});
            elf.AddNoteSection(".note", {{.name = "GNU", .type = 3, .desc = "abcd"}});
            Write(elfDir / ("elf" + std::to_string(n++)), elf.Build());
        }
    }
    Write(elfDir / "no_program_headers", ElfBuilder(false, false).Build());

    const std::vector<std::string> payloads = {
        "a", "ab", std::string(300, 'z'), "VMXd$\x01\x00\x01 the quick brown fox jumps over it"};
    std::string all;
    for (int v = 0; v < 256; ++v) {
        all += static_cast<char>(v);
    }
    n = 0;
    for (const std::string& p : {payloads[0], payloads[1], payloads[2], payloads[3], all}) {
        std::vector<unsigned char> out(p.size() + 2048);
        const auto r = kestrel::segwrap::HuffmanCompress(
            reinterpret_cast<const unsigned char*>(p.data()), p.size(), out.data(), out.size());
        Write(streamDir / ("stream" + std::to_string(n++)),
              std::string(reinterpret_cast<const char*>(out.data()), r.length));
    }
    return 0;
}
