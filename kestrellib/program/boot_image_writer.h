#pragma once
// Writes wrapped boot image files: the tool with which tests, the demo workspace and users who
// pack their own boot images produce what the boot-code procedure reads. It fills in the block
// count and the checksum and refuses content that the reader would take differently.

#include "kestrellib/program/boot_image_format.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kestrel::program {

struct BootImageContent {
    bool longHeader = true;            // 32-byte header with the "1100" mark, else 16 bytes
    std::uint32_t word1 = 0;           // not examined by the reader
    std::uint32_t bootHeaderValue = 0; // header word 4 (long header only)
    std::uint32_t word6 = 0;           // header words 6 and 7 (long header only)
    std::uint32_t word7 = 0;
    struct Block {
        std::uint32_t blockType = 0;
        std::vector<std::uint8_t> data;
    };
    std::vector<Block> blocks;
};

// The file's bytes. False (with the reason in *error) when the content cannot be represented:
// a block longer than a u32 can count, or a short header that the reader would take for a long
// one or that leaves the file shorter than the 32 bytes the reader always reads.
bool EncodeBootImage(const BootImageContent& content, std::vector<std::uint8_t>& out,
                     std::string* error = nullptr);

// Encodes and writes the file at path, replacing it only once complete (file_replace.h).
bool WriteBootImageFile(const std::string& path, const BootImageContent& content,
                        std::string* error = nullptr);

} // namespace kestrel::program
