#pragma once
// The subcommands of kestrel-cli. Each Add* function registers one subcommand with its options;
// when the subcommand runs it stores its exit status in the context (the worst of a chain
// counts), so "kestrel-cli --simulate 8 isp verify" runs both on the same simulated devices.

#include <CLI/CLI.hpp>

namespace kestrel::cli {

// Exit statuses of kestrel-cli.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;   // a device, check or file operation failed
inline constexpr int kExitUsage = 2;    // bad arguments or environment
inline constexpr int kExitNoDevice = 3; // a device command found no device
// A device command found devices of the model but may not use them (no udev rule or rights).
inline constexpr int kExitNoAccess = 4;
inline constexpr int kExitStopped = 5; // a run was stopped by Ctrl-C or SIGTERM

struct CommandContext {
    int status = kExitOk;
    bool stopped = false; // a run was stopped: the device commands after it do nothing
    void Report(int commandStatus) {
        if (commandStatus > status || (status == kExitOk && commandStatus != kExitOk)) {
            status = commandStatus;
        }
    }
};

void AddBootImageCommand(CLI::App& app, CommandContext& context);
void AddCheckCommand(CLI::App& app, CommandContext& context);
void AddElfDumpCommand(CLI::App& app, CommandContext& context);
void AddIspCommand(CLI::App& app, CommandContext& context);
void AddDemoWorkspaceCommand(CLI::App& app, CommandContext& context);
void AddVerifyCommand(CLI::App& app, CommandContext& context);
void AddRomfsCommand(CLI::App& app, CommandContext& context);
void AddWrapCommand(CLI::App& app, CommandContext& context);

} // namespace kestrel::cli
