// kestrel-cli: the station without a window. Global options choose the home directory (where the
// INI files and the run record live) and simulated devices; the subcommands do the work.

#include "cli/commands.h"

#include "platform/clock/clock.h"
#include "platform/environment/environment.h"
#include "sim/backends/environment.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// Environment settings must be in place before the first device or INI access of the process.
// A sleep scale of 0 makes every wait (retries, polls, simulated latency) return at once while the
// clock still advances by the modelled time.
void ApplyEnvironment(const std::string& home, int simulate, const std::string& simConfig,
                      double sleepScale) {
    if (sleepScale >= 0) {
        kestrel::platform::SetSleepScale(sleepScale);
    }
    if (!home.empty()) {
        kestrel::platform::SetEnvironmentValue("KESTREL_HOME", home);
    }
    if (simulate >= 0) {
        kestrel::platform::SetEnvironmentValue("KESTREL_SIMULATE", std::to_string(simulate));
    }
    if (!simConfig.empty()) {
        kestrel::platform::SetEnvironmentValue("KESTREL_SIM_CONFIG", simConfig);
    }
    kestrel::sim::backends::InstallFromEnvironment();
}

} // namespace

int main(int argc, char** argv) {
    using namespace kestrel::cli;
    CLI::App app{"kestrel-cli: the Kestrel programming station on the command line"};
    app.require_subcommand(1, 0); // several in one run, in order: "isp verify"
    app.fallthrough();

    std::string home;
    int simulate = -1;
    std::string simConfig;
    app.add_option("--home", home, "Directory of the INI files and the run record (KESTREL_HOME)");
    app.add_option("--simulate", simulate, "Run on N simulated devices")->check(CLI::Range(0, 64));
    app.add_option("--sim-config", simConfig, "Simulated devices described by FILE")
        ->check(CLI::ExistingFile);
    double sleepScale = -1;
    app.add_option("--sleep-scale", sleepScale,
                   "Scale of every wait (retries, polls, simulated latency): 0 makes them instant")
        ->check(CLI::NonNegativeNumber)
        ->group(""); // for tests and demonstrations
    app.parse_complete_callback([&] { ApplyEnvironment(home, simulate, simConfig, sleepScale); });

    CommandContext context;
    AddIspCommand(app, context);
    AddVerifyCommand(app, context);
    AddDemoWorkspaceCommand(app, context);
    AddElfDumpCommand(app, context);
    AddRomfsCommand(app, context);
    AddWrapCommand(app, context);
    AddBootImageCommand(app, context);
    AddCheckCommand(app, context);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return code == 0 ? kExitOk : kExitUsage;
    }
    return context.status;
}
