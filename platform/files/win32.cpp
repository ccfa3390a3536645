#include "platform/files/files.h"

#include <windows.h>

#include <algorithm>
#include <utility>

namespace kestrel::platform {

namespace {

struct FindState {
    HANDLE find = INVALID_HANDLE_VALUE;
    WIN32_FIND_DATAA data{};
    bool pending = false; // data holds a name not yet returned
};

std::int64_t UnixSeconds(const FILETIME& time) {
    ULARGE_INTEGER value;
    value.LowPart = time.dwLowDateTime;
    value.HighPart = time.dwHighDateTime;
    constexpr std::uint64_t kEpochDifference = 116444736000000000ull; // 1601 to 1970, 100 ns
    return static_cast<std::int64_t>((value.QuadPart - kEpochDifference) / 10000000ull);
}

EntryStatus FromAttributes(const WIN32_FILE_ATTRIBUTE_DATA& data) {
    EntryStatus status;
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) != 0) {
        status.kind = EntryKind::kOther;
    } else if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        status.kind = EntryKind::kDirectory;
    } else {
        status.kind = EntryKind::kRegular;
        status.size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    }
    status.changeTime = UnixSeconds(data.ftCreationTime);
    return status;
}

int Examine(const std::string& path, EntryStatus* status) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) {
        return static_cast<int>(GetLastError());
    }
    *status = FromAttributes(data);
    return 0;
}

HANDLE AsHandle(std::intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

OVERLAPPED At(std::uint64_t offset) {
    OVERLAPPED overlapped{};
    overlapped.Offset = static_cast<DWORD>(offset);
    overlapped.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return overlapped;
}

} // namespace

std::string ErrorText(int error) {
    char buffer[512] = {};
    const DWORD n =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                       static_cast<DWORD>(error), 0, buffer, sizeof buffer, nullptr);
    std::string text(buffer, n);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == '.')) {
        text.pop_back();
    }
    return text.empty() ? "Unknown error" : text;
}

int ExamineFollowingLinks(const std::string& path, EntryStatus* status) {
    const int e = Examine(path, status);
    if (e == 0 && status->kind == EntryKind::kOther) {
        // The root of a tree may be a link to a directory.
        const DWORD attributes = GetFileAttributesA((path + "\\.").c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            status->kind = EntryKind::kDirectory;
        }
    }
    return e;
}

namespace {

void CloseFind(void* handle) {
    auto* state = static_cast<FindState*>(handle);
    if (state != nullptr) {
        if (state->find != INVALID_HANDLE_VALUE) {
            FindClose(state->find);
        }
        delete state;
    }
}

} // namespace

DirectoryReader::~DirectoryReader() {
    CloseFind(handle_);
}

int DirectoryReader::Open(const std::string& path) {
    CloseFind(std::exchange(handle_, nullptr));
    path_ = path;
    if (path.empty()) {
        // As opendir(""): no folder. A pattern of "\\*" alone would list the root of the
        // current drive.
        return ERROR_PATH_NOT_FOUND;
    }
    const bool endsInSeparator = !path.empty() && (path.back() == '\\' || path.back() == '/');
    const std::string pattern = path + (endsInSeparator ? "*" : "\\*");
    auto* state = new FindState;
    state->find = FindFirstFileA(pattern.c_str(), &state->data);
    if (state->find == INVALID_HANDLE_VALUE) {
        const int e = static_cast<int>(GetLastError());
        delete state;
        return e;
    }
    state->pending = true;
    handle_ = state;
    return 0;
}

bool DirectoryReader::Next(std::string* name, int* error) {
    *error = 0;
    auto* state = static_cast<FindState*>(handle_);
    if (state == nullptr) {
        *error = ERROR_INVALID_HANDLE;
        return false;
    }
    for (;;) {
        if (!state->pending) {
            if (!FindNextFileA(state->find, &state->data)) {
                const DWORD e = GetLastError();
                *error = e == ERROR_NO_MORE_FILES ? 0 : static_cast<int>(e);
                return false;
            }
        }
        state->pending = false;
        const char* n = state->data.cFileName;
        if (n[0] == '.' && (n[1] == '\0' || (n[1] == '.' && n[2] == '\0'))) {
            continue;
        }
        name->assign(n);
        return true;
    }
}

int DirectoryReader::Examine(const std::string& name, EntryStatus* status) const {
    return kestrel::platform::Examine(path_ + "\\" + name, status);
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
    const HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return static_cast<int>(GetLastError());
    }
    handle_ = reinterpret_cast<std::intptr_t>(h);
    return 0;
}

int File::Create(const std::string& path) {
    Close();
    const HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return static_cast<int>(GetLastError());
    }
    handle_ = reinterpret_cast<std::intptr_t>(h);
    return 0;
}

int File::Close() {
    if (handle_ == -1) {
        return 0;
    }
    const BOOL ok = CloseHandle(AsHandle(std::exchange(handle_, -1)));
    return ok ? 0 : static_cast<int>(GetLastError());
}

bool File::IsOpen() const {
    return handle_ != -1;
}

std::int64_t File::ReadAt(std::uint64_t offset, void* buffer, std::size_t length,
                          int* error) const {
    auto* out = static_cast<unsigned char*>(buffer);
    std::size_t done = 0;
    while (done < length) {
        OVERLAPPED at = At(offset + done);
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(length - done, 1u << 30));
        DWORD got = 0;
        if (!ReadFile(AsHandle(handle_), out + done, want, &got, &at)) {
            const DWORD e = GetLastError();
            if (e == ERROR_HANDLE_EOF) {
                break;
            }
            *error = static_cast<int>(e);
            return -1;
        }
        if (got == 0) {
            break;
        }
        done += got;
    }
    return static_cast<std::int64_t>(done);
}

int File::WriteAt(std::uint64_t offset, const void* data, std::size_t length,
                  std::size_t* written) const {
    const auto* in = static_cast<const unsigned char*>(data);
    std::size_t done = 0;
    int error = 0;
    while (done < length) {
        OVERLAPPED at = At(offset + done);
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(length - done, 1u << 30));
        DWORD put = 0;
        if (!WriteFile(AsHandle(handle_), in + done, want, &put, &at)) {
            error = static_cast<int>(GetLastError());
            break;
        }
        if (put == 0) {
            error = ERROR_DISK_FULL;
            break;
        }
        done += put;
    }
    if (written != nullptr) {
        *written = done;
    }
    return error;
}

std::int64_t File::CopyTo(const File&, std::uint64_t, std::uint64_t, std::uint64_t, int* error,
                          bool* unsupported) const {
    // No range copy between two open files: the caller reads and writes.
    *error = ERROR_NOT_SUPPORTED;
    *unsupported = true;
    return -1;
}

int RenameReplacing(const std::string& from, const std::string& to) {
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)
               ? 0
               : static_cast<int>(GetLastError());
}

bool IsOutOfSpaceError(int error) {
    constexpr int kDiskQuotaExceeded = 1295; // ERROR_DISK_QUOTA_EXCEEDED, not in every SDK
    return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL ||
           error == ERROR_FILE_TOO_LARGE || error == kDiskQuotaExceeded;
}

int RemoveFile(const std::string& path) {
    if (DeleteFileA(path.c_str())) {
        return 0;
    }
    const DWORD e = GetLastError();
    return e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND ? 0 : static_cast<int>(e);
}

bool RegularFileExists(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

} // namespace kestrel::platform
