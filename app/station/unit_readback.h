#pragma once
// Reading a unit back after it was programmed: its boot area and resource areas are read through
// the vendor page-read command (the same on real and simulated devices) and decoded by the
// device-side readers, then compared bit for bit with the files the run wrote. A device that
// could not be read back is told apart from one whose content differs. kestrel-cli verify reads
// every device this way, and a run with read-back after programming (isp.ini [General]
// VerifyAfterIsp, kestrel-cli isp --verify) reads each unit it called ok.

#include <string>

namespace kestrel::station {

struct ReadBackFiles {
    int mode = 3;       // 1 boot code, 2 resources, 3 both
    std::string boot;   // the boot image the unit was given
    std::string romfs;  // written when writeRomfs (and into the backup area when dual)
    std::string romfs1; // written when writeRomfs1
    bool writeRomfs = false;
    bool dual = false;
    bool writeRomfs1 = false;
};

struct ReadBackResult {
    bool identical = false;
    std::string text; // "boot ok; romfs ok; ..." or the reasons, area by area
};

// Reads device `index` back through handle. Uses the device's entries of the library's
// per-device tables, so it must not run while that device's worker does. An empty files.boot in
// modes 1 and 3 stands for a device the run had no boot image for.
ReadBackResult ReadBackUnit(int index, void* handle, const ReadBackFiles& files);

} // namespace kestrel::station
