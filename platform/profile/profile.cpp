// The profile calls over our own INI document, the same on every platform: files are read
// whole at every call, and each change is a read-modify-write of the whole file through the
// host's replacement (profile_file.h), serialised within this process.
#include "platform/profile/profile.h"
#include "platform/profile/ini_document.h"
#include "platform/profile/profile_file.h"

#include <mutex>

namespace kestrel::platform {
namespace {

// Serialises the read-modify-write of profile files within this process.
std::mutex& WriteLock() {
    static std::mutex lock;
    return lock;
}

template <typename Edit>
bool EditFile(const std::string& path, std::string* error, Edit edit) {
    std::lock_guard guard(WriteLock());
    return ReplaceProfileBytes(path, error, [&](const std::string& bytes) {
        IniDocument doc = IniDocument::Parse(bytes);
        edit(doc);
        return doc.Serialize();
    });
}

IniDocument ReadDocument(const std::string& path) {
    std::string bytes;
    ReadProfileFile(path, &bytes);
    return IniDocument::Parse(bytes);
}

} // namespace

int GetProfileInt(std::string_view section, std::string_view key, int defaultValue,
                  const std::string& path) {
    const auto value = ReadDocument(path).Find(section, key);
    if (!value) {
        return defaultValue;
    }
    return ParseProfileInt(value->substr(0, kProfileStringMax)).value_or(defaultValue);
}

std::string GetProfileString(std::string_view section, std::string_view key,
                             std::string_view defaultValue, const std::string& path) {
    auto value = ReadDocument(path).Find(section, key);
    std::string result = value ? std::move(*value) : std::string(defaultValue);
    // Text ends at the first NUL, as it does in the caller's C buffer.
    if (const auto nul = result.find('\0'); nul != std::string::npos) {
        result.resize(nul);
    }
    if (result.size() > kProfileStringMax) {
        result.resize(kProfileStringMax);
    }
    return result;
}

bool WriteProfileString(std::string_view section, std::string_view key, std::string_view value,
                        const std::string& path, std::string* error) {
    return EditFile(path, error, [&](IniDocument& doc) { doc.Set(section, key, value); });
}

bool DeleteProfileKey(std::string_view section, std::string_view key, const std::string& path,
                      std::string* error) {
    return EditFile(path, error, [&](IniDocument& doc) { doc.Remove(section, key); });
}

} // namespace kestrel::platform
