#pragma once
// Whole-file reads and writes with every byte count checked, for the packer's inputs and
// outputs.

#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

namespace kestrel::segwrap {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// The file's bytes, or nothing when it cannot be opened or read completely (or is not a regular
// file). May throw std::bad_alloc for a file larger than memory.
std::optional<std::vector<unsigned char>> ReadWholeFile(const char* path);

} // namespace kestrel::segwrap
