#pragma once
// Inputs of the Segwrap benchmarks, built afresh at each run (nothing foreign is kept in the
// tree): English-like text, and a large ARM ELF file whose segments hold machine code taken
// from the shared libraries installed on the machine, with sections that cover the segments
// so that objcopy copies the same bytes.

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

namespace kestrel::bench {

using Bytes = std::vector<unsigned char>;

// Words drawn with Zipf-like frequencies, with punctuation and line breaks.
Bytes MakeText(std::size_t size);

// Bytes of installed ELF shared libraries in a stable order, repeated if there are too few.
Bytes CollectMachineCode(std::size_t size);

// Writes an ELF32 ARM executable of three adjacent loadable segments (code, read-only data,
// data) that together hold `code`, each covered by one section.
void WriteLargeElf(const std::filesystem::path& path, const Bytes& code);

// The VMX payload (descriptor and records) that wrapping the file gives uncompressed.
Bytes WrappedPayload(const std::filesystem::path& elf, const std::filesystem::path& scratch);

} // namespace kestrel::bench
