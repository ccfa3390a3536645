#include "kestrellib/program/config_exports.h"

#include "kestrellib/program/config_files.h"

#include <cstdio>
#include <cstring>

using namespace kestrel;

KESTREL_EXPORT int IsIniFileExist(const char* fileName) {
    if (fileName == nullptr) {
        return -1;
    }
    std::FILE* file = std::fopen(config::FilePath(fileName).c_str(), "rb");
    if (file == nullptr) {
        return -1;
    }
    std::fclose(file);
    return 0;
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
