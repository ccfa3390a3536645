// kestrel-cli elf-dump ELF [-o FILE]: the readable dump of an ELF firmware file. A file that does
// not load is reported on standard error with the reason, and no dump is written.

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
            const segwrap::DumpReport report =
                segwrap::DumpElfToFile(elf->c_str(), output->c_str());
            if (!report.ok) {
                std::fprintf(stderr, "elf-dump: %s: %s\n", report.file.c_str(),
                             report.reason.c_str());
            }
            context.Report(report.ok ? kExitOk : kExitFailed);
            return;
        }
        auto reader = segwrap::ElfReader::Create();
        if (!reader || !reader->LoadFile(elf->c_str())) {
            std::fprintf(stderr, "elf-dump: %s: %s\n", elf->c_str(),
                         reader ? reader->Failure().c_str() : "the ELF library cannot be set up");
            context.Report(kExitFailed);
            return;
        }
        segwrap::WriteElfDump(*reader, stdout);
        const bool written = std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
        if (!written) {
            std::fprintf(stderr, "elf-dump: the dump could not be written to standard output\n");
        }
        context.Report(written ? kExitOk : kExitFailed);
    });
}

} // namespace kestrel::cli
