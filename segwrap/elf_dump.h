#pragma once
// The readable text dump of an ELF file: header, sections, segments, symbol tables and notes.

#include "platform/export.h"

#include <cstdio>

namespace kestrel::segwrap {
class ElfReader;

// Writes the dump of a loaded file to out (header onwards; the failure lines are the caller's).
void WriteElfDump(const ElfReader& reader, std::FILE* out);
} // namespace kestrel::segwrap

// Creates or truncates dumpPath and writes the dump of elfPath into it. A file that cannot be
// loaded gives the single line "Can't open input file \"<elfPath>\"". Always returns 1, also
// when dumpPath cannot be created (then nothing is written). Each call uses its own stream, so
// dumps on different threads do not mix.
KESTREL_EXPORT int ParseElfFile(const char* elfPath, const char* dumpPath);
