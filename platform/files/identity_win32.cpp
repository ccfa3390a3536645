#include "platform/files/file_identity.h"

#include <windows.h>

namespace kestrel::platform {

int IdentifyFile(const std::string& path, FileIdentity* identity) {
    // Opening without access rights is enough to ask for the identity; the backup flag lets a
    // directory be opened too. Links are followed, as the open itself does.
    HANDLE handle =
        CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return static_cast<int>(GetLastError());
    }
    BY_HANDLE_FILE_INFORMATION info;
    const BOOL ok = GetFileInformationByHandle(handle, &info);
    const DWORD error = ok ? 0 : GetLastError();
    CloseHandle(handle);
    if (!ok) {
        return static_cast<int>(error);
    }
    identity->device = info.dwVolumeSerialNumber;
    identity->number = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
    return 0;
}

bool SameFile(const std::string& a, const std::string& b) {
    FileIdentity first;
    FileIdentity second;
    return IdentifyFile(a, &first) == 0 && IdentifyFile(b, &second) == 0 && first == second;
}

bool IsReplaceableOutput(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return true;
    }
    return (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
}

} // namespace kestrel::platform
