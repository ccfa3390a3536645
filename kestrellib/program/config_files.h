#pragma once
// Typed readers for every key of the station's configuration files (isp.ini, config.ini,
// profile.ini, RomPatch.ini). The files lie in the module directory and are read anew at every
// call; nothing is cached, so an edit takes effect at the next read. A missing file or key
// yields the key's default; no reader reports an error.

#include <string>
#include <string_view>

namespace kestrel::config {

inline constexpr const char* kIspIni = "isp.ini";
inline constexpr const char* kConfigIni = "config.ini";
inline constexpr const char* kProfileIni = "profile.ini";
inline constexpr const char* kRomPatchIni = "RomPatch.ini";

struct IntKey {
    const char* file;
    const char* section;
    const char* key;
    int defaultValue;
};

struct StringKey {
    const char* file;
    const char* section;
    const char* key;
};

// Path of a configuration file (or any file) beside the program.
std::string FilePath(std::string_view fileName);

// A file or directory path read from any of the INI files, as the station uses it: relative
// paths are taken from the home (module) directory, never from the current directory, so a
// workspace copied elsewhere uses its own files; absolute and empty paths stay as they are.
std::string HomePath(std::string_view pathFromIni);

int Read(const IntKey& key);
std::string Read(const StringKey& key); // at most 255 characters, "" by default
// Writes return false when the file cannot be written, with a sentence naming the file and the
// reason in *error when given.
bool Write(const StringKey& key, std::string_view value, std::string* error = nullptr);
bool Write(const IntKey& key, int value, std::string* error = nullptr); // as decimal text

// Keys of sections whose names are built at run time (config.ini items and clock entries,
// RomPatch.ini patch sections).
int ReadInt(const char* file, std::string_view section, std::string_view key, int defaultValue);
std::string ReadString(const char* file, std::string_view section, std::string_view key);
bool WriteString(const char* file, std::string_view section, std::string_view key,
                 std::string_view value, std::string* error = nullptr);

namespace isp {
inline constexpr StringKey kRedbootName{kIspIni, "Redboot", "name"};
inline constexpr IntKey kSupportDramInit{kIspIni, "Redboot", "SuppurtenDramInit", 0};
inline constexpr StringKey kRomfsName{kIspIni, "Romfs", "name"};
inline constexpr IntKey kRomfsEnable{kIspIni, "Romfs", "enable", 1};
inline constexpr IntKey kRomfsMaxSize{kIspIni, "Romfs", "maxsize", 0};
inline constexpr IntKey kRomfsDualImage{kIspIni, "Romfs", "DualImage", 1};
inline constexpr StringKey kRomfs1Name{kIspIni, "Romfs1", "name"};
inline constexpr IntKey kRomfs1Enable{kIspIni, "Romfs1", "enable", 0};
inline constexpr IntKey kRomfs1MaxSize{kIspIni, "Romfs1", "maxsize", 0};
inline constexpr IntKey kRomfs1Encryption{kIspIni, "Romfs1", "Suppurtencryption", 1};
inline constexpr StringKey kDemoDir{kIspIni, "Burn-D", "Dir"};
inline constexpr IntKey kReadVerify{kIspIni, "Burn-D", "readverify", 1};
inline constexpr IntKey kRebuild{kIspIni, "Burn-D", "rebuild", 1};
inline constexpr IntKey kDemoEnable{kIspIni, "Burn-D", "enable", 1};
inline constexpr IntKey kImageType{kIspIni, "General", "ImageType", 0};
inline constexpr IntKey kDramType{kIspIni, "General", "Dramtype", 0};
inline constexpr IntKey kEccMode{kIspIni, "General", "eccmode", 0};
inline constexpr IntKey kBootDeviceEnable{kIspIni, "BootDevice", "enable", 0};
inline constexpr IntKey kBootDeviceId{kIspIni, "BootDevice", "deviceid", 0};
inline constexpr StringKey kWrapDescription{kIspIni, "WrapImage", "description"};
inline constexpr StringKey kWrapResource{kIspIni, "WrapImage", "Resource"};
inline constexpr StringKey kWrapRomFsOutPutName{kIspIni, "WrapImage", "RomFsOutPutName"};
inline constexpr StringKey kWrapBinary{kIspIni, "WrapImage", "binary"};
inline constexpr StringKey kWrapPackages{kIspIni, "WrapImage", "Packages"};
inline constexpr IntKey kWrapEnable{kIspIni, "WrapImage", "enable", 0};
inline constexpr StringKey kWrapRomFs1InputDir{kIspIni, "WrapImage", "RomFs1InputDir"};
inline constexpr StringKey kWrapRomFs1OutPutName{kIspIni, "WrapImage", "RomFs1OutPutName"};
inline constexpr IntKey kWrapVersion{kIspIni, "WrapImage", "version", 0};
inline constexpr IntKey kWrapFlag{kIspIni, "WrapImage", "flag", 0};
inline constexpr IntKey kWrapCompress{kIspIni, "WrapImage", "SuppurtenCompress", 0};

// Romfs area size in megabytes: [Romfs] maxsize, 32 when 0.
int RomfsMaxSizeMb();
// Romfs1 area size in megabytes: [Romfs1] maxsize when [Romfs1] enable is nonzero, else 0.
int Romfs1MaxSizeMb();
// [BootDevice] deviceid when [BootDevice] enable is nonzero, else 7 (leave the device as is).
int BootDeviceId();
} // namespace isp

namespace cfg {
inline constexpr IntKey kItemNum{kConfigIni, "General", "ItemNum", 0};
inline constexpr StringKey kItemName{kConfigIni, "General", "ItemName"};
inline constexpr IntKey kHoldingPerInRomcode{kConfigIni, "General", "HoldingPerInRomcode", 0};
inline constexpr IntKey kEnableRomCodeMessage{kConfigIni, "General", "Enable_RomCodeMessage", 0};
inline constexpr IntKey kFreqNum{kConfigIni, "General", "FreqNum", 0};
inline constexpr StringKey kFreqName{kConfigIni, "General", "FreqName"};

// Section name of item i or clock entry i: prefix followed by i in decimal.
std::string IndexedSection(std::string_view prefix, int index);
int ItemEnable(int item);
int ItemValue(int item);
} // namespace cfg

namespace profile {
inline constexpr IntKey kEnable{kProfileIni, "General", "Enable", 0};
inline constexpr IntKey kPageSize{kProfileIni, "General", "PageSize", 0};
inline constexpr IntKey kPageNoPerBlk{kProfileIni, "General", "PageNoPerBlk", 0};
inline constexpr IntKey kTotalBlkNo{kProfileIni, "General", "TotalBlkNo", 0};
inline constexpr IntKey kEccMode{kProfileIni, "General", "ecc_mode", 0};
} // namespace profile

namespace rompatch {
inline constexpr StringKey kItemName{kRomPatchIni, "General", "ItemName"};
inline constexpr IntKey kDownloadAddr{kRomPatchIni, "General", "DownloadAddr", 0};

// The patch section of a device: ItemName followed by n, where n is the boot device id (0 for
// loaders below level 2), plus 7 when loaderClass is 1.
std::string PatchSection(int bootDeviceId, int loaderLevel, int loaderClass);
int PatchEnable(const std::string& section);
int PatchEntryAddr(const std::string& section);
std::string PatchFileName(const std::string& section);
} // namespace rompatch

} // namespace kestrel::config
