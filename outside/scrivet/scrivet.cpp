#include "outside/scrivet/scrivet.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr int kMaxBlockSize = 16 << 20;
constexpr int kSkipBlockSize = 2048;
constexpr std::uint64_t kSkipLength = 32;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// The keystream of one block: xorshift32 from a state made of the key and the block number;
// each step gives the next byte (the state's top eight bits).
class Keystream {
public:
    Keystream(std::uint32_t key, std::uint64_t block) {
        state_ = (key + 1u) * 0x9E3779B9u ^ static_cast<std::uint32_t>(block) * 0x85EBCA6Bu ^
                 static_cast<std::uint32_t>(block >> 32) * 0xC2B2AE35u;
        if (state_ == 0) {
            state_ = 0x6D2B79F5u;
        }
    }
    unsigned char Next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return static_cast<unsigned char>(state_ >> 24);
    }

private:
    std::uint32_t state_;
};

// Adding the keystream is its own inverse: encoding and decoding are one transform.
int Transform(const char* src, const char* dst, int blockSize, int key, std::uint64_t skip) {
    if (src == nullptr || dst == nullptr || blockSize <= 0 || blockSize > kMaxBlockSize) {
        return -1;
    }
    try {
        FilePtr in(std::fopen(src, "rb"));
        if (!in) {
            return -1;
        }
        FilePtr out(std::fopen(dst, "wb"));
        if (!out) {
            return -1;
        }
        const auto size = static_cast<std::size_t>(blockSize);
        std::vector<unsigned char> block(size);
        bool ok = true;
        for (std::uint64_t number = 0;; ++number) {
            const std::size_t n = std::fread(block.data(), 1, size, in.get());
            if (n == 0) {
                ok = !std::ferror(in.get());
                break;
            }
            Keystream stream(static_cast<std::uint32_t>(key), number);
            const std::uint64_t start = number * size;
            for (std::size_t i = 0; i < n; ++i) {
                const unsigned char k = stream.Next();
                if (start + i >= skip) {
                    block[i] ^= k;
                }
            }
            if (std::fwrite(block.data(), 1, n, out.get()) != n) {
                ok = false;
                break;
            }
        }
        if (std::fclose(out.release()) != 0) {
            ok = false;
        }
        if (!ok) {
            std::remove(dst);
            return -1;
        }
        return 0;
    } catch (...) {
        std::remove(dst);
        return -1;
    }
}

} // namespace

KESTREL_EXPORT int EncodeFunc(const char* src, const char* dst, int blockSize, int key) {
    return Transform(src, dst, blockSize, key, 0);
}

KESTREL_EXPORT int EncodeFuncWithSkip(const char* src, const char* dst, int key) {
    return Transform(src, dst, kSkipBlockSize, key, kSkipLength);
}

KESTREL_EXPORT int DecodeFunc(const char* src, const char* dst, int blockSize, int key) {
    return Transform(src, dst, blockSize, key, 0);
}

KESTREL_EXPORT int DecodeFuncWithSkip(const char* src, const char* dst, int key) {
    return Transform(src, dst, kSkipBlockSize, key, kSkipLength);
}
