#include "app/station/usbstor_cleanup.h"

#include "platform/devices/usbstor_path.h"
#include "vantordll/registry_helpers.h"

namespace kestrel::station {

std::vector<std::string> ClearUsbStorRegistry() {
    const KStringList list = GetRegDir(kUsbStorKey, platform::registry::kHkeyLocalMachine);
    std::vector<std::string> deleted;
    for (int i = 0; i < list.GetCount(); ++i) {
        const std::string name = list.GetString(i);
        if (platform::devices::ToUpperAscii(name).find(kProductionDiskPattern) ==
            std::string::npos) {
            continue;
        }
        std::string path = std::string(kUsbStorKey) + "\\" + name;
        DelRegDir(path.c_str());
        deleted.push_back(std::move(path));
    }
    return deleted;
}

} // namespace kestrel::station
