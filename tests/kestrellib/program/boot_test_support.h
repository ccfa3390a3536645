#pragma once
// Helpers of the boot-code suites: a message-box recorder, an in-memory NAND page writer and
// boot image content builders.

#include "kestrellib/program/boot_image_writer.h"
#include "kestrellib/program/sub_block_writer.h"
#include "platform/message_box/message_box.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <span>
#include <string>
#include <vector>

namespace kestrel::test {

// Records every message box shown while it lives (thread-safe).
class MessageRecorder {
public:
    MessageRecorder() {
        previous_ =
            platform::SetMessageBoxHandler([this](const std::string& text, const std::string&) {
                std::lock_guard guard(lock_);
                texts_.push_back(text);
            });
    }
    ~MessageRecorder() { platform::SetMessageBoxHandler(previous_); }
    MessageRecorder(const MessageRecorder&) = delete;
    MessageRecorder& operator=(const MessageRecorder&) = delete;

    std::vector<std::string> Texts() const {
        std::lock_guard guard(lock_);
        return texts_;
    }

private:
    mutable std::mutex lock_;
    std::vector<std::string> texts_;
    platform::MessageBoxHandler previous_;
};

// Pages written into memory; pages in failing never verify; each page may be written once.
class MemoryPageWriter : public program::PageWriter {
public:
    bool WritePage(std::span<const std::uint8_t> data, std::uint32_t page) override {
        ++attempts;
        if (failing.count(page) != 0 || pages.count(page) != 0) {
            return false;
        }
        pages[page].assign(data.begin(), data.end());
        return true;
    }
    std::set<std::uint32_t> failing;
    std::map<std::uint32_t, std::vector<std::uint8_t>> pages;
    int attempts = 0;
};

// n bytes of a pattern that differs per seed and position.
inline std::vector<std::uint8_t> PatternBytes(std::size_t n, std::uint32_t seed) {
    std::vector<std::uint8_t> bytes(n);
    std::uint32_t x = seed * 2654435761u + 12345u;
    for (auto& b : bytes) {
        x = x * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(x >> 16);
    }
    return bytes;
}

inline std::uint32_t WordAt(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return static_cast<std::uint32_t>(bytes[offset]) |
           static_cast<std::uint32_t>(bytes[offset + 1]) << 8 |
           static_cast<std::uint32_t>(bytes[offset + 2]) << 16 |
           static_cast<std::uint32_t>(bytes[offset + 3]) << 24;
}

inline void SetWordAt(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

} // namespace kestrel::test
