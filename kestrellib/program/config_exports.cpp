#include "kestrellib/program/config_exports.h"

#include "kestrellib/program/config_files.h"
#include "platform/profile/profile.h"

#include <cstring>

using namespace kestrel;

KESTREL_EXPORT int IsIniFileExist(const char* fileName) {
    if (fileName == nullptr) {
        return -1;
    }
    // Only a regular file counts: a directory or a FIFO of that name is no INI file, and opening
    // a FIFO must not block the worker.
    std::string bytes;
    return platform::ReadProfileFile(config::FilePath(fileName), &bytes) ==
                   platform::ProfileFileKind::kRegular
               ? 0
               : -1;
}

KESTREL_EXPORT void GetConfigInistring(const char* key, char* buffer) {
    if (buffer == nullptr) {
        return;
    }
    buffer[0] = '\0';
    if (key == nullptr) {
        return;
    }
    const std::string value = config::ReadString(config::kIspIni, "WrapImage", key);
    std::memcpy(buffer, value.c_str(), value.size() + 1); // at most 255 characters and the NUL
}

KESTREL_EXPORT int GetRomfs_Max_size(int which) {
    return which == 2 ? config::isp::Romfs1MaxSizeMb() : config::isp::RomfsMaxSizeMb();
}

KESTREL_EXPORT int GetIsWriteRomFs(int which) {
    return which == 2 ? config::Read(config::isp::kRomfs1Enable)
                      : config::Read(config::isp::kRomfsEnable);
}
