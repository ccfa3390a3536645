// A library for the keep-loaded test: it asks to be kept loaded when told to.
#include "platform/modules/keep_loaded.h"

#if defined(_WIN32)
#define KESTREL_PROBE_API extern "C" __declspec(dllexport)
#else
#define KESTREL_PROBE_API extern "C" __attribute__((visibility("default")))
#endif

KESTREL_PROBE_API int KeepProbeLoaded() {
    return kestrel::platform::KeepModuleLoaded(reinterpret_cast<const void*>(&KeepProbeLoaded)) ? 1
                                                                                                : 0;
}
