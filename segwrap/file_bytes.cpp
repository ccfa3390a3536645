#include "segwrap/file_bytes.h"

#include <filesystem>
#include <limits>
#include <system_error>

namespace kestrel::segwrap {

std::optional<ByteBlock> ReadWholeFile(const char* path) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
        return std::nullopt;
    }
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    if (ec || size > std::numeric_limits<std::size_t>::max() / 2) {
        return std::nullopt;
    }
    FileHandle file(std::fopen(path, "rb"));
    if (!file) {
        return std::nullopt;
    }
    ByteBlock bytes(static_cast<std::size_t>(size));
    if (std::fread(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) {
        return std::nullopt;
    }
    return bytes;
}

} // namespace kestrel::segwrap
