// kestrel-cli demo-workspace DIR: writes the demo workspace (cli/demo_workspace.h).

#include "cli/commands.h"
#include "cli/demo_workspace.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

namespace kestrel::cli {
namespace {

int WriteWorkspace(const DemoWorkspaceOptions& options) {
    std::string error;
    if (!WriteDemoWorkspace(options, error)) {
        std::fprintf(stderr, "kestrel-cli: %s\n", error.c_str());
        return kExitFailed;
    }
    std::printf("Demo workspace written to %s\n",
                std::filesystem::absolute(options.dir).string().c_str());
    return kExitOk;
}

} // namespace

void AddDemoWorkspaceCommand(CLI::App& app, CommandContext& context) {
    auto* command = app.add_subcommand("demo-workspace", "Write a complete sample workspace");
    auto options = std::make_shared<DemoWorkspaceOptions>();
    command->add_option("dir", options->dir, "Directory to write (created when missing)")
        ->required();
    command->add_option("--boot-kib", options->bootKib, "Size of each boot image's main block");
    command->add_option("--firmware-kib", options->firmwareKib, "Size of the demo ELF segments");
    command->add_option("--filler-kib", options->fillerKib, "Size of the other resource files");
    command->add_option("--romfs-mb", options->romfsMb,
                        "Romfs area size in isp.ini ([Romfs] maxsize)");
    command->add_flag("--force", options->force,
                      "Overwrite the INI files and images of a workspace already in the directory");
    command->callback([&context, options] { context.Report(WriteWorkspace(*options)); });
}

} // namespace kestrel::cli
