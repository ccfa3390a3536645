#include "platform/module_dir/module_dir.h"

#include <windows.h>

#include <cstdlib>

namespace kestrel::platform {

std::string ModuleDirectory() {
    if (const char* home = std::getenv("KESTREL_HOME"); home != nullptr && *home != '\0') {
        char full[MAX_PATH] = {};
        const DWORD n = GetFullPathNameA(home, MAX_PATH, full, nullptr);
        std::string dir = (n > 0 && n < MAX_PATH) ? full : home;
        if (dir.back() != '\\' && dir.back() != '/') {
            dir.push_back('\\');
        }
        return dir;
    }
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir = path;
    dir.erase(dir.find_last_of('\\') + 1);
    return dir;
}

std::string ModuleFilePath(std::string_view fileName) {
    std::string path = ModuleDirectory();
    path.append(fileName);
    return path;
}

std::string ModuleRelativePath(std::string_view path) {
    const bool absolute = (path.size() >= 2 && path[1] == ':') ||
                          (!path.empty() && (path.front() == '\\' || path.front() == '/'));
    if (path.empty() || absolute) {
        return std::string(path);
    }
    return ModuleFilePath(path);
}

} // namespace kestrel::platform
