#pragma once
// A file that exists only while a build makes it: removed when the build ends, unless it has
// been moved over its final name.

#include "kestrellib/romfs/build_log.h"

#include <string>

namespace kestrel::romfs {

class TemporaryFile {
public:
    // Removes any file of that name left from an earlier run.
    explicit TemporaryFile(std::string path);
    ~TemporaryFile();
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    const std::string& Path() const { return path_; }
    // Renames the file over target; a failure is fatal (status 4).
    void MoveTo(const std::string& target, const BuildLog& log);

private:
    std::string path_;
    bool moved_ = false;
};

} // namespace kestrel::romfs
