// kestrel-cli elf-dump ELF [-o FILE]: the readable dump of an ELF firmware file.

#include "cli/commands.h"

#include "segwrap/elf_dump.h"
#include "segwrap/elf_reader.h"

#include <cstdio>
#include <memory>
#include <string>

namespace kestrel::cli {

void AddElfDumpCommand(CLI::App& app, CommandContext& context) {
    auto* command = app.add_subcommand("elf-dump", "Write the readable dump of an ELF file");
    auto elf = std::make_shared<std::string>();
    auto output = std::make_shared<std::string>();
    command->add_option("elf", *elf, "ELF file")->required();
    command->add_option("-o,--output", *output, "Dump file (default: standard output)");
    command->callback([&context, elf, output] {
        if (!output->empty()) {
            ParseElfFile(elf->c_str(), output->c_str());
            context.Report(kExitOk);
            return;
        }
        auto reader = segwrap::ElfReader::Create();
        if (!reader || !reader->LoadFile(elf->c_str())) {
            std::fprintf(stdout, "Can't open input file \"%s\"\n", elf->c_str());
            context.Report(kExitFailed);
            return;
        }
        segwrap::WriteElfDump(*reader, stdout);
        std::fflush(stdout);
        context.Report(kExitOk);
    });
}

} // namespace kestrel::cli
