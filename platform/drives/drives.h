#pragma once
// Drives: the drive letters D: to Z: as the demo copy sees them (GetDriveType and
// GetDiskFreeSpaceEx), and the directory through which a drive's files are reached.
//
// A root is named "X:\" as on Windows ("X:" and "X:/" are taken as well). A backend lists the
// drives it offers and this layer gives them the letters D:, E:, ... in the backend's order, so a
// drive keeps its letter as long as the drives before it stay:
//   - linux.cpp: the mounted file systems of removable block devices, ordered by device number
//     (docs/drives.md);
//   - sim.cpp: folders offered as drives, either given by the caller or one per present
//     simulated device of the production model.
// The backend is chosen once per process (KESTREL_SIMULATE or KESTREL_SIM_CONFIG select the
// simulated devices' folders); tests may install one of their own. Every call asks the backend
// anew; nothing is cached. All calls may be made from any thread.

#include "platform/export.h"
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel::platform::drives {

// Drive types, numbered as GetDriveType returns them.
inline constexpr unsigned kDriveUnknown = 0;
inline constexpr unsigned kDriveNoRootDir = 1; // no drive has this letter
inline constexpr unsigned kDriveRemovable = 2;
inline constexpr unsigned kDriveFixed = 3;
inline constexpr unsigned kDriveRemote = 4;
inline constexpr unsigned kDriveCdrom = 5;
inline constexpr unsigned kDriveRamdisk = 6;

inline constexpr char kFirstLetter = 'D';
inline constexpr char kLastLetter = 'Z';
inline constexpr int kLetterCount = kLastLetter - kFirstLetter + 1; // 23

struct FreeSpace {
    std::uint64_t freeToCaller = 0;
    std::uint64_t total = 0;
    std::uint64_t free = 0;
};

// One drive a backend offers.
struct Drive {
    unsigned type = kDriveRemovable;
    // Where the drive's files are reached (mount point, folder); empty when the drive holds no
    // readable media.
    std::string directory;
};

// "X:\" for a letter.
KESTREL_PLATFORM_API std::string RootOf(char letter);

// The letter a root names, upper case, or 0 when root is not of the form "X:", "X:\" or "X:/".
KESTREL_PLATFORM_API char LetterOf(std::string_view root);

// GetDriveType: the type of the drive at root; kDriveNoRootDir when no drive has the letter or
// root is malformed.
KESTREL_PLATFORM_API unsigned DriveType(std::string_view root);

// GetDiskFreeSpaceEx: true, filling space (may be null), when the drive's file system answers,
// that is when it holds readable media.
KESTREL_PLATFORM_API bool DiskFreeSpace(std::string_view root, FreeSpace* space);

// The directory through which the files of the drive at root are reached, ending without a
// separator; empty when no drive has the letter or it holds no readable media.
KESTREL_PLATFORM_API std::string RootDirectory(std::string_view root);

// ---------------------------------------------------------------------------------------------
// Backends.

class KESTREL_PLATFORM_API Backend {
public:
    virtual ~Backend() = default;
    virtual const char* Name() const = 0;
    // The drives in letter order from D:; entries past the 23rd get no letter. Called on any
    // thread, possibly on several at once.
    virtual std::vector<Drive> List() = 0;
};

// The backend in use: the one installed last, or on first use the default factory's.
KESTREL_PLATFORM_API std::shared_ptr<Backend> CurrentBackend();
// Installs a backend (tests, simulation).
KESTREL_PLATFORM_API void UseBackend(std::shared_ptr<Backend> backend);

// The factory CurrentBackend calls on first use when no backend was installed: the platform's
// real drives unless a layer above sets another (the simulated station sets one that reads the
// environment). Null restores the real drives.
using BackendFactory = std::shared_ptr<Backend> (*)();
KESTREL_PLATFORM_API void SetDefaultBackendFactory(BackendFactory factory);

// A folder offered as a drive.
struct FolderDrive {
    std::string folder;
    unsigned type = kDriveRemovable;
    bool mediaPresent = true;
};

// Offers the folders, in order, as D:, E:, ...
KESTREL_PLATFORM_API std::shared_ptr<Backend> MakeFolderBackend(std::vector<FolderDrive> folders);

// The platform's real drives: on Linux the mounted removable file systems
// (/proc/self/mountinfo and /sys), on Windows the real drive letters D: to Z:.
KESTREL_PLATFORM_API std::shared_ptr<Backend> MakeSystemBackend();

#if !defined(_WIN32)
// Mounted removable file systems (/proc/self/mountinfo and /sys).
KESTREL_PLATFORM_API std::shared_ptr<Backend> MakeLinuxBackend();
#endif

} // namespace kestrel::platform::drives
