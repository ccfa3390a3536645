#include "kestrellib/program/boot_image_format.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace kestrel::program {

std::uint32_t AddChecksumWords(std::uint32_t sum, std::span<const std::uint8_t> data) {
    const std::size_t words = data.size() / 4;
    for (std::size_t i = 0; i < words; ++i) {
        const std::uint8_t* p = data.data() + 4 * i;
        sum += static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
               static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
    }
    return sum;
}

std::string ImageErrorMessage(ImageError error, std::uint32_t blockIndex) {
    switch (error) {
    case ImageError::kNone:
        return {};
    case ImageError::kHeaderRead:
        return "!fread(&imageheard, 1, sizeof(Image_heard_t), fp)\n";
    case ImageError::kHeaderMagic:
        return "!imageheard.heard != IMAGE_FILE_HEADER\n";
    case ImageError::kChecksumSubHeaderRead:
        return "!fread(subHeader, 1, 12, fp))\n";
    case ImageError::kTruncated: {
        char text[96];
        std::snprintf(text, sizeof text, "The image file ends inside sub-block %u.\n",
                      blockIndex + 1);
        return text;
    }
    case ImageError::kChecksum:
        return "checkSum != imageheard.checkSum\n";
    case ImageError::kSubHeaderRead:
        return "!fread(subHeader, 1, 12, fp)\n";
    case ImageError::kTag:
        return "subHeader[0] != IMAGE_FILE_TAG\n";
    }
    return {};
}

bool BootImageReader::Open(const std::string& path) {
    return Open(path, 0, UINT64_MAX);
}

bool BootImageReader::Open(const std::string& path, std::uint64_t offset, std::uint64_t length) {
    auto file = std::make_unique<std::ifstream>(path, std::ios::binary);
    if (!file->is_open()) {
        file_.reset();
        return false;
    }
    file_ = std::move(file);
    return Attach(offset, length);
}

bool BootImageReader::OpenBytes(std::span<const std::uint8_t> bytes) {
    file_ = std::make_unique<std::istringstream>(
        std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size()), std::ios::binary);
    return Attach(0, UINT64_MAX);
}

bool BootImageReader::Attach(std::uint64_t offset, std::uint64_t length) {
    file_->seekg(0, std::ios::end);
    const std::streamoff end = file_->tellg();
    const std::uint64_t size = end > 0 ? static_cast<std::uint64_t>(end) : 0;
    base_ = std::min(offset, size);
    fileSize_ = std::min(length, size - base_);
    file_->seekg(static_cast<std::streamoff>(base_), std::ios::beg);
    return file_->good();
}

bool BootImageReader::ReadAt(std::uint64_t offset, void* out, std::size_t size) {
    if (offset > fileSize_ || size > fileSize_ - offset) {
        return false;
    }
    if (!file_) {
        return false;
    }
    file_->clear();
    file_->seekg(static_cast<std::streamoff>(base_ + offset), std::ios::beg);
    return ReadNext(out, size);
}

bool BootImageReader::ReadNext(void* out, std::size_t size) {
    return ReadData(static_cast<std::uint8_t*>(out), size) == size;
}

ImageError BootImageReader::ReadHeader() {
    errorBlock_ = 0;
    if (!ReadAt(0, &header_, sizeof header_)) {
        return ImageError::kHeaderRead;
    }
    if (header_.heard != kImageFileHeader) {
        return ImageError::kHeaderMagic;
    }
    return ImageError::kNone;
}

ImageError BootImageReader::ChecksumPass(std::vector<SubHeader>* subHeaders) {
    if (subHeaders != nullptr) {
        subHeaders->clear();
    }
    std::array<std::uint8_t, kChecksumSpan> data;
    std::uint32_t sum = 0;
    std::uint64_t offset = FirstBlockOffset();
    for (std::uint32_t i = 0; i < header_.blockCount; ++i) {
        errorBlock_ = i;
        SubHeader sub{};
        if (!ReadAt(offset, &sub, sizeof sub)) {
            return ImageError::kChecksumSubHeaderRead;
        }
        const std::uint64_t dataStart = offset + kSubHeaderBytes;
        if (sub.blockLength > fileSize_ - dataStart) {
            return ImageError::kTruncated;
        }
        const std::size_t span = std::min<std::uint32_t>(sub.blockLength, kChecksumSpan);
        if (!ReadNext(data.data(), span)) {
            return ImageError::kTruncated;
        }
        sum = AddChecksumWords(sum, std::span(data.data(), span));
        if (subHeaders != nullptr) {
            subHeaders->push_back(sub);
        }
        offset = dataStart + sub.blockLength;
    }
    errorBlock_ = 0;
    return sum == header_.checkSum ? ImageError::kNone : ImageError::kChecksum;
}

