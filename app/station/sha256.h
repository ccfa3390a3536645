#pragma once
// SHA-256 of byte strings and files, for the run record's image digests.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace kestrel::station {

class Sha256 {
public:
    Sha256();
    void Update(const void* data, std::size_t size);
    std::array<std::uint8_t, 32> Finish();

private:
    void Block(const std::uint8_t* block);

    std::array<std::uint32_t, 8> state_;
    std::array<std::uint8_t, 64> buffer_{};
    std::size_t buffered_ = 0;
    std::uint64_t length_ = 0;
};

// Lower-case hexadecimal digest of the bytes.
std::string Sha256Hex(const void* data, std::size_t size);

// Digest of a whole file; nullopt when it cannot be read.
std::optional<std::string> Sha256OfFile(const std::string& path);

} // namespace kestrel::station
