#include "outside/kestrel_copy/kestrel_copy.h"

#include "kestrel/isp_job.h"
#include "platform/drives/drives.h"
#include "platform/messages/message_sink.h"
#include "platform/text/text.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>

namespace fs = std::filesystem;

namespace kestrel::copylib {
namespace {

// The demo copy's number of the drive at root: its place among the ready removable drives.
unsigned DriveNumber(char letter) {
    unsigned number = 0;
    for (char l = platform::drives::kFirstLetter; l <= platform::drives::kLastLetter; ++l) {
        const std::string root = platform::drives::RootOf(l);
        const bool ready = platform::drives::DriveType(root) == platform::drives::kDriveRemovable &&
                           platform::drives::DiskFreeSpace(root, nullptr);
        if (l == letter) {
            return ready ? number : kUnknownDrive;
        }
        number += ready ? 1 : 0;
    }
    return kUnknownDrive;
}

void PostProgress(void* window, std::uint32_t code, unsigned drive, std::uint32_t steps) {
    if (window == nullptr) {
        return;
    }
    const ProgressRecord record{static_cast<std::uint16_t>(drive), steps};
    platform::PostWindowMessageCopy(window, WM_ISP_STATUS, code, &record, sizeof record);
}

// Regular files below dir (links not followed, depth bounded as the copy is).
std::uint32_t CountRegularFiles(const fs::path& dir, int depth) {
    std::error_code error;
    fs::directory_iterator it(dir, error);
    std::uint32_t count = 0;
    for (; !error && it != fs::directory_iterator(); it.increment(error)) {
        const fs::file_status status = it->symlink_status(error);
        if (error) {
            break;
        }
        if (fs::is_regular_file(status)) {
            ++count;
        } else if (fs::is_directory(status) && depth < kCopyMaxDepth) {
            count += CountRegularFiles(it->path(), depth + 1);
        }
    }
    return count;
}

// Copies one file over any file or link of the target's name, which is removed first rather
// than left to copy_file's overwrite_existing: the Windows run-time library (GCC 12's, whose file
// status has no inode numbers) takes every existing file on the source's volume for the source
// itself and refuses to overwrite it. A link in the target's place is replaced, never written
// through.
bool CopyFileReplacing(const fs::path& from, const fs::path& to, std::error_code& error) {
    std::error_code unknown; // set for a missing file too; then the copy tells what fails
    const fs::file_status existing = fs::symlink_status(to, unknown);
    if (fs::exists(existing) && !fs::is_directory(existing) && !fs::remove(to, error)) {
        return false;
    }
    return fs::copy_file(from, to, error);
}

class TreeCopy {
public:
    TreeCopy(void* window, unsigned drive) : window_(window), drive_(drive) {}

    // Copies the contents of from into to; false when anything failed.
    bool Copy(const fs::path& from, const fs::path& to, int depth) {
        std::error_code error;
        fs::directory_iterator it(from, error);
        bool ok = !error;
        for (; !error && it != fs::directory_iterator(); it.increment(error)) {
            const fs::path target = to / it->path().filename();
            std::error_code entryError;
            const fs::file_status status = it->symlink_status(entryError);
            if (entryError) {
                ok = false;
            } else if (fs::is_regular_file(status)) {
                if (CopyFileReplacing(it->path(), target, entryError)) {
                    PostProgress(window_, kStatusProgressAdvance, drive_, 1);
                } else {
                    ok = false;
                }
            } else if (fs::is_directory(status) && depth < kCopyMaxDepth) {
                fs::create_directory(target, entryError);
                ok = !entryError && Copy(it->path(), target, depth + 1) && ok;
            }
        }
        return ok && !error;
    }

private:
    void* window_;
    unsigned drive_;
};

int CopyDirectory(void* window, const char16_t* source, const char16_t* destination) {
    if (source == nullptr || destination == nullptr) {
        return 0;
    }
    const fs::path from = platform::Utf16ToAnsi(source);
    const std::string destinationText = platform::Utf16ToAnsi(destination);
    const char letter = platform::drives::LetterOf(destinationText);
    const fs::path to = letter != 0 ? fs::path(platform::drives::RootDirectory(destinationText))
                                    : fs::path(destinationText);
    std::error_code error;
    if (to.empty() || !fs::is_directory(to, error) || !fs::is_directory(from, error)) {
        return 0;
    }
    // A destination inside the source would be copied into itself without end.
    const fs::path fromCanonical = fs::canonical(from, error);
    const fs::path toCanonical = error ? fs::path() : fs::canonical(to, error);
    if (error) {
        return 0;
    }
    const fs::path inside = toCanonical.lexically_relative(fromCanonical);
    if (!inside.empty() && *inside.begin() != "..") {
        return 0;
    }
    const unsigned drive = letter != 0 ? DriveNumber(letter) : kUnknownDrive;
    PostProgress(window, kStatusProgressRange, drive, CountRegularFiles(from, 0));
    return TreeCopy(window, drive).Copy(from, to, 0) ? 1 : 0;
}

} // namespace
} // namespace kestrel::copylib

KESTREL_EXPORT int copydir(void* window, const char16_t* source, const char16_t* destination) {
    try {
        return kestrel::copylib::CopyDirectory(window, source, destination);
    } catch (...) {
        return 0; // memory ran out; nothing leaves the library
    }
}
