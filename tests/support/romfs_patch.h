#pragma once
// Damaging a built ROMFS image the way a hostile one would be made: a stored name replaced by
// another of the same length, or a directory entry pointed at another node. Names are found by
// their bytes, so tests pick names that occur once in the image.

#include <cstdint>
#include <stdexcept>
#include <string>

namespace kestrel::test {

inline std::size_t UniqueAt(const std::string& image, const std::string& name) {
    const std::string stored = name + '\0';
    const std::size_t at = image.find(stored);
    if (at == std::string::npos || image.find(stored, at + 1) != std::string::npos || at < 8) {
        throw std::logic_error("name not found once in the image: " + name);
    }
    return at;
}

inline void ReplaceStoredName(std::string& image, const std::string& from, const std::string& to) {
    if (from.size() != to.size()) {
        throw std::logic_error("names must have the same length");
    }
    image.replace(UniqueAt(image, from), from.size(), to);
}

// The node field of the directory entry of name (8 bytes before the name, little-endian).
inline std::uint32_t EntryNode(const std::string& image, const std::string& name) {
    const std::size_t at = UniqueAt(image, name) - 8;
    std::uint32_t node = 0;
    for (int i = 3; i >= 0; --i) {
        node = node << 8 | static_cast<unsigned char>(image[at + static_cast<std::size_t>(i)]);
    }
    return node;
}

inline void SetEntryNode(std::string& image, const std::string& name, std::uint32_t node) {
    const std::size_t at = UniqueAt(image, name) - 8;
    for (std::size_t i = 0; i < 4; ++i) {
        image[at + i] = static_cast<char>(node >> (8 * i));
    }
}

} // namespace kestrel::test
