#pragma once
// Files and directories as the image builders use them: examining an entry without following a
// link, listing a directory, positioned reads and writes, and copying a range of one file into
// another inside the kernel where the host can. Every failure returns the operating system's
// error number so that callers can print it (ErrorText) in their own messages.
//
// Thread use: objects are not shared between threads; free functions may run on any thread.

#include "platform/export.h"
#include <cstddef>
#include <cstdint>
#include <string>

namespace kestrel::platform {

#if defined(_WIN32)
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

enum class EntryKind {
    kDirectory,
    kRegular,
    kOther, // symbolic link, device, pipe, socket: nothing an image can carry
};

struct EntryStatus {
    EntryKind kind = EntryKind::kOther;
    std::uint64_t size = 0;
    // Seconds since 1 January 1970 UTC: the status-change time (the creation time on Windows).
    std::int64_t changeTime = 0;
};

// The operating system's text for an error number.
KESTREL_PLATFORM_API std::string ErrorText(int error);

// Whether an error number says that the target file system or the caller's quota is full, or
// that the file would grow past what the file system allows.
KESTREL_PLATFORM_API bool IsOutOfSpaceError(int error);

// Examines path, following a final link (used for the root of a tree). 0 or an error number.
KESTREL_PLATFORM_API int ExamineFollowingLinks(const std::string& path, EntryStatus* status);

// One open directory. Names come in the order the host lists them, "." and ".." left out.
class KESTREL_PLATFORM_API DirectoryReader {
public:
    DirectoryReader() = default;
    ~DirectoryReader();
    DirectoryReader(const DirectoryReader&) = delete;
    DirectoryReader& operator=(const DirectoryReader&) = delete;

    // 0 or an error number.
    int Open(const std::string& path);
    // The next name; false at the end of the listing or on an error (*error 0 at the end).
    bool Next(std::string* name, int* error);
    // Examines a name of this directory without following a link. 0 or an error number.
    int Examine(const std::string& name, EntryStatus* status) const;

private:
    void* handle_ = nullptr;
    std::string path_;
};

// One open file. Reads and writes name their offset; nothing depends on a file position.
class KESTREL_PLATFORM_API File {
public:
    File() = default;
    ~File();
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // Opens an existing file for reading. 0 or an error number.
    int OpenForReading(const std::string& path);
    // Creates or truncates a file for writing, readable and writable by everybody the host's
    // file-creation mask allows. 0 or an error number.
    int Create(const std::string& path);
    // Closes the file; an error of the last writes may show here. 0 or an error number.
    int Close();
    bool IsOpen() const;

    // Reads up to length bytes at offset, retrying short reads; returns the count read (less
    // than length only at the end of the file) or -1 with *error set.
    std::int64_t ReadAt(std::uint64_t offset, void* buffer, std::size_t length, int* error) const;
    // Writes all length bytes at offset. 0 or an error number; *written (if given) tells how
    // many reached the file.
    int WriteAt(std::uint64_t offset, const void* data, std::size_t length,
                std::size_t* written = nullptr) const;
    // Copies up to length bytes from offset `from` of this file to offset `to` of target inside
    // the kernel. Returns the count copied, 0 at the end of this file, or -1 with *error set;
    // *unsupported tells that the host cannot copy these two files this way (nothing was
    // copied) and the caller should read and write instead.
    std::int64_t CopyTo(const File& target, std::uint64_t from, std::uint64_t to,
                        std::uint64_t length, int* error, bool* unsupported) const;

private:
    std::intptr_t handle_ = -1;
};

// Replaces to with from in one step. 0 or an error number.
KESTREL_PLATFORM_API int RenameReplacing(const std::string& from, const std::string& to);
// Removes a file; a missing file is not an error. 0 or an error number.
KESTREL_PLATFORM_API int RemoveFile(const std::string& path);
// Whether path names an existing regular file.
KESTREL_PLATFORM_API bool RegularFileExists(const std::string& path);

} // namespace kestrel::platform
