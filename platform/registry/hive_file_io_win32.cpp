// The hive file on Windows: the file's volume serial number, index, size and last write time
// for the stamp, plain reads, and a temporary file flushed with FlushFileBuffers and moved over
// the hive with MoveFileEx (replace, write through).
#include "platform/registry/hive_file_io.h"

#include "platform/files/owned_handle_win32.h"

#include <windows.h>

#include <algorithm>

namespace kestrel::platform::registry {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

} // namespace

HiveFileStamp StampHiveFile(const std::string& path) {
    OwnedHandle file(::CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!file.IsOpen() || !::GetFileInformationByHandle(file.Get(), &info)) {
        return {};
    }
    const auto wide = [](DWORD high, DWORD low) {
        return (static_cast<std::uint64_t>(high) << 32) | low;
    };
    return {true, info.dwVolumeSerialNumber, wide(info.nFileIndexHigh, info.nFileIndexLow),
            wide(info.nFileSizeHigh, info.nFileSizeLow),
            static_cast<std::int64_t>(
                wide(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime))};
}

std::optional<std::string> ReadHiveFile(const std::string& path) {
    OwnedHandle file(::CreateFileA(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsOpen()) {
        return std::nullopt;
    }
    std::string bytes;
    char buffer[65536];
    for (;;) {
        DWORD n = 0;
        if (!::ReadFile(file.Get(), buffer, sizeof buffer, &n, nullptr)) {
            return std::nullopt;
        }
        if (n == 0) {
            return bytes;
        }
        bytes.append(buffer, n);
    }
}

bool ReplaceHiveFile(const std::string& path, std::string_view bytes) {
    const std::string temp = path + ".tmp" + std::to_string(::GetCurrentProcessId());
    OwnedHandle file(::CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsOpen()) {
        return false;
    }
    bool written = true;
    while (written && !bytes.empty()) {
        DWORD n = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
        written = ::WriteFile(file.Get(), bytes.data(), chunk, &n, nullptr) != 0 && n > 0;
        bytes.remove_prefix(n);
    }
    if (!written || !::FlushFileBuffers(file.Get()) || !file.Close() ||
        !::MoveFileExA(temp.c_str(), path.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        file.Close();
        ::DeleteFileA(temp.c_str());
        return false;
    }
    return true;
}

} // namespace kestrel::platform::registry
