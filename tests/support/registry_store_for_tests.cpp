// Every test program keeps its registry in the registry hive: chosen as the program loads, before
// any test runs, so that no test ever reaches the registry of the machine it runs on (on Linux
// the hive is the only store anyway).
#include "platform/registry/hive_control.h"

namespace {

[[maybe_unused]] const bool g_hiveChosen = kestrel::platform::registry::UseRegistryStore(
    kestrel::platform::registry::RegistryStore::kHive);

} // namespace
