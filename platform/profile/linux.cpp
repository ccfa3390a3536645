// Profile backend over our own INI document: files are read whole at every call and written
// through a temporary file renamed over the original.
#include "platform/profile/ini_document.h"
#include "platform/profile/profile.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <mutex>
#include <sstream>
#include <unistd.h>

namespace kestrel::platform {
namespace {

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return {};
    }
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// Serialises the read-modify-write of profile files within this process.
std::mutex& WriteLock() {
    static std::mutex lock;
    return lock;
}

bool ReplaceFile(const std::string& path, const std::string& content) {
    const std::string temp = path + ".tmp" + std::to_string(::getpid());
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (!out) {
            return false;
        }
        out.write(content.data(), static_cast<std::streamsize>(content.size()));
        out.flush();
        if (!out) {
            out.close();
            std::remove(temp.c_str());
            return false;
        }
    }
    if (std::rename(temp.c_str(), path.c_str()) != 0) {
        std::remove(temp.c_str());
        return false;
    }
    return true;
}

template <typename Edit>
bool EditFile(const std::string& path, Edit edit) {
    std::lock_guard guard(WriteLock());
    IniDocument doc = IniDocument::Parse(ReadWholeFile(path));
    edit(doc);
    return ReplaceFile(path, doc.Serialize());
}

} // namespace

int GetProfileInt(std::string_view section, std::string_view key, int defaultValue,
                  const std::string& path) {
    const auto value = IniDocument::Parse(ReadWholeFile(path)).Find(section, key);
    if (!value) {
        return defaultValue;
    }
    return ParseProfileInt(value->substr(0, kProfileStringMax)).value_or(defaultValue);
}

std::string GetProfileString(std::string_view section, std::string_view key,
                             std::string_view defaultValue, const std::string& path) {
    auto value = IniDocument::Parse(ReadWholeFile(path)).Find(section, key);
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
                        const std::string& path) {
    return EditFile(path, [&](IniDocument& doc) { doc.Set(section, key, value); });
}

bool DeleteProfileKey(std::string_view section, std::string_view key, const std::string& path) {
    return EditFile(path, [&](IniDocument& doc) { doc.Remove(section, key); });
}

} // namespace kestrel::platform
