#include "outside/kzip/kzip.h"

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr unsigned char kMagic[4] = {'F', 'Z', 'K', 'Z'};
constexpr std::uint32_t kVersion = 1;
constexpr std::size_t kHeaderSize = 20;
constexpr std::uint32_t kStoredFlag = 0x80000000u;
constexpr int kMaxBlockSize = 16 << 20;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

void Put32(unsigned char* out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        out[i] = static_cast<unsigned char>(v >> (8 * i));
    }
}

void Put64(unsigned char* out, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) {
        out[i] = static_cast<unsigned char>(v >> (8 * i));
    }
}

std::uint32_t Get32(const unsigned char* in) {
    return static_cast<std::uint32_t>(in[0]) | (static_cast<std::uint32_t>(in[1]) << 8) |
           (static_cast<std::uint32_t>(in[2]) << 16) | (static_cast<std::uint32_t>(in[3]) << 24);
}

std::uint64_t Get64(const unsigned char* in) {
    return static_cast<std::uint64_t>(Get32(in)) |
           (static_cast<std::uint64_t>(Get32(in + 4)) << 32);
}

bool WriteAll(std::FILE* file, const void* data, std::size_t length) {
    return std::fwrite(data, 1, length, file) == length;
}

bool ReadAll(std::FILE* file, void* data, std::size_t length) {
    return std::fread(data, 1, length, file) == length;
}

// Writes the destination; on any failure removes it again.
class Output {
public:
    explicit Output(const char* path)
        : path_(path), file_(std::fopen(path, "wb")), created_(file_ != nullptr) {}
    ~Output() {
        if (created_ && !done_) {
            file_.reset();
            std::remove(path_);
        }
    }
    std::FILE* get() const { return file_.get(); }
    bool Finish() {
        done_ = std::fclose(file_.release()) == 0;
        return done_;
    }

private:
    const char* path_;
    FilePtr file_;
    bool created_;
    bool done_ = false;
};

// One deflate stream reused for every block: each block is a complete zlib stream of its own.
class Deflater {
public:
    Deflater() { ok_ = deflateInit(&stream_, Z_DEFAULT_COMPRESSION) == Z_OK; }
    ~Deflater() {
        if (ok_) {
            deflateEnd(&stream_);
        }
    }
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;

    // Compresses a block into out; false when it does not fit (the block is stored instead).
    bool Block(const unsigned char* data, std::size_t length, std::vector<unsigned char>& out,
               std::size_t* packedLength) {
        if (!ok_ || deflateReset(&stream_) != Z_OK) {
            return false;
        }
        stream_.next_in = const_cast<unsigned char*>(data);
        stream_.avail_in = static_cast<uInt>(length);
        stream_.next_out = out.data();
        stream_.avail_out = static_cast<uInt>(out.size());
        if (deflate(&stream_, Z_FINISH) != Z_STREAM_END) {
            return false;
        }
        *packedLength = out.size() - stream_.avail_out;
        return true;
    }
    bool Ready() const { return ok_; }

private:
    z_stream stream_{};
    bool ok_ = false;
};

bool Compress(std::FILE* in, Output& out, std::size_t blockSize) {
    Deflater deflater;
    if (!deflater.Ready()) {
        return false;
    }
    unsigned char header[kHeaderSize] = {};
    // The original length is filled in when it is known.
    if (!WriteAll(out.get(), header, sizeof header)) {
        return false;
    }
    std::vector<unsigned char> block(blockSize);
    std::vector<unsigned char> packed(compressBound(static_cast<uLong>(blockSize)));
    std::uint64_t total = 0;
    uLong crc = crc32(0, nullptr, 0);
    for (;;) {
        const std::size_t n = std::fread(block.data(), 1, blockSize, in);
        if (n == 0) {
            break;
        }
        total += n;
        crc = crc32(crc, block.data(), static_cast<uInt>(n));
        std::size_t packedLength = 0;
        const bool deflated =
            deflater.Block(block.data(), n, packed, &packedLength) && packedLength < n;
        unsigned char length[4];
        Put32(length, deflated ? static_cast<std::uint32_t>(packedLength)
                               : static_cast<std::uint32_t>(n) | kStoredFlag);
        if (!WriteAll(out.get(), length, 4) ||
            !WriteAll(out.get(), deflated ? packed.data() : block.data(),
                      deflated ? packedLength : n)) {
            return false;
        }
        if (n < blockSize) {
            break;
        }
    }
    if (std::ferror(in)) {
        return false;
    }
    unsigned char trailer[4];
    Put32(trailer, static_cast<std::uint32_t>(crc));
    std::memcpy(header, kMagic, 4);
    Put32(header + 4, kVersion);
    Put32(header + 8, static_cast<std::uint32_t>(blockSize));
    Put64(header + 12, total);
    return WriteAll(out.get(), trailer, 4) && std::fseek(out.get(), 0, SEEK_SET) == 0 &&
           WriteAll(out.get(), header, sizeof header);
}

