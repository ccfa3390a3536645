#pragma once
// Writes an image front to back. Items are placed at ascending offsets; the bytes between them
// are zeros, gathered with small items in one staging buffer so that thousands of small files
// cost a few large writes. Large files are copied straight from file to file (inside the
// kernel where the host can), so memory use does not depend on file sizes. Nothing is written
// after the last item: the image file ends with the last byte put into it.

#include "platform/files/files.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace kestrel::romfs {

struct CopyResult {
    enum Outcome { kCopied, kReadFailed, kWriteFailed };
    Outcome outcome = kCopied;
    std::uint64_t copied = 0; // bytes of the source copied before a failure
    int error = 0;            // 0 for a read that found the end of the file early
};

class ImageWriter {
public:
    // Writes into out from offset start on (what lies before is written by the caller).
    ImageWriter(const platform::File& out, std::uint64_t start);
    ImageWriter(const ImageWriter&) = delete;
    ImageWriter& operator=(const ImageWriter&) = delete;

    std::uint64_t Position() const { return position_; }

    // Moves on to offset; the bytes passed over read as zeros once anything is written after
    // them. Returns 0, or -1 (nothing changed) when offset lies before the position: an image
    // is written strictly front to back.
    int SeekTo(std::uint64_t offset);
    // Appends bytes. 0 or an error number.
    int Write(const void* data, std::size_t length);
    // Appends the first length bytes of in.
    CopyResult Copy(const platform::File& in, std::uint64_t length);
    // Writes out the staging buffer. 0 or an error number.
    int Flush();

    static constexpr std::size_t kBufferSize = 1 << 20;
    // Files at least this long are copied file to file rather than through the buffer.
    static constexpr std::uint64_t kDirectCopyThreshold = 256 << 10;

private:
    // Puts the zeros of a pending gap before the next bytes. 0 or an error number.
    int CloseGap();
    CopyResult CopyThroughBuffer(const platform::File& in, std::uint64_t from, std::uint64_t length,
                                 std::uint64_t copied);

    const platform::File& out_;
    std::unique_ptr<unsigned char[]> buffer_;
    std::uint64_t start_; // file offset of buffer_[0]
    std::size_t used_ = 0;
    std::uint64_t position_; // where the next bytes go: start_ + used_ or beyond
};

} // namespace kestrel::romfs
