#pragma once
// The station's library table bound to the real Kestrellib exports, for the front ends (the
// window and the command line). Tests of the run substitute single entries of the result.

#include "app/station/station_library.h"

namespace kestrel::station {

// Every entry of StationLibrary bound to its Kestrellib export. requestStop(true) asks every
// device's procedures to stop (Kestrel_RequestStop for all devices); requestStop(false) clears
// the requests.
StationLibrary KestrellibBinding();

} // namespace kestrel::station