// Bytes from the current position to the end of the file; the largest size_t where the file
// cannot tell (a pipe), so that only the reads themselves find its end.
std::uint64_t RemainingBytes(std::FILE* in) {
    const long at = std::ftell(in);
    if (at < 0 || std::fseek(in, 0, SEEK_END) != 0) {
        return UINT64_MAX;
    }
    const long end = std::ftell(in);
    if (std::fseek(in, at, SEEK_SET) != 0) {
        return 0;
    }
    return end < at ? 0 : static_cast<std::uint64_t>(end - at);
}

// Makes the buffer hold at least n bytes. The buffers grow with the blocks the file really
// holds, not with the block size its header claims: a short file that claims 16 MiB blocks
// costs no 32 MiB of zeroed memory.
void Reserve(std::vector<unsigned char>& buffer, std::size_t n) {
    if (buffer.size() < n) {
        buffer.resize(n);
    }
}

bool Decompress(std::FILE* in, Output& out) {
    unsigned char header[kHeaderSize];
    if (!ReadAll(in, header, sizeof header) || std::memcmp(header, kMagic, 4) != 0 ||
        Get32(header + 4) != kVersion) {
        return false;
    }
    const std::uint32_t blockSize = Get32(header + 8);
    const std::uint64_t total = Get64(header + 12);
    if (blockSize == 0 || blockSize > static_cast<std::uint32_t>(kMaxBlockSize)) {
        return false;
    }
    const std::size_t maxPacked = compressBound(blockSize);
    std::uint64_t remaining = RemainingBytes(in);
    std::vector<unsigned char> block;
    std::vector<unsigned char> packed;
    uLong crc = crc32(0, nullptr, 0);
    // One block per blockSize bytes of the original: the loop is bounded by the header's
    // length, and every stored length is checked (against the block size and against what is
    // left of the file) before a buffer is sized for it or it is read.
    for (std::uint64_t done = 0; done < total;) {
        const auto expected =
            static_cast<std::size_t>(std::min<std::uint64_t>(blockSize, total - done));
        unsigned char lengthField[4];
        if (!ReadAll(in, lengthField, 4)) {
            return false;
        }
        const std::uint32_t word = Get32(lengthField);
        const std::size_t length = word & ~kStoredFlag;
        if (remaining < 4 || length > remaining - 4) {
            return false;
        }
        remaining -= 4 + length;
        Reserve(block, expected);
        if ((word & kStoredFlag) != 0) {
            if (length != expected || !ReadAll(in, block.data(), length)) {
                return false;
            }
        } else {
            if (length > maxPacked) {
                return false;
            }
            Reserve(packed, length);
            if (!ReadAll(in, packed.data(), length)) {
                return false;
            }
            uLongf unpacked = static_cast<uLongf>(expected);
            if (uncompress(block.data(), &unpacked, packed.data(), static_cast<uLong>(length)) !=
                    Z_OK ||
                unpacked != expected) {
                return false;
            }
        }
        crc = crc32(crc, block.data(), static_cast<uInt>(expected));
        if (!WriteAll(out.get(), block.data(), expected)) {
            return false;
        }
        done += expected;
    }
    unsigned char trailer[4];
    unsigned char extra;
    return ReadAll(in, trailer, 4) && Get32(trailer) == static_cast<std::uint32_t>(crc) &&
           std::fread(&extra, 1, 1, in) == 0;
}

} // namespace

KESTREL_EXPORT int file_compress(const char* src, const char* dst, int blockSize) {
    if (src == nullptr || dst == nullptr || blockSize <= 0 || blockSize > kMaxBlockSize) {
        return -1;
    }
    try {
        FilePtr in(std::fopen(src, "rb"));
        if (!in) {
            return -1;
        }
        Output out(dst);
        if (out.get() == nullptr || !Compress(in.get(), out, static_cast<std::size_t>(blockSize))) {
            return -1;
        }
        return out.Finish() ? 0 : -1;
    } catch (...) {
        return -1;
    }
}

KESTREL_EXPORT int file_decompress(const char* src, const char* dst) {
    if (src == nullptr || dst == nullptr) {
        return -1;
    }
    try {
        FilePtr in(std::fopen(src, "rb"));
        if (!in) {
            return -1;
        }
        Output out(dst);
        if (out.get() == nullptr || !Decompress(in.get(), out)) {
            return -1;
        }
        return out.Finish() ? 0 : -1;
    } catch (...) {
        return -1;
    }
}
