#include "kestrellib/program/config_overrides.h"

#include "platform/profile/ini_document.h"

#include <mutex>
#include <vector>

namespace kestrel::config {
namespace {

struct Override {
    std::string file;
    std::string section;
    std::string key;
    std::string value;
};

std::mutex& Lock() {
    static std::mutex lock;
    return lock;
}

std::vector<Override>& Table() {
    static std::vector<Override> table;
    return table;
}

} // namespace

void SetOverride(std::string_view file, std::string_view section, std::string_view key,
                 std::string_view value) {
    std::lock_guard guard(Lock());
    for (Override& o : Table()) {
        if (platform::EqualNoCase(o.file, file) && platform::EqualNoCase(o.section, section) &&
            platform::EqualNoCase(o.key, key)) {
            o.value = std::string(value);
            return;
        }
    }
    Table().push_back(
        {std::string(file), std::string(section), std::string(key), std::string(value)});
}

void ClearOverrides() {
    std::lock_guard guard(Lock());
    Table().clear();
}

bool FindOverride(std::string_view file, std::string_view section, std::string_view key,
                  std::string* value) {
    std::lock_guard guard(Lock());
    for (const Override& o : Table()) {
        if (platform::EqualNoCase(o.file, file) && platform::EqualNoCase(o.section, section) &&
            platform::EqualNoCase(o.key, key)) {
            *value = o.value;
            return true;
        }
    }
    return false;
}

} // namespace kestrel::config
