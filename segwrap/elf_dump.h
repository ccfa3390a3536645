#pragma once
// The readable text dump of an ELF file: header, sections, segments, symbol tables and notes.

#include "platform/export.h"

#include <cstdio>
#include <functional>
#include <string>

namespace kestrel::segwrap {
class ElfReader;

// Writes the dump of a loaded file to out (header onwards; the failure lines are the caller's).
void WriteElfDump(const ElfReader& reader, std::FILE* out);

// Writes a text file through "<path>.part", renamed over path once complete; an earlier file of
// that name is kept when anything fails. The reason of a failure in words, or empty.
std::string WriteReplacing(const std::string& path, const std::function<void(std::FILE*)>& write);

struct DumpReport {
    bool ok = false;
    std::string file;   // on failure: the file the reason concerns
    std::string reason; // on failure: what went wrong, in words
};

// The dump of elfPath into dumpPath for a front end: a dump path that is the same file as the
// ELF file is refused before anything is opened for writing, and a file that does not load
// writes nothing and comes back with the reason.
DumpReport DumpElfToFile(const char* elfPath, const char* dumpPath);
} // namespace kestrel::segwrap

// Writes the dump of elfPath into dumpPath (through "<dumpPath>.part", renamed when complete).
// A file that cannot be loaded gives the single line "Can't open input file \"<elfPath>\"".
// Always returns 1, also when dumpPath cannot be created or is the same file as elfPath (then
// nothing is written). Each call uses its own stream, so dumps on different threads do not mix.
KESTREL_EXPORT int ParseElfFile(const char* elfPath, const char* dumpPath);
