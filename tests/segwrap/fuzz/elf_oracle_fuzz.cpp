// libFuzzer target: any bytes through the station's ELF reader and through the elfutils-based
// reader it replaced (the oracle). Both must refuse the file, or both read it and report the
// same header, segments, sections, symbols and notes.
#include "segwrap/elf_description.h"
#include "segwrap/elf_reader.h"
#include "segwrap/libelf_reader.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string file(reinterpret_cast<const char*>(data), size);
    auto ours = kestrel::segwrap::ElfReader::Create();
    auto oracle = kestrel::test::LibelfReader::Create();
    if (!ours || !oracle) {
        std::abort();
    }
    const std::string a = kestrel::test::Describe(*ours, file);
    const std::string b = kestrel::test::Describe(*oracle, file);
    if (a != b) {
        std::fprintf(stderr, "the readers differ\n--- ours\n%s--- oracle\n%s", a.c_str(),
                     b.c_str());
        std::abort();
    }
    return 0;
}
