#include "platform/files/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

namespace kestrel::platform {

namespace {

EntryStatus FromStat(const struct stat& st) {
    EntryStatus status;
    if (S_ISDIR(st.st_mode)) {
        status.kind = EntryKind::kDirectory;
    } else if (S_ISREG(st.st_mode)) {
        status.kind = EntryKind::kRegular;
    }
    status.size = status.kind == EntryKind::kRegular ? static_cast<std::uint64_t>(st.st_size) : 0;
    status.changeTime = static_cast<std::int64_t>(st.st_ctim.tv_sec);
    return status;
}

DIR* AsDir(void* handle) {
    return static_cast<DIR*>(handle);
}

} // namespace

std::string ErrorText(int error) {
    char buffer[256];
    // The GNU strerror_r may return a static text instead of filling the buffer.
    const char* text = strerror_r(error, buffer, sizeof buffer);
    return text != nullptr ? text : "Unknown error";
}

int ExamineFollowingLinks(const std::string& path, EntryStatus* status) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        return errno;
    }
    *status = FromStat(st);
    return 0;
}

DirectoryReader::~DirectoryReader() {
    if (handle_ != nullptr) {
        ::closedir(AsDir(handle_));
    }
}

int DirectoryReader::Open(const std::string& path) {
    if (handle_ != nullptr) {
        ::closedir(AsDir(handle_));
    }
    handle_ = ::opendir(path.c_str());
    path_ = path;
    return handle_ != nullptr ? 0 : errno;
}

bool DirectoryReader::Next(std::string* name, int* error) {
    *error = 0;
    if (handle_ == nullptr) {
        *error = EBADF;
        return false;
    }
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(AsDir(handle_));
        if (entry == nullptr) {
            *error = errno;
            return false;
        }
        const char* n = entry->d_name;
        if (n[0] == '.' && (n[1] == '\0' || (n[1] == '.' && n[2] == '\0'))) {
            continue;
        }
        name->assign(n);
        return true;
    }
}

int DirectoryReader::Examine(const std::string& name, EntryStatus* status) const {
    if (handle_ == nullptr) {
        return EBADF;
    }
    struct stat st;
    if (::fstatat(::dirfd(AsDir(handle_)), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno;
    }
    *status = FromStat(st);
    return 0;
}

File::~File() {
    Close();
}

File::File(File&& other) noexcept : handle_(std::exchange(other.handle_, -1)) {}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        Close();
        handle_ = std::exchange(other.handle_, -1);
    }
    return *this;
}

int File::OpenForReading(const std::string& path) {
    Close();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return errno;
    }
    handle_ = fd;
    return 0;
}

int File::Create(const std::string& path) {
    Close();
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        return errno;
    }
    handle_ = fd;
    return 0;
}

int File::Close() {
    if (handle_ < 0) {
        return 0;
    }
    const int result = ::close(static_cast<int>(std::exchange(handle_, -1)));
    return result == 0 ? 0 : errno;
}

bool File::IsOpen() const {
    return handle_ >= 0;
}

std::int64_t File::ReadAt(std::uint64_t offset, void* buffer, std::size_t length,
                          int* error) const {
    auto* out = static_cast<unsigned char*>(buffer);
    std::size_t done = 0;
    while (done < length) {
        const ssize_t n = ::pread(static_cast<int>(handle_), out + done, length - done,
                                  static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            *error = errno;
            return -1;
        }
        if (n == 0) {
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    return static_cast<std::int64_t>(done);
}

int File::WriteAt(std::uint64_t offset, const void* data, std::size_t length,
                  std::size_t* written) const {
    const auto* in = static_cast<const unsigned char*>(data);
    std::size_t done = 0;
    int error = 0;
    while (done < length) {
        const ssize_t n = ::pwrite(static_cast<int>(handle_), in + done, length - done,
                                   static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            error = n < 0 ? errno : ENOSPC;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    if (written != nullptr) {
        *written = done;
    }
    return error;
}

std::int64_t File::CopyTo(const File& target, std::uint64_t from, std::uint64_t to,
                          std::uint64_t length, int* error, bool* unsupported) const {
    *unsupported = false;
    auto in = static_cast<off_t>(from);
    auto out = static_cast<off_t>(to);
    const std::uint64_t chunk = std::min<std::uint64_t>(length, 1u << 30);
    for (;;) {
        const ssize_t n =
            ::copy_file_range(static_cast<int>(handle_), &in, static_cast<int>(target.handle_),
                              &out, static_cast<std::size_t>(chunk), 0);
        if (n >= 0) {
            return n;
        }
        if (errno == EINTR) {
            continue;
        }
        *error = errno;
        *unsupported = errno == EXDEV || errno == EINVAL || errno == ENOSYS ||
                       errno == EOPNOTSUPP || errno == EBADF || errno == EPERM;
        return -1;
    }
}

int RenameReplacing(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

bool IsOutOfSpaceError(int error) {
    return error == ENOSPC || error == EFBIG || error == EDQUOT;
}

int RemoveFile(const std::string& path) {
    if (::unlink(path.c_str()) == 0 || errno == ENOENT) {
        return 0;
    }
    return errno;
}

bool RegularFileExists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

} // namespace kestrel::platform
