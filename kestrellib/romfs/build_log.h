#pragma once
// Progress lines and messages of one image build. A line is printed on the output stream when
// its level is at most the verbosity (1 for every build: levels 0 and 1 show, 2 to 4 do not).
// A fatal error prints its message on the error stream and ends the build with its status: the
// exports catch BuildFailure and return the status instead of ending the process.

#include "platform/printf_format.h"

#include <cstdio>

namespace kestrel::romfs {

// Status of a build, as mk_romfs returns it.
enum BuildStatus : int {
    kBuildOk = 0,
    kBuildOutOfMemory = 2,
    kBuildInputError = 3,   // the tree cannot be read
    kBuildOutputError = 4,  // the image cannot be written
    kBuildSeekError = 5,    // the image cannot be positioned
    kBuildLimitError = 6,   // the tree does not fit the image's limits
    kBuildInternalError = 7 // the node table came out inconsistent
};

struct BuildFailure {
    int status;
};

class BuildLog {
public:
    BuildLog(std::FILE* out, std::FILE* err, int verbosity = 1)
        : out_(out), err_(err), verbosity_(verbosity) {}

    bool Shows(int level) const { return level <= verbosity_; }
    KESTREL_PRINTF_FORMAT(3, 4) void Line(int level, const char* format, ...) const;
    // A message on the error stream that does not end the build.
    KESTREL_PRINTF_FORMAT(2, 3) void Message(const char* format, ...) const;
    [[noreturn]] KESTREL_PRINTF_FORMAT(3, 4) void Fatal(int status, const char* format, ...) const;

private:
    std::FILE* out_;
    std::FILE* err_;
    int verbosity_;
};

} // namespace kestrel::romfs
