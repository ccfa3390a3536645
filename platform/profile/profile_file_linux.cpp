// Profile files on Linux: read whole without ever blocking (a FIFO is not waited on), and
// replaced through a temporary file renamed over the file a path names (after following its
// links), keeping its mode and, where allowed, its owner.
#include "platform/files/owned_fd.h"
#include "platform/profile/profile.h"
#include "platform/profile/profile_file.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrel::platform {
namespace {

std::string ErrorSentence(const std::string& path, const char* what, int error) {
    return path + ": " + what + " (" + std::strerror(error) + ")";
}

bool ReadAll(int fd, std::string* bytes) {
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0) {
            return true;
        }
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes->append(buffer, static_cast<std::size_t>(n));
    }
}

bool WriteAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::string DirectoryOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The path a write must replace: path itself, or the file its chain of symbolic links names
// (which may not exist yet). False when the chain is too long.
bool FollowLinks(const std::string& path, std::string* target) {
    std::string current = path;
    for (int hop = 0; hop < 40; ++hop) {
        struct stat st;
        if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            *target = current;
            return true;
        }
        char link[4096];
        const ssize_t n = ::readlink(current.c_str(), link, sizeof link - 1);
        if (n < 0) {
            return false;
        }
        const std::string next(link, static_cast<std::size_t>(n));
        current = next.front() == '/' ? next : DirectoryOf(current) + "/" + next;
    }
    return false;
}

std::string TempPathBeside(const std::string& target) {
    static std::atomic<unsigned> counter{0};
    const std::string dir = DirectoryOf(target);
    const std::size_t slash = target.rfind('/');
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    return dir + "/." + name + ".tmp" + std::to_string(::getpid()) + "-" +
           std::to_string(counter.fetch_add(1));
}

} // namespace

bool ReplaceProfileBytes(const std::string& path, std::string* error,
                         const std::function<std::string(const std::string&)>& change) {
    std::string ignored;
    std::string& why = error != nullptr ? *error : ignored;
    std::string target;
    if (!FollowLinks(path, &target)) {
        why = path + ": too many symbolic links, or one cannot be read";
        return false;
    }
    std::string bytes;
    struct stat st {};
    const OwnedFd in(::open(target.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    const bool exists = in.Get() >= 0;
    if (!exists && errno != ENOENT) {
        why = ErrorSentence(target, "cannot be read, so it was not changed", errno);
        return false;
    }
    if (exists) {
        if (::fstat(in.Get(), &st) != 0 || !S_ISREG(st.st_mode)) {
            why = target + ": not a regular file, so it was not changed";
            return false;
        }
        // A file nobody may write is read-only even for a user who could override its mode.
        if ((st.st_mode & 0222) == 0 || ::access(target.c_str(), W_OK) != 0) {
            why = target + ": the file is read-only, so the setting was not saved";
            return false;
        }
        if (!ReadAll(in.Get(), &bytes)) {
            why = ErrorSentence(target, "cannot be read, so it was not changed", errno);
            return false;
        }
    }

    const std::string content = change(bytes);
    if (exists && content == bytes) {
        return true;
    }

    const std::string temp = TempPathBeside(target);
    OwnedFd out(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (out.Get() < 0) {
        why =
            ErrorSentence(target, "cannot be written: its folder does not take a new file", errno);
        return false;
    }
    bool ok = WriteAll(out.Get(), content);
    int failure = errno;
    if (ok && exists) {
        // The replacement keeps the file's mode and, where allowed, its owner.
        (void)::fchown(out.Get(), st.st_uid, st.st_gid);
        ok = ::fchmod(out.Get(), st.st_mode & 07777) == 0;
        failure = errno;
    }
    if (ok) {
        ok = ::fsync(out.Get()) == 0;
        failure = errno;
    }
    if (!out.Close() && ok) {
        ok = false;
        failure = errno;
    }
    if (ok && ::rename(temp.c_str(), target.c_str()) != 0) {
        ok = false;
        failure = errno;
    }
    if (!ok) {
        ::unlink(temp.c_str());
        why = ErrorSentence(target, "cannot be written; the file was left as it was", failure);
    }
    return ok;
}

ProfileFileKind ReadProfileFile(const std::string& path, std::string* bytes, std::string* why) {
    bytes->clear();
    // Non-blocking, so that opening a FIFO returns at once instead of waiting for a writer.
    const OwnedFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (fd.Get() < 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR) {
            if (why != nullptr) {
                *why = path + ": no such file";
            }
            return ProfileFileKind::kMissing;
        }
        if (why != nullptr) {
            *why = ErrorSentence(path, "cannot be opened", error);
        }
        return ProfileFileKind::kUnreadable;
    }
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        if (why != nullptr) {
            const char* what = S_ISDIR(st.st_mode)    ? "a directory"
                               : S_ISFIFO(st.st_mode) ? "a named pipe"
                                                      : "a device or socket";
            *why = path + ": is " + what + ", not a file; it is read as no file";
        }
        return ProfileFileKind::kNotAFile;
    }
    if (!ReadAll(fd.Get(), bytes)) {
        const int error = errno;
        bytes->clear();
        if (why != nullptr) {
            *why = ErrorSentence(path, "cannot be read", error);
        }
        return ProfileFileKind::kUnreadable;
    }
    return ProfileFileKind::kRegular;
}

} // namespace kestrel::platform
