// Profile backend over the Windows private-profile functions.
#include "platform/profile/profile.h"

#include <windows.h>

// <windows.h> maps these names to their ANSI or wide functions (GetProfileStringA ...); the
// functions defined here are our own, under their own names.
#undef GetProfileInt
#undef GetProfileString
#undef WriteProfileString

#include <fstream>
#include <sstream>

namespace kestrel::platform {

ProfileFileKind ReadProfileFile(const std::string& path, std::string* bytes, std::string* why) {
    bytes->clear();
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        if (why != nullptr) {
            *why = path + ": no such file";
        }
        return ProfileFileKind::kMissing;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        if (why != nullptr) {
            *why = path + ": is a directory, not a file; it is read as no file";
        }
        return ProfileFileKind::kNotAFile;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (why != nullptr) {
            *why = path + ": cannot be opened";
        }
        return ProfileFileKind::kUnreadable;
    }
    std::ostringstream content;
    content << in.rdbuf();
    *bytes = content.str();
    return ProfileFileKind::kRegular;
}

int GetProfileInt(std::string_view section, std::string_view key, int defaultValue,
                  const std::string& path) {
    return static_cast<int>(GetPrivateProfileIntA(
        std::string(section).c_str(), std::string(key).c_str(), defaultValue, path.c_str()));
}

std::string GetProfileString(std::string_view section, std::string_view key,
                             std::string_view defaultValue, const std::string& path) {
    char buffer[kProfileStringMax + 1] = {};
    GetPrivateProfileStringA(std::string(section).c_str(), std::string(key).c_str(),
                             std::string(defaultValue).c_str(), buffer, sizeof buffer,
                             path.c_str());
    return buffer;
}

namespace {

bool Written(BOOL ok, const std::string& path, std::string* error) {
    if (!ok && error != nullptr) {
        const DWORD code = GetLastError();
        *error = path + (code == ERROR_ACCESS_DENIED
                             ? ": the file is read-only, so the setting was not saved"
                             : ": cannot be written (Windows error " + std::to_string(code) + ")");
    }
    return ok != 0;
}

} // namespace

bool WriteProfileString(std::string_view section, std::string_view key, std::string_view value,
                        const std::string& path, std::string* error) {
    return Written(WritePrivateProfileStringA(std::string(section).c_str(),
                                              std::string(key).c_str(), std::string(value).c_str(),
                                              path.c_str()),
                   path, error);
}

bool DeleteProfileKey(std::string_view section, std::string_view key, const std::string& path,
                      std::string* error) {
    return Written(WritePrivateProfileStringA(std::string(section).c_str(),
                                              std::string(key).c_str(), nullptr, path.c_str()),
                   path, error);
}

} // namespace kestrel::platform
