// Profile files on Windows: read whole, and replaced through a temporary file beside the file
// the path names (after following its links), given the file's attributes and moved over it in
// one rename (MoveFileEx), so that a reader opens either the old or the new file, never none or
// a torn one. The replacement takes the folder's inherited access list. A file marked read-only
// is not written.
#include "platform/files/owned_handle_win32.h"
#include "platform/profile/profile.h"
#include "platform/profile/profile_file.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>

namespace kestrel::platform {
namespace {

std::string ErrorSentence(const std::string& path, const char* what, DWORD error) {
    char buffer[512] = {};
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             error, 0, buffer, sizeof buffer, nullptr);
    while (n > 0 && (buffer[n - 1] == '\n' || buffer[n - 1] == '\r' || buffer[n - 1] == '.')) {
        --n;
    }
    const std::string text = n > 0 ? std::string(buffer, n) : "error " + std::to_string(error);
    return path + ": " + what + " (" + text + ")";
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool ReadAll(HANDLE file, std::string* bytes) {
    char buffer[16384];
    for (;;) {
        DWORD n = 0;
        if (!ReadFile(file, buffer, sizeof buffer, &n, nullptr)) {
            return false;
        }
        if (n == 0) {
            return true;
        }
        bytes->append(buffer, n);
    }
}

bool WriteAll(HANDLE file, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD n = 0;
        const DWORD chunk =
            static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
        if (!WriteFile(file, bytes.data() + done, chunk, &n, nullptr) || n == 0) {
            return false;
        }
        done += n;
    }
    return true;
}

// The file an open handle leads to, links followed, as a plain drive path.
std::string FinalPath(HANDLE file, const std::string& fallback) {
    char buffer[MAX_PATH * 4] = {};
    const DWORD n = GetFinalPathNameByHandleA(file, buffer, sizeof buffer, VOLUME_NAME_DOS);
    if (n == 0 || n >= sizeof buffer) {
        return fallback;
    }
    std::string path(buffer, n);
    if (path.rfind("\\\\?\\UNC\\", 0) == 0) {
        return "\\" + path.substr(7);
    }
    if (path.rfind("\\\\?\\", 0) == 0) {
        return path.substr(4);
    }
    return path;
}

std::string TempPathBeside(const std::string& target) {
    static std::atomic<unsigned> counter{0};
    const std::size_t cut = target.find_last_of("\\/");
    const std::string dir = cut == std::string::npos ? std::string() : target.substr(0, cut + 1);
    const std::string name = cut == std::string::npos ? target : target.substr(cut + 1);
    return dir + "~" + name + ".tmp" + std::to_string(GetCurrentProcessId()) + "-" +
           std::to_string(counter.fetch_add(1));
}

// Windows refuses to rename over a file while another handle has it open. Within this process
// the readers and the replacing rename therefore take turns: a reader holds the gate while its
// handle is open, and a waiting rename keeps new readers back until it is done, so that readers
// in a loop cannot starve a write.
struct ReadGate {
    std::mutex lock;
    std::atomic<int> movesWaiting{0};
};

ReadGate& Gate() {
    static ReadGate gate;
    return gate;
}

// Held by a reader for as long as its handle is open.
class ReaderTurn {
public:
    ReaderTurn() {
        while (Gate().movesWaiting.load() > 0) {
            Sleep(0);
        }
        Gate().lock.lock();
    }
    ~ReaderTurn() { Gate().lock.unlock(); }
    ReaderTurn(const ReaderTurn&) = delete;
    ReaderTurn& operator=(const ReaderTurn&) = delete;
};

// Renames temp over target. A handle of another process (a reader, a virus scanner) holds the
// file only briefly: the move is tried again for up to two seconds before it fails.
bool MoveOver(const std::string& temp, const std::string& target, DWORD* failure) {
    ++Gate().movesWaiting;
    std::lock_guard turn(Gate().lock);
    --Gate().movesWaiting;
    for (int attempt = 0;; ++attempt) {
        if (MoveFileExA(temp.c_str(), target.c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            return true;
        }
        *failure = GetLastError();
        const bool held = *failure == ERROR_ACCESS_DENIED || *failure == ERROR_SHARING_VIOLATION;
        if (!held || attempt >= 400) {
            return false;
        }
        Sleep(5);
    }
}

} // namespace

bool ReplaceProfileBytes(const std::string& path, std::string* error,
                         const std::function<std::string(const std::string&)>& change) {
    std::string ignored;
    std::string& why = error != nullptr ? *error : ignored;
    std::string target = path;
    std::string bytes;
    const DWORD attributes = GetFileAttributesA(path.c_str());
    const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
    if (!exists) {
        const DWORD code = GetLastError();
        if (code != ERROR_FILE_NOT_FOUND) {
            why = ErrorSentence(path, "cannot be read, so it was not changed", code);
            return false;
        }
    } else {
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            why = path + ": not a regular file, so it was not changed";
            return false;
        }
        OwnedHandle in(CreateFileA(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!in.IsOpen()) {
            why = ErrorSentence(path, "cannot be read, so it was not changed", GetLastError());
            return false;
        }
        target = FinalPath(in.Get(), path);
        const DWORD targetAttributes = GetFileAttributesA(target.c_str());
        if (targetAttributes != INVALID_FILE_ATTRIBUTES &&
            (targetAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
            why = target + ": the file is read-only, so the setting was not saved";
            return false;
        }
        if (!ReadAll(in.Get(), &bytes)) {
            why = ErrorSentence(target, "cannot be read, so it was not changed", GetLastError());
            return false;
        }
    }
    const DWORD keptAttributes =
        exists ? GetFileAttributesA(target.c_str()) &
                     (FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                      FILE_ATTRIBUTE_NOT_CONTENT_INDEXED)
               : 0;
    const std::string content = change(bytes);
    if (exists && content == bytes) {
        return true;
    }
    const std::string temp = TempPathBeside(target);
    OwnedHandle out(CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out.IsOpen()) {
        why = ErrorSentence(target, "cannot be written: its folder does not take a new file",
                            GetLastError());
        return false;
    }
    bool ok = WriteAll(out.Get(), content) && FlushFileBuffers(out.Get());
    DWORD failure = ok ? 0 : GetLastError();
    if (!out.Close() && ok) {
        ok = false;
        failure = GetLastError();
    }
    if (ok) {
        if (keptAttributes != 0) {
            SetFileAttributesA(temp.c_str(), keptAttributes);
        }
        ok = MoveOver(temp, target, &failure);
    }
    if (!ok) {
        DeleteFileA(temp.c_str());
        why = ErrorSentence(target, "cannot be written; the file was left as it was", failure);
    }
    return ok;
}

ProfileFileKind ReadProfileFile(const std::string& path, std::string* bytes, std::string* why) {
    bytes->clear();
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) {
            if (why != nullptr) {
                *why = path + ": no such file";
            }
            return ProfileFileKind::kMissing;
        }
        if (why != nullptr) {
            *why = ErrorSentence(path, "cannot be opened", code);
        }
        return ProfileFileKind::kUnreadable;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        if (why != nullptr) {
            *why = path + ": is a directory, not a file; it is read as no file";
        }
        return ProfileFileKind::kNotAFile;
    }
    const ReaderTurn turn;
    OwnedHandle file(CreateFileA(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsOpen()) {
        if (why != nullptr) {
            *why = ErrorSentence(path, "cannot be opened", GetLastError());
        }
        return ProfileFileKind::kUnreadable;
    }
    if (GetFileType(file.Get()) != FILE_TYPE_DISK) {
        if (why != nullptr) {
            *why = path + ": is a device or pipe, not a file; it is read as no file";
        }
        return ProfileFileKind::kNotAFile;
    }
    if (!ReadAll(file.Get(), bytes)) {
        const DWORD code = GetLastError();
        bytes->clear();
        if (why != nullptr) {
            *why = ErrorSentence(path, "cannot be read", code);
        }
        return ProfileFileKind::kUnreadable;
    }
    return ProfileFileKind::kRegular;
}

} // namespace kestrel::platform
