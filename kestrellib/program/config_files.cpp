#include "kestrellib/program/config_files.h"

#include "kestrellib/program/config_overrides.h"
#include "platform/module_dir/module_dir.h"
#include "platform/profile/ini_document.h"
#include "platform/profile/profile.h"

namespace kestrel::config {

std::string FilePath(std::string_view fileName) {
    return platform::ModuleFilePath(fileName);
}

std::string HomePath(std::string_view pathFromIni) {
    return platform::ModuleRelativePath(pathFromIni);
}

int Read(const IntKey& key) {
    return ReadInt(key.file, key.section, key.key, key.defaultValue);
}

std::string Read(const StringKey& key) {
    return ReadString(key.file, key.section, key.key);
}

bool Write(const StringKey& key, std::string_view value, std::string* error) {
    return WriteString(key.file, key.section, key.key, value, error);
}

bool Write(const IntKey& key, int value, std::string* error) {
    return WriteString(key.file, key.section, key.key, std::to_string(value), error);
}

int ReadInt(const char* file, std::string_view section, std::string_view key, int defaultValue) {
    if (std::string value; FindOverride(file, section, key, &value)) {
        return platform::ParseProfileInt(value).value_or(defaultValue);
    }
    return platform::GetProfileInt(section, key, defaultValue, FilePath(file));
}

std::string ReadString(const char* file, std::string_view section, std::string_view key) {
    if (std::string value; FindOverride(file, section, key, &value)) {
        return value;
    }
    return platform::GetProfileString(section, key, "", FilePath(file));
}

bool WriteString(const char* file, std::string_view section, std::string_view key,
                 std::string_view value, std::string* error) {
    return platform::WriteProfileString(section, key, value, FilePath(file), error);
}

namespace isp {

int RomfsMaxSizeMb() {
    const int size = Read(kRomfsMaxSize);
    return size == 0 ? 32 : size;
}

int Romfs1MaxSizeMb() {
    return Read(kRomfs1Enable) != 0 ? Read(kRomfs1MaxSize) : 0;
}

int BootDeviceId() {
    return Read(kBootDeviceEnable) != 0 ? Read(kBootDeviceId) : 7;
}

} // namespace isp

namespace cfg {

std::string IndexedSection(std::string_view prefix, int index) {
    return std::string(prefix) + std::to_string(index);
}

int ItemEnable(int item) {
    return ReadInt(kConfigIni, IndexedSection(Read(kItemName), item), "enable", 0);
}

int ItemValue(int item) {
    return ReadInt(kConfigIni, IndexedSection(Read(kItemName), item), "value", 0);
}

} // namespace cfg

namespace rompatch {

std::string PatchSection(int bootDeviceId, int loaderLevel, int loaderClass) {
    int n = loaderLevel < 2 ? 0 : bootDeviceId;
    if (loaderClass == 1) {
        n += 7;
    }
    return cfg::IndexedSection(Read(kItemName), n);
}

int PatchEnable(const std::string& section) {
    return ReadInt(kRomPatchIni, section, "enable", 0);
}

int PatchEntryAddr(const std::string& section) {
    return ReadInt(kRomPatchIni, section, "EntryAddr", 0);
}

std::string PatchFileName(const std::string& section) {
    return ReadString(kRomPatchIni, section, "FileName");
}

} // namespace rompatch

} // namespace kestrel::config
