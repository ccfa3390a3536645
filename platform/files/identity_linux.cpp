#include "platform/files/file_identity.h"

#include <sys/stat.h>

#include <cerrno>

namespace kestrel::platform {

int IdentifyFile(const std::string& path, FileIdentity* identity) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        return errno;
    }
    identity->device = static_cast<std::uint64_t>(st.st_dev);
    identity->number = static_cast<std::uint64_t>(st.st_ino);
    return 0;
}

bool SameFile(const std::string& a, const std::string& b) {
    FileIdentity first;
    FileIdentity second;
    return IdentifyFile(a, &first) == 0 && IdentifyFile(b, &second) == 0 && first == second;
}

bool IsReplaceableOutput(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        return true;
    }
    return S_ISREG(st.st_mode);
}

} // namespace kestrel::platform
