#include "platform/module_dir/module_dir.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace kestrel::platform {

std::string ModuleDirectory() {
    std::string dir;
    if (const char* home = std::getenv("KESTREL_HOME"); home != nullptr && *home != '\0') {
        dir = home;
        if (dir.front() != '/') {
            std::error_code ec;
            dir = std::filesystem::absolute(dir, ec).string();
        }
    } else {
        std::error_code ec;
        const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
        dir = ec ? std::filesystem::current_path(ec).string() : exe.parent_path().string();
    }
    if (dir.empty() || dir.back() != '/') {
        dir.push_back('/');
    }
    return dir;
}

std::string ModuleFilePath(std::string_view fileName) {
    std::string path = ModuleDirectory();
    path.append(fileName);
    return path;
}

std::string ModuleRelativePath(std::string_view path) {
    if (path.empty() || path.front() == '/') {
        return std::string(path);
    }
    return ModuleFilePath(path);
}

} // namespace kestrel::platform
