#pragma once
// Whole-file reads into one uninitialised heap block (no time spent zeroing bytes that the read
// overwrites), with every byte count checked, and the file handle the packer writes through.

#include <cstdio>
#include <memory>
#include <optional>

namespace kestrel::segwrap {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

class ByteBlock {
public:
    ByteBlock() = default;
    // Throws std::bad_alloc when the memory cannot be had.
    explicit ByteBlock(std::size_t size)
        : data_(size > 0 ? new unsigned char[size] : nullptr), size_(size) {}

    unsigned char* data() { return data_.get(); }
    const unsigned char* data() const { return data_.get(); }
    std::size_t size() const { return size_; }

private:
    std::unique_ptr<unsigned char[]> data_;
    std::size_t size_ = 0;
};

// The file's bytes, or nothing when it cannot be opened or read completely (or is not a regular
// file). Throws std::bad_alloc for a file larger than the memory at hand.
std::optional<ByteBlock> ReadWholeFile(const char* path);

} // namespace kestrel::segwrap
