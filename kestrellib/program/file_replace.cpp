#include "kestrellib/program/file_replace.h"

#include "platform/files/file_identity.h"
#include "platform/files/files.h"

namespace kestrel::program {
namespace {

bool Fail(std::string* error, const std::string& text) {
    if (error != nullptr) {
        *error = text;
    }
    return false;
}

} // namespace

bool WriteFileReplacing(const std::string& path, std::span<const std::uint8_t> bytes,
                        std::string* error) {
    if (!platform::IsReplaceableOutput(path)) {
        return Fail(
            error,
            "the file is not a regular file (a directory, device or pipe): refusing to replace it");
    }
    const std::string part = path + ".part";
    platform::File file;
    if (const int e = file.Create(part); e != 0) {
        return Fail(error, "the file cannot be created (" + part + "): " + platform::ErrorText(e));
    }
    int e = file.WriteAt(0, bytes.data(), bytes.size());
    if (const int closed = file.Close(); e == 0) {
        e = closed;
    }
    if (e != 0) {
        platform::RemoveFile(part);
        return Fail(error, "the file cannot be written: " + platform::ErrorText(e));
    }
    if (const int renamed = platform::RenameReplacing(part, path); renamed != 0) {
        platform::RemoveFile(part);
        return Fail(error, "the file cannot be replaced: " + platform::ErrorText(renamed));
    }
    return true;
}

} // namespace kestrel::program
