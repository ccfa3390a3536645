// libFuzzer target: any bytes as a ROMFS image given to `romfs extract`. The plan must name each
// node once, every item by a plain name below a directory planned before it; an image that
// passes the plan is extracted into a fresh folder inside this process's scratch folder (under
// TMPDIR, removed at exit), which must then hold exactly what the plan lists, and a failed
// extraction must leave nothing behind.
#include "kestrellib/romfs/romfs_extract.h"
#include "kestrellib/romfs/romfs_reader.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// This process's scratch folder, made on first use and removed with everything in it at exit.
class ScratchFolder {
public:
    ScratchFolder() {
        std::string pattern = (fs::temp_directory_path() / "romfs-extract-fuzz.XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        path_ = pattern;
    }
    ~ScratchFolder() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path& Path() const { return path_; }

private:
    fs::path path_;
};

void CheckPlan(const kestrel::romfs::RomfsImage& image,
               const std::vector<kestrel::romfs::ExtractItem>& plan) {
    std::set<std::uint32_t> nodes{0};
    std::set<std::string> directories{""};
    for (const auto& item : plan) {
        const std::size_t slash = item.path.rfind('/');
        const std::string parent = slash == std::string::npos ? "" : item.path.substr(0, slash);
        const std::string name =
            slash == std::string::npos ? item.path : item.path.substr(slash + 1);
        if (!kestrel::romfs::IsPlainEntryName(name) || directories.count(parent) == 0 ||
            item.node >= image.NodeCount() || !nodes.insert(item.node).second ||
            item.directory != kestrel::romfs::RomfsImage::IsDirectory(image.Node(item.node))) {
            std::abort();
        }
        if (item.directory) {
            directories.insert(item.path);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kestrel::romfs;
    static const ScratchFolder scratch;
    std::string error;
    const auto image = RomfsImage::Parse(std::vector<unsigned char>(data, data + size), &error);
    if (!image) {
        return 0;
    }
    std::vector<ExtractItem> plan;
    if (!PlanExtraction(*image, &plan, &error)) {
        return 0;
    }
    CheckPlan(*image, plan);

    const fs::path target = scratch.Path() / "image";
    std::error_code ec;
    if (!ExtractImage(*image, target.string(), &error)) {
        if (fs::exists(target, ec)) {
            std::abort(); // a failed extraction leaves what it made
        }
        return 0;
    }
    std::map<std::string, bool> planned; // path, directory
    for (const ExtractItem& item : plan) {
        planned[item.path] = item.directory;
    }
    std::size_t found = 0;
    for (auto it = fs::recursive_directory_iterator(target, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const std::string relative = it->path().lexically_relative(target).generic_string();
        const auto entry = planned.find(relative);
        if (it->is_symlink() || entry == planned.end() || entry->second != it->is_directory()) {
            std::abort(); // written outside the plan
        }
        ++found;
    }
    if (ec || found != planned.size()) {
        std::abort();
    }
    fs::remove_all(target, ec);
    return 0;
}
