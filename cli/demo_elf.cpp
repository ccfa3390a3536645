#include "cli/demo_elf.h"

#include <cstring>

namespace kestrel::cli {
namespace {

void Put16(std::vector<std::uint8_t>& out, std::size_t at, std::uint16_t v) {
    out[at] = static_cast<std::uint8_t>(v);
    out[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

void Put32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        out[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

constexpr std::uint32_t kTextAddress = 0x10000000;
constexpr std::uint32_t kDataAddress = 0x10800000;

} // namespace

std::vector<std::uint8_t> DemoBytes(std::size_t size, std::uint32_t seed) {
    std::vector<std::uint8_t> bytes(size);
    std::uint32_t x = seed * 2654435761u + 0x9E3779B9u;
    for (auto& b : bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<std::uint8_t>(x);
    }
    return bytes;
}

std::vector<std::uint8_t> MakeDemoElf(std::uint32_t textBytes, std::uint32_t dataBytes,
                                      std::uint32_t seed) {
    textBytes = (textBytes + 3) & ~3u;
    dataBytes = (dataBytes + 3) & ~3u;
    constexpr std::uint32_t kHeader = 52, kPhdr = 32, kShdr = 40;
    const char names[] = "\0.shstrtab\0.text\0.data\0"; // offsets 1, 11, 17
    const std::uint32_t textOffset = kHeader + 2 * kPhdr;
    const std::uint32_t dataOffset = textOffset + textBytes;
    const std::uint32_t namesOffset = dataOffset + dataBytes;
    const std::uint32_t shOffset = (namesOffset + sizeof names + 3) & ~3u;
    std::vector<std::uint8_t> elf(shOffset + 4 * kShdr, 0);

    const std::uint8_t ident[16] = {0x7F, 'E', 'L', 'F', 1, 1, 1, 0};
    std::memcpy(elf.data(), ident, sizeof ident);
    Put16(elf, 16, 2);  // executable
    Put16(elf, 18, 40); // ARM
    Put32(elf, 20, 1);
    Put32(elf, 24, kTextAddress); // entry
    Put32(elf, 28, kHeader);      // program headers
    Put32(elf, 32, shOffset);     // section headers
    Put32(elf, 36, 0x05000000);   // EABI version 5
    Put16(elf, 40, kHeader);
    Put16(elf, 42, kPhdr);
    Put16(elf, 44, 2);
    Put16(elf, 46, kShdr);
    Put16(elf, 48, 4);
    Put16(elf, 50, 1); // .shstrtab

    auto phdr = [&](int i, std::uint32_t offset, std::uint32_t address, std::uint32_t size,
                    std::uint32_t flags) {
        const std::size_t at = kHeader + i * kPhdr;
        Put32(elf, at, 1); // loadable
        Put32(elf, at + 4, offset);
        Put32(elf, at + 8, address);
        Put32(elf, at + 12, address);
        Put32(elf, at + 16, size);
        Put32(elf, at + 20, size);
        Put32(elf, at + 24, flags);
        Put32(elf, at + 28, 4);
    };
    phdr(0, textOffset, kTextAddress, textBytes, 5);
    phdr(1, dataOffset, kDataAddress, dataBytes, 6);

    const auto text = DemoBytes(textBytes, seed);
    const auto data = DemoBytes(dataBytes, seed + 1);
    std::memcpy(elf.data() + textOffset, text.data(), text.size());
    std::memcpy(elf.data() + dataOffset, data.data(), data.size());
    std::memcpy(elf.data() + namesOffset, names, sizeof names);

    auto shdr = [&](int i, std::uint32_t name, std::uint32_t type, std::uint32_t flags,
                    std::uint32_t address, std::uint32_t offset, std::uint32_t size) {
        const std::size_t at = shOffset + i * kShdr;
        Put32(elf, at, name);
        Put32(elf, at + 4, type);
        Put32(elf, at + 8, flags);
        Put32(elf, at + 12, address);
        Put32(elf, at + 16, offset);
        Put32(elf, at + 20, size);
        Put32(elf, at + 32, type == 3 ? 1 : 4); // alignment
    };
    shdr(1, 1, 3, 0, 0, namesOffset, sizeof names);
    shdr(2, 11, 1, 6, kTextAddress, textOffset, textBytes); // alloc + exec
    shdr(3, 17, 1, 3, kDataAddress, dataOffset, dataBytes); // alloc + write
    return elf;
}

} // namespace kestrel::cli
