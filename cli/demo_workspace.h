#pragma once
// The demo workspace: a complete sample workspace that can serve as KESTREL_HOME: isp.ini,
// config.ini with option items and clock entries, RomPatch.ini with a small patch, a boot code
// package with records for every hardware tag, a resource tree whose firmware image is wrapped
// from a generated ELF file, its ROMFS image built with the builder, and devices.ini describing
// eight simulated devices. kestrel-cli demo-workspace writes it; benchmarks write one too.

#include <cstdint>
#include <string>

namespace kestrel::cli {

struct DemoWorkspaceOptions {
    std::string dir;                 // created when missing
    std::uint32_t bootKib = 160;     // application block of each boot image
    std::uint32_t firmwareKib = 256; // ELF text + data
    std::uint32_t fillerKib = 512;   // other resource files
    int romfsMb = 8;                 // [Romfs] maxsize of isp.ini
    bool force = false;              // overwrite a workspace already in dir
};

// Writes the workspace into options.dir. Its INI files name every file relative to that
// directory, so the workspace can be copied or moved as a whole. A directory that already holds
// a workspace's INI files is left untouched unless options.force is set. False with the reason
// in `error` when the directory holds a workspace, a file could not be written or an image
// could not be built.
bool WriteDemoWorkspace(const DemoWorkspaceOptions& options, std::string& error);

} // namespace kestrel::cli
