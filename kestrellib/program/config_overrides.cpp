#include "kestrellib/program/config_overrides.h"

#include <cctype>
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

bool Same(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

} // namespace

void SetOverride(std::string_view file, std::string_view section, std::string_view key,
                 std::string_view value) {
    std::lock_guard guard(Lock());
    for (Override& o : Table()) {
        if (Same(o.file, file) && Same(o.section, section) && Same(o.key, key)) {
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
        if (Same(o.file, file) && Same(o.section, section) && Same(o.key, key)) {
            *value = o.value;
            return true;
        }
    }
    return false;
}

} // namespace kestrel::config
