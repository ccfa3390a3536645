#pragma once
// The workspace's INI files checked value by value, as an engineer edits them: every value the
// station reads is held against its key's type and range, and every line the reader would skip
// or misplace is named. Each finding reads "file:line: key: value: what is expected". A finding
// is a failure when the value changes what is written to a device (isp.ini's run settings,
// config.ini, profile.ini, RomPatch.ini's patch settings) and a note otherwise. The files are
// read as the profile reader reads them (first section and first key win), so the line named is
// the one a run uses.

#include <string>
#include <vector>

namespace kestrel::station {

struct IniFinding {
    bool failed = false;
    std::string text;
};

// Checks isp.ini, config.ini, profile.ini and RomPatch.ini of the home directory for a run of
// the given mode (1 boot code, 2 resources, 3 both): config.ini and the Dram type only when the
// boot code is written, RomPatch.ini only when resources are. Only files that exist are
// checked (a missing file is the caller's to report); a directory or FIFO in a file's place is
// a failure here.
std::vector<IniFinding> CheckIniValues(int mode);

} // namespace kestrel::station
