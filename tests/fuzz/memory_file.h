#pragma once
// A file that lives in memory only (memfd), for fuzz targets whose parser takes a path: the
// path /proc/self/fd/N names it, so an input reaches the parser without touching a disk and
// without a file per input. One is made per use and reused for every input.

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

namespace kestrel::fuzz {

class MemoryFile {
public:
    explicit MemoryFile(const char* name) : fd_(memfd_create(name, 0)) {
        if (fd_ < 0) {
            std::abort();
        }
        path_ = "/proc/self/fd/" + std::to_string(fd_);
    }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;
    ~MemoryFile() { close(fd_); }

    const char* Path() const { return path_.c_str(); }

    // Makes the file hold exactly these bytes.
    void Replace(const std::uint8_t* data, std::size_t size) const {
        if (ftruncate(fd_, 0) != 0) {
            std::abort();
        }
        for (std::size_t done = 0; done < size;) {
            const ssize_t n = pwrite(fd_, data + done, size - done, static_cast<off_t>(done));
            if (n <= 0) {
                std::abort();
            }
            done += static_cast<std::size_t>(n);
        }
    }

    // The file's bytes as they are now.
    std::string Contents() const {
        std::string bytes;
        char buffer[65536];
        for (off_t at = 0;;) {
            const ssize_t n = pread(fd_, buffer, sizeof buffer, at);
            if (n <= 0) {
                return bytes;
            }
            bytes.append(buffer, static_cast<std::size_t>(n));
            at += n;
        }
    }

private:
    int fd_;
    std::string path_;
};

} // namespace kestrel::fuzz
