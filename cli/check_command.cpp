// kestrel-cli check: validates the workspace (the home directory's INI files and the images they
// name) without touching a device, and says for each finding whether a run would fail on it.
// Exit status 0 when nothing would fail, 1 otherwise.

#include "cli/commands.h"

#include "app/station/workspace_check.h"
#include "kestrellib/program/config_files.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

namespace kestrel::cli {
namespace {

int RunCheck(const station::WorkspaceCheckOptions& options) {
    station::CheckReport report;
    const std::string home = std::filesystem::path(config::FilePath("")).parent_path().string();
    std::printf("Workspace %s\n", home.c_str());
    const int failures = station::CheckWorkspace(options, report);
    if (failures == 0) {
        std::printf("Workspace ok\n");
        return kExitOk;
    }
    std::printf("%d problem%s\n", failures, failures == 1 ? "" : "s");
    return kExitFailed;
}

} // namespace

void AddCheckCommand(CLI::App& app, CommandContext& context) {
    auto* command = app.add_subcommand(
        "check", "Validate the workspace's INI files and images without touching a device");
    auto options = std::make_shared<station::WorkspaceCheckOptions>();
    command->add_option("--mode", options->mode, "Run mode to check for (default: isp.ini's)")
        ->check(CLI::Range(1, 3));
    command->add_option("--page-size", options->pageSize, "Page size the areas are measured in")
        ->check(CLI::IsMember({512u, 2048u, 4096u, 8192u, 16384u}));
    command->add_option("--pages-per-block", options->pagesPerBlock, "Pages per block")
        ->check(CLI::IsMember({32u, 64u, 128u, 256u, 512u}));
    command->callback([&context, options] { context.Report(RunCheck(*options)); });
}

} // namespace kestrel::cli
