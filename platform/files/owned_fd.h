#pragma once
// A file descriptor closed when it goes out of scope, for the Linux backends of the platform
// layer.

#include <unistd.h>

#include <utility>

namespace kestrel::platform {

class OwnedFd {
public:
    explicit OwnedFd(int fd) : fd_(fd) {}
    ~OwnedFd() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    OwnedFd(const OwnedFd&) = delete;
    OwnedFd& operator=(const OwnedFd&) = delete;

    int Get() const { return fd_; }
    // Closes now; false (errno set) when closing reported an error: data possibly not written.
    bool Close() {
        const int fd = std::exchange(fd_, -1);
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int fd_;
};

} // namespace kestrel::platform
