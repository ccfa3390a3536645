#include "bench_inputs.h"

#include "segwrap/elf_builder.h"
#include "segwrap/vmx_image.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <random>
#include <stdexcept>

namespace kestrel::bench {

Bytes MakeText(std::size_t size) {
    static const char* const kWords[] = {
        "the",     "of",      "and",     "to",      "a",       "in",      "is",       "that",
        "for",     "it",      "as",      "was",     "with",    "be",      "by",       "on",
        "not",     "he",      "this",    "are",     "or",      "his",     "from",     "at",
        "which",   "but",     "have",    "an",      "had",     "they",    "you",      "were",
        "their",   "one",     "all",     "we",      "can",     "her",     "has",      "there",
        "been",    "if",      "more",    "when",    "will",    "would",   "who",      "so",
        "device",  "station", "program", "block",   "page",    "image",   "operator", "resource",
        "boot",    "flash",   "memory",  "address", "segment", "section", "header",   "checksum",
        "between", "through", "during",  "without", "against", "because", "another",  "nothing"};
    constexpr std::size_t kCount = sizeof(kWords) / sizeof(kWords[0]);
    std::vector<double> weights(kCount);
    for (std::size_t i = 0; i < kCount; ++i) {
        weights[i] = 1.0 / static_cast<double>(i + 1);
    }
    std::mt19937 rng(2010);
    std::discrete_distribution<std::size_t> pick(weights.begin(), weights.end());
    std::uniform_int_distribution<int> punct(0, 99);
    Bytes text;
    text.reserve(size + 16);
    bool capital = true;
    int column = 0;
    while (text.size() < size) {
        std::string word = kWords[pick(rng)];
        if (capital) {
            word[0] = static_cast<char>(word[0] - 'a' + 'A');
            capital = false;
        }
        const int p = punct(rng);
        if (p < 6) {
            word += '.';
            capital = true;
        } else if (p < 12) {
            word += ',';
        }
        column += static_cast<int>(word.size()) + 1;
        word += column > 72 ? '\n' : ' ';
        column = column > 72 ? 0 : column;
        text.insert(text.end(), word.begin(), word.end());
    }
    text.resize(size);
    return text;
}

Bytes CollectMachineCode(std::size_t size) {
    std::vector<std::filesystem::path> files;
    std::error_code ec;
    for (const char* dir :
         {"/usr/lib/x86_64-linux-gnu", "/usr/lib/aarch64-linux-gnu", "/usr/lib", "/lib"}) {
        for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
            const std::string name = entry.path().filename().string();
            if (entry.is_regular_file(ec) && name.find(".so") != std::string::npos) {
                files.push_back(entry.path());
            }
        }
        if (!files.empty()) {
            break;
        }
    }
    std::sort(files.begin(), files.end());
    Bytes code;
    code.reserve(size);
    for (const auto& file : files) {
        std::ifstream in(file, std::ios::binary);
        Bytes bytes((std::istreambuf_iterator<char>(in)), {});
        if (bytes.size() < 4 || bytes[0] != 0x7F || bytes[1] != 'E') {
            continue;
        }
        code.insert(code.end(), bytes.begin(), bytes.end());
        if (code.size() >= size) {
            break;
        }
    }
    if (code.empty()) {
        throw std::runtime_error("no ELF libraries found to take machine code from");
    }
    while (code.size() < size) {
        code.insert(code.end(), code.begin(),
                    code.begin() + std::min(code.size(), size - code.size()));
    }
    code.resize(size);
    return code;
}

void WriteLargeElf(const std::filesystem::path& path, const Bytes& code) {
    test::ElfBuilder elf(false, false);
    const std::size_t parts[3] = {code.size() * 6 / 10 / 4 * 4, code.size() * 3 / 10 / 4 * 4, 0};
    const std::size_t sizes[3] = {parts[0], parts[1], code.size() - parts[0] - parts[1]};
    const char* names[3] = {".text", ".rodata", ".data"};
    const std::uint32_t flags[3] = {6, 2, 3};
    std::uint64_t addr = 0x30000000;
    std::size_t from = 0;
    std::size_t sectionIndex[3];
    elf.entry = addr;
    for (int i = 0; i < 3; ++i) {
        elf.AddSegment({.type = 1,
                        .virtAddr = addr,
                        .physAddr = addr,
                        .data = std::string(code.begin() + from, code.begin() + from + sizes[i]),
                        .flags = i == 0 ? 5u : 6u});
        // The section's bytes are the segment's: its offset is pointed there after building.
        sectionIndex[i] = elf.AddSection({.name = names[i],
                                          .type = 1,
                                          .flags = flags[i],
                                          .addr = addr,
                                          .align = 4,
                                          .sizeOverride = sizes[i]});
        addr += sizes[i];
        from += sizes[i];
    }
    std::string file = elf.Build();
    for (int i = 0; i < 3; ++i) {
        elf.Patch(file, elf.shoff + sectionIndex[i] * elf.ShentSize() + 16, elf.segmentOffsets[i],
                  4);
    }
    std::ofstream(path, std::ios::binary | std::ios::trunc) << file;
}

Bytes WrappedPayload(const std::filesystem::path& elf, const std::filesystem::path& scratch) {
    if (WrapVMXImageFormat(elf.c_str(), scratch.c_str(), 0) != 1) {
        throw std::runtime_error("wrapping the benchmark ELF file failed");
    }
    std::ifstream in(scratch, std::ios::binary);
    Bytes image((std::istreambuf_iterator<char>(in)), {});
    return Bytes(image.begin() + 16, image.end());
}

} // namespace kestrel::bench
