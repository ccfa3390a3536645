#include "kestrellib/romfs/image_writer.h"

#include <algorithm>
#include <cstring>

namespace kestrel::romfs {

ImageWriter::ImageWriter(const platform::File& out, std::uint64_t start)
    : out_(out), buffer_(new unsigned char[kBufferSize]), start_(start), position_(start) {}

int ImageWriter::Flush() {
    if (used_ == 0) {
        return 0;
    }
    const int e = out_.WriteAt(start_, buffer_.get(), used_);
    if (e != 0) {
        return e;
    }
    start_ += used_;
    used_ = 0;
    return 0;
}

int ImageWriter::SeekTo(std::uint64_t offset) {
    if (offset < position_) {
        return -1;
    }
    position_ = offset;
    return 0;
}

int ImageWriter::CloseGap() {
    const std::uint64_t end = start_ + used_;
    if (position_ == end) {
        return 0;
    }
    const std::uint64_t gap = position_ - end;
    if (gap <= kBufferSize - used_) {
        std::memset(buffer_.get() + used_, 0, static_cast<std::size_t>(gap));
        used_ += static_cast<std::size_t>(gap);
        return 0;
    }
    // A long gap becomes a hole in the file: it reads as zeros.
    if (const int e = Flush(); e != 0) {
        return e;
    }
    start_ = position_;
    return 0;
}

int ImageWriter::Write(const void* data, std::size_t length) {
    if (length == 0) {
        return 0; // an empty item adds nothing, not even the zeros before it
    }
    if (const int e = CloseGap(); e != 0) {
        return e;
    }
    const auto* in = static_cast<const unsigned char*>(data);
    std::size_t done = 0;
    while (done < length) {
        if (used_ == kBufferSize) {
            if (const int e = Flush(); e != 0) {
                return e;
            }
        }
        const std::size_t n = std::min(length - done, kBufferSize - used_);
        std::memcpy(buffer_.get() + used_, in + done, n);
        used_ += n;
        done += n;
    }
    position_ = start_ + used_;
    return 0;
}

CopyResult ImageWriter::Copy(const platform::File& in, std::uint64_t length) {
    if (length == 0) {
        return {};
    }
    if (const int e = CloseGap(); e != 0) {
        return {CopyResult::kWriteFailed, 0, e};
    }
    if (length < kDirectCopyThreshold) {
        return CopyThroughBuffer(in, 0, length, 0);
    }
    CopyResult result;
    if (const int e = Flush(); e != 0) {
        return {CopyResult::kWriteFailed, 0, e};
    }
    while (result.copied < length) {
        int error = 0;
        bool unsupported = false;
        const std::int64_t n = in.CopyTo(out_, result.copied, start_ + result.copied,
                                         length - result.copied, &error, &unsupported);
        if (n == 0) {
            return {CopyResult::kReadFailed, result.copied, 0};
        }
        if (n < 0) {
            if (platform::IsOutOfSpaceError(error)) {
                return {CopyResult::kWriteFailed, result.copied, error};
            }
            // Not possible here, or not clear which side failed: reading and writing in turn
            // either finishes the copy or tells which side it was.
            start_ += result.copied;
            return CopyThroughBuffer(in, result.copied, length - result.copied, result.copied);
        }
        result.copied += static_cast<std::uint64_t>(n);
    }
    start_ += length;
    position_ = start_;
    return result;
}

CopyResult ImageWriter::CopyThroughBuffer(const platform::File& in, std::uint64_t from,
                                          std::uint64_t length, std::uint64_t copied) {
    std::uint64_t left = length;
    while (left > 0) {
        if (used_ == kBufferSize) {
            if (const int e = Flush(); e != 0) {
                return {CopyResult::kWriteFailed, copied, e};
            }
        }
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(left, kBufferSize - used_));
        int error = 0;
        const std::int64_t got = in.ReadAt(from, buffer_.get() + used_, n, &error);
        if (got < 0) {
            return {CopyResult::kReadFailed, copied, error};
        }
        used_ += static_cast<std::size_t>(got);
        copied += static_cast<std::uint64_t>(got);
        if (static_cast<std::size_t>(got) < n) {
            return {CopyResult::kReadFailed, copied, 0};
        }
        from += n;
        left -= n;
    }
    position_ = start_ + used_;
    return {CopyResult::kCopied, copied, 0};
}

} // namespace kestrel::romfs
