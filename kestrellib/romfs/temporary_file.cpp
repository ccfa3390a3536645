#include "kestrellib/romfs/temporary_file.h"

#include "platform/files/files.h"

namespace kestrel::romfs {

TemporaryFile::TemporaryFile(std::string path) : path_(std::move(path)) {
    platform::RemoveFile(path_);
}

TemporaryFile::~TemporaryFile() {
    if (!moved_) {
        platform::RemoveFile(path_);
    }
}

void TemporaryFile::MoveTo(const std::string& target, const BuildLog& log) {
    if (const int e = platform::RenameReplacing(path_, target); e != 0) {
        log.Fatal(kBuildOutputError, "Error renaming '%s' to '%s': %s\n", path_.c_str(),
                  target.c_str(), platform::ErrorText(e).c_str());
    }
    moved_ = true;
}

} // namespace kestrel::romfs
