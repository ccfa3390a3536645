#include "kestrellib/program/boot_image_writer.h"

#include "kestrellib/program/file_replace.h"
#include "kestrellib/program/le_words.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <span>

namespace kestrel::program {
namespace {

bool Fail(std::string* error, const char* text) {
    if (error != nullptr) {
        *error = text;
    }
    return false;
}

} // namespace

bool EncodeBootImage(const BootImageContent& content, std::vector<std::uint8_t>& out,
                     std::string* error) {
    out.clear();
    if (content.blocks.size() > std::numeric_limits<std::uint32_t>::max()) {
        return Fail(error, "too many blocks for the block count");
    }
    std::uint32_t sum = 0;
    for (const auto& block : content.blocks) {
        if (block.data.size() > std::numeric_limits<std::uint32_t>::max()) {
            return Fail(error, "a block is longer than its length field can count");
        }
        const std::size_t span = std::min<std::size_t>(block.data.size(), kChecksumSpan);
        sum = AddChecksumWords(sum, std::span(block.data.data(), span));
    }

    AppendLe32(out, kImageFileHeader);
    AppendLe32(out, content.word1);
    AppendLe32(out, static_cast<std::uint32_t>(content.blocks.size()));
    AppendLe32(out, sum);
    if (content.longHeader) {
        AppendLe32(out, content.bootHeaderValue);
        AppendLe32(out, kLongHeaderMark);
        AppendLe32(out, content.word6);
        AppendLe32(out, content.word7);
    }
    for (const auto& block : content.blocks) {
        AppendLe32(out, kImageFileTag);
        AppendLe32(out, static_cast<std::uint32_t>(block.data.size()));
        AppendLe32(out, block.blockType);
        out.insert(out.end(), block.data.begin(), block.data.end());
    }

    if (!content.longHeader) {
        if (out.size() < kLongHeaderBytes) {
            out.clear();
            return Fail(error, "a file with a 16-byte header must be at least 32 bytes long");
        }
        std::uint32_t mark = 0;
        std::memcpy(&mark, out.data() + 20, sizeof mark);
        if (mark == kLongHeaderMark) {
            out.clear();
            return Fail(error,
                        "bytes 20-23 of a file with a 16-byte header must not read \"1100\"");
        }
    }
    return true;
}

bool WriteBootImageFile(const std::string& path, const BootImageContent& content,
                        std::string* error) {
    std::vector<std::uint8_t> bytes;
    if (!EncodeBootImage(content, bytes, error)) {
        return false;
    }
    return WriteFileReplacing(path, bytes, error);
}

} // namespace kestrel::program
