#include "kestrellib/program/file_replace.h"

#include <filesystem>
#include <fstream>
#include <system_error>

namespace kestrel::program {
namespace {

bool Fail(std::string* error, const char* text) {
    if (error != nullptr) {
        *error = text;
    }
    return false;
}

} // namespace

bool WriteFileReplacing(const std::string& path, std::span<const std::uint8_t> bytes,
                        std::string* error) {
    const std::string part = path + ".part";
    std::error_code ec;
    {
        std::ofstream file(part, std::ios::binary | std::ios::trunc);
        if (!file.is_open()) {
            return Fail(error, "the file cannot be created");
        }
        file.write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        file.close();
        if (!file) {
            std::filesystem::remove(part, ec);
            return Fail(error, "the file cannot be written");
        }
    }
    std::filesystem::rename(part, path, ec);
    if (ec) {
        std::filesystem::remove(part, ec);
        return Fail(error, "the file cannot be replaced");
    }
    return true;
}

} // namespace kestrel::program
