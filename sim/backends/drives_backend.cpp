// The simulated devices' drives: each present simulated device of the production model offers a
// folder of its own below the module directory, as a programmed device shows up as a removable
// drive on a real system.

#include "sim/backends/drives_backend.h"

#include "platform/module_dir/module_dir.h"
#include "platform/modules/keep_loaded.h"
#include "sim/farm.h"

#include <filesystem>
#include <system_error>
#include <utility>

namespace kestrel::sim::backends {
namespace {

using platform::drives::Backend;
using platform::drives::Drive;

// A device instance as a folder name: the separators of either platform become '_'.
std::string FolderName(std::string instance) {
    for (char& c : instance) {
        if (c == '/' || c == '\\' || c == ':') {
            c = '_';
        }
    }
    return instance.empty() || instance == "." || instance == ".." ? "_" + instance : instance;
}

class SimBackend final : public Backend {
public:
    const char* Name() const override { return "sim"; }

    std::vector<Drive> List() override {
        const std::filesystem::path base =
            std::filesystem::path(platform::ModuleDirectory()) / "sim-drives";
        std::vector<Drive> drives;
        for (const auto& device : sim::TheFarm().Devices()) {
            if (!device->Present() || !device->IsProductionModel()) {
                continue;
            }
            const std::filesystem::path folder = base / FolderName(device->Config().instance);
            std::error_code error;
            std::filesystem::create_directories(folder, error);
            // A folder that cannot be made is a drive without readable media.
            drives.push_back(
                {platform::drives::kDriveRemovable, error ? std::string() : folder.string()});
        }
        return drives;
    }
};

} // namespace

std::shared_ptr<Backend> MakeDrivesBackend() {
    // The layer keeps the backend for the rest of the process, so this library stays too.
    platform::KeepModuleLoaded(reinterpret_cast<const void*>(&MakeDrivesBackend));
    return std::make_shared<SimBackend>();
}

} // namespace kestrel::sim::backends
