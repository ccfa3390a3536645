// The folder drives backend: folders the caller names, offered as drives.

#include "platform/drives/drives.h"

#include <utility>

namespace kestrel::platform::drives {
namespace {

class FolderBackend final : public Backend {
public:
    explicit FolderBackend(std::vector<FolderDrive> folders) : folders_(std::move(folders)) {}

    const char* Name() const override { return "folders"; }

    std::vector<Drive> List() override {
        std::vector<Drive> drives;
        for (const FolderDrive& folder : folders_) {
            drives.push_back({folder.type, folder.mediaPresent ? folder.folder : std::string()});
        }
        return drives;
    }

private:
    const std::vector<FolderDrive> folders_;
};

} // namespace

std::shared_ptr<Backend> MakeFolderBackend(std::vector<FolderDrive> folders) {
    return std::make_shared<FolderBackend>(std::move(folders));
}

} // namespace kestrel::platform::drives
