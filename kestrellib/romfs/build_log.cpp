#include "kestrellib/romfs/build_log.h"

#include <cstdarg>

namespace kestrel::romfs {

void BuildLog::Line(int level, const char* format, ...) const {
    if (!Shows(level)) {
        return;
    }
    va_list args;
    va_start(args, format);
    std::vfprintf(out_, format, args);
    va_end(args);
}

void BuildLog::Message(const char* format, ...) const {
    std::fflush(out_); // keep the two streams in order where they share a terminal
    va_list args;
    va_start(args, format);
    std::vfprintf(err_, format, args);
    va_end(args);
    std::fflush(err_);
}

void BuildLog::Fatal(int status, const char* format, ...) const {
    std::fflush(out_);
    va_list args;
    va_start(args, format);
    std::vfprintf(err_, format, args);
    va_end(args);
    std::fflush(err_);
    throw BuildFailure{status};
}

} // namespace kestrel::romfs
