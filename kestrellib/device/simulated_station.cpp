// Any program that loads the library may ask for the simulated station through the environment
// (KESTREL_SIMULATE, KESTREL_SIM_CONFIG), as kestrel and kestrel-cli do: the environment's choice
// becomes the device and drive layers' default when the library is loaded.

#include "sim/backends/environment.h"

namespace {

[[maybe_unused]] const bool kEnvironmentChoiceInstalled = [] {
    kestrel::sim::backends::InstallFromEnvironment();
    return true;
}();

} // namespace
