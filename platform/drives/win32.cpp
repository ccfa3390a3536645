// The Windows drives backend: the real drive letters D: to Z:, each with the type Windows gives
// it. A letter that names no drive keeps its place in the list as kDriveNoRootDir, so that every
// drive keeps its own letter.

#include "platform/drives/drives.h"

#include <windows.h>

namespace kestrel::platform::drives {
namespace {

class WindowsBackend : public Backend {
public:
    const char* Name() const override { return "windows"; }

    std::vector<Drive> List() override {
        std::vector<Drive> drives;
        const DWORD present = ::GetLogicalDrives();
        for (char letter = kFirstLetter; letter <= kLastLetter; ++letter) {
            Drive drive;
            drive.type = kDriveNoRootDir;
            if ((present & (1u << (letter - 'A'))) != 0) {
                const std::string root = RootOf(letter);
                drive.type = ::GetDriveTypeA(root.c_str());
                if (drive.type != kDriveNoRootDir && drive.type != kDriveUnknown) {
                    drive.directory = root;
                }
            }
            drives.push_back(std::move(drive));
        }
        while (!drives.empty() && drives.back().type == kDriveNoRootDir) {
            drives.pop_back();
        }
        return drives;
    }
};

} // namespace

std::shared_ptr<Backend> MakeSystemBackend() {
    return std::make_shared<WindowsBackend>();
}

} // namespace kestrel::platform::drives
