#pragma once
// The patch program of RomPatch.ini: before the Romfs image is written, a device may receive a
// small program into its memory and start it. [General] ItemName and DownloadAddr name the
// sections and the load address; the device's own section (ItemName followed by its boot device
// id, plus 7 for loader class 1) says whether a patch is enabled, its file (beside the program)
// and its entry address.

#include "kestrel/isp_job.h"

#include <cstdint>
#include <string>

namespace kestrel::program {

struct RomPatchEntry {
    std::uint32_t downloadAddr;
    int enable;
    std::uint32_t entryAddr;
    std::string fileName;
};

// Reads the device's entry (asks the device for its boot device id).
RomPatchEntry ReadRomPatch(const IspJob& job);

// Loads the whole file into device memory at address (sub-command 0x01, in 2048-byte
// transfers). 0 when the file was loaded; -1 when it cannot be opened or read (nothing is sent
// then) or when the transfer fails, so that a program that did not arrive whole is never
// started.
int LoadFileToDeviceMemory(const std::string& path, std::uint32_t address, const IspJob& job);

// Loads the device's patch when its entry is enabled and starts it at its entry address
// (sub-command 0x05). Reports nothing: a transport failure has already been shown.
void ApplyRomPatch(const IspJob& job);

} // namespace kestrel::program
