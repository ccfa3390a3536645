#pragma once
// KESTREL_SIM_API marks the C++ interface of KestrelSim, the shared library of the simulated
// devices. The farm of simulated devices is process-wide: the programs, their tests and
// Kestrellib all reach the one instance inside KestrelSim. Same policy as KestrelPlatform
// (platform/export.h): exported while KestrelSim is built (KESTREL_SIM_BUILD), imported
// everywhere else, hidden unless marked.

#include "platform/export.h"

#if defined(KESTREL_SIM_BUILD)
#define KESTREL_SIM_API KESTREL_DLL_EXPORT
#else
#define KESTREL_SIM_API KESTREL_DLL_IMPORT
#endif