void BootImageReader::Rewind() {
    nextBlock_ = 0;
    if (!file_) {
        return;
    }
    file_->clear();
    file_->seekg(static_cast<std::streamoff>(base_ + FirstBlockOffset()), std::ios::beg);
    nextBlock_ = 0;
}

ImageError BootImageReader::NextBlock(SubHeader& subHeader) {
    errorBlock_ = nextBlock_++;
    if (!ReadNext(&subHeader, sizeof subHeader)) {
        return ImageError::kSubHeaderRead;
    }
    if (subHeader.tag != kImageFileTag) {
        return ImageError::kTag;
    }
    return ImageError::kNone;
}

std::size_t BootImageReader::ReadData(std::uint8_t* out, std::size_t size) {
    if (!file_) {
        return 0;
    }
    file_->read(reinterpret_cast<char*>(out), static_cast<std::streamsize>(size));
    return static_cast<std::size_t>(file_->gcount());
}

ImageError LoadBootImage(const std::string& path, BootImage& image, std::uint32_t* errorBlock) {
    BootImageReader reader;
    if (!reader.Open(path)) {
        image = BootImage{};
        if (errorBlock != nullptr) {
            *errorBlock = 0;
        }
        return ImageError::kHeaderRead;
    }
    return LoadBootImage(reader, image, errorBlock);
}

ImageError LoadBootImage(BootImageReader& reader, BootImage& image, std::uint32_t* errorBlock) {
    image = BootImage{};
    ImageError error = reader.ReadHeader();
    if (error == ImageError::kNone) {
        error = reader.ChecksumPass();
    }
    if (error == ImageError::kNone) {
        image.header = reader.Header();
        reader.Rewind();
        for (std::uint32_t i = 0; i < image.header.blockCount && error == ImageError::kNone; ++i) {
            BootImageBlock block;
            error = reader.NextBlock(block.subHeader);
            if (error != ImageError::kNone) {
                break;
            }
            block.data.resize(block.subHeader.blockLength);
            if (reader.ReadData(block.data.data(), block.data.size()) != block.data.size()) {
                error = ImageError::kTruncated;
                break;
            }
            image.blocks.push_back(std::move(block));
        }
    }
    if (errorBlock != nullptr) {
        *errorBlock = reader.BlockIndex();
    }
    return error;
}

ImageError CheckBootImage(BootImageReader& reader, std::vector<SubHeader>* blocks,
                          std::uint32_t* errorBlock) {
    ImageError error = reader.ReadHeader();
    if (error == ImageError::kNone) {
        error = reader.ChecksumPass(blocks);
    }
    if (error == ImageError::kNone) {
        reader.Rewind();
        std::array<std::uint8_t, kChecksumSpan> data;
        for (std::uint32_t i = 0; i < reader.Header().blockCount; ++i) {
            SubHeader sub{};
            error = reader.NextBlock(sub);
            if (error != ImageError::kNone) {
                break;
            }
            // The checksum pass found every block's data inside the image; read them as the
            // writing pass does so that nothing but a tag can differ.
            std::uint64_t left = sub.blockLength;
            while (left > 0 && error == ImageError::kNone) {
                const std::size_t piece =
                    static_cast<std::size_t>(std::min<std::uint64_t>(left, data.size()));
                if (reader.ReadData(data.data(), piece) != piece) {
                    error = ImageError::kTruncated;
                }
                left -= piece;
            }
            if (error != ImageError::kNone) {
                break;
            }
        }
    }
    if (error != ImageError::kNone && blocks != nullptr) {
        blocks->clear();
    }
    if (errorBlock != nullptr) {
        *errorBlock = reader.BlockIndex();
    }
    return error;
}

} // namespace kestrel::program
