// The drive letters over the backend in use: a backend lists its drives, this file gives them
// the letters D: to Z: and answers the drive-type and free-space queries for a root.

#include "platform/drives/drives.h"

#include <filesystem>
#include <mutex>
#include <optional>
#include <system_error>
#include <utility>

namespace kestrel::platform::drives {
namespace {

std::mutex& BackendLock() {
    static std::mutex lock;
    return lock;
}

std::shared_ptr<Backend>& BackendSlot() {
    static std::shared_ptr<Backend> backend;
    return backend;
}

BackendFactory& DefaultFactory() {
    static BackendFactory factory = &MakeSystemBackend;
    return factory;
}

// The drive a root names, as the backend lists it now.
std::optional<Drive> DriveAt(std::string_view root) {
    const char letter = LetterOf(root);
    if (letter == 0) {
        return std::nullopt;
    }
    const std::shared_ptr<Backend> backend = CurrentBackend();
    if (!backend) {
        return std::nullopt;
    }
    std::vector<Drive> drives = backend->List();
    const auto index = static_cast<std::size_t>(letter - kFirstLetter);
    if (index >= drives.size()) {
        return std::nullopt;
    }
    return std::move(drives[index]);
}

} // namespace

std::string RootOf(char letter) {
    return std::string{letter, ':', '\\'};
}

char LetterOf(std::string_view root) {
    if (root.size() < 2 || root.size() > 3 || root[1] != ':') {
        return 0;
    }
    if (root.size() == 3 && root[2] != '\\' && root[2] != '/') {
        return 0;
    }
    char letter = root[0];
    if (letter >= 'a' && letter <= 'z') {
        letter = static_cast<char>(letter - 'a' + 'A');
    }
    return letter >= kFirstLetter && letter <= kLastLetter ? letter : 0;
}

unsigned DriveType(std::string_view root) {
    const std::optional<Drive> drive = DriveAt(root);
    return drive ? drive->type : kDriveNoRootDir;
}

bool DiskFreeSpace(std::string_view root, FreeSpace* space) {
    const std::optional<Drive> drive = DriveAt(root);
    if (!drive || drive->directory.empty()) {
        return false;
    }
    // The directory itself first: on Windows the space query asks the directory's parent (the
    // run-time library strips the last name), which answers for a drive folder that is gone.
    std::error_code error;
    if (!std::filesystem::is_directory(drive->directory, error)) {
        return false;
    }
    const std::filesystem::space_info info = std::filesystem::space(drive->directory, error);
    if (error) {
        return false;
    }
    if (space != nullptr) {
        space->freeToCaller = info.available;
        space->total = info.capacity;
        space->free = info.free;
    }
    return true;
}

std::string RootDirectory(std::string_view root) {
    const std::optional<Drive> drive = DriveAt(root);
    if (!drive || drive->directory.empty()) {
        return {};
    }
    std::error_code error;
    if (!std::filesystem::is_directory(drive->directory, error)) {
        return {};
    }
    return drive->directory;
}

std::shared_ptr<Backend> CurrentBackend() {
    std::lock_guard guard(BackendLock());
    std::shared_ptr<Backend>& backend = BackendSlot();
    if (!backend) {
        backend = DefaultFactory()();
    }
    return backend;
}

void UseBackend(std::shared_ptr<Backend> backend) {
    std::lock_guard guard(BackendLock());
    BackendSlot() = std::move(backend);
}

void SetDefaultBackendFactory(BackendFactory factory) {
    std::lock_guard guard(BackendLock());
    DefaultFactory() = factory != nullptr ? factory : &MakeSystemBackend;
}

} // namespace kestrel::platform::drives
