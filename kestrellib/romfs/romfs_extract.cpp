#include "kestrellib/romfs/romfs_extract.h"

#include "platform/files/files.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace kestrel::romfs {
namespace {

namespace fs = std::filesystem;

bool Fail(std::string* error, std::string text) {
    if (error != nullptr) {
        *error = std::move(text);
    }
    return false;
}

// What an extraction has made, removed again unless it completes.
class MadePaths {
public:
    ~MadePaths() {
        if (keep_) {
            return;
        }
        std::error_code ec;
        for (auto it = made_.rbegin(); it != made_.rend(); ++it) {
            fs::remove(*it, ec); // a directory is empty by now: its members went first
        }
    }
    void Add(fs::path path) { made_.push_back(std::move(path)); }
    void Keep() { keep_ = true; }

private:
    std::vector<fs::path> made_;
    bool keep_ = false;
};

bool WriteItemFile(const RomfsImage& image, const ExtractItem& item, const fs::path& path,
                   MadePaths& made, std::string* error) {
    std::vector<unsigned char> content;
    std::string why;
    if (!image.ReadFile(item.node, &content, &why)) {
        return Fail(error, "/" + item.path + ": " + why);
    }
    std::error_code ec;
    if (fs::symlink_status(path, ec).type() != fs::file_type::not_found) {
        return Fail(error, path.string() + ": already exists (two entries of one name?)");
    }
    platform::File out;
    if (const int e = out.Create(path.string()); e != 0) {
        return Fail(error, path.string() + ": cannot be created: " + platform::ErrorText(e));
    }
    made.Add(path);
    int e = out.WriteAt(0, content.data(), content.size());
    if (const int closed = out.Close(); e == 0) {
        e = closed;
    }
    if (e != 0) {
        return Fail(error, path.string() + ": cannot be written: " + platform::ErrorText(e));
    }
    return true;
}

} // namespace

bool IsPlainEntryName(const std::string& name) {
    if (name.empty() || name == "." || name == "..") {
        return false;
    }
    for (const char c : name) {
        if (c == '/' || c == '\\' || c == ':' || c == '\0') {
            return false;
        }
    }
    return true;
}

bool PlanExtraction(const RomfsImage& image, std::vector<ExtractItem>* plan, std::string* error) {
    plan->clear();
    std::string why;
    if (!image.Check(&why)) {
        return Fail(error, "the image fails its check: " + why);
    }
    const std::uint32_t count = image.NodeCount();
    std::vector<bool> reached(count, false);
    reached[0] = true;
    struct Pending {
        std::uint32_t node;
        std::string path;
    };
    std::vector<Pending> pending{{0, ""}};
    std::vector<RomfsListEntry> entries;
    // Each node is taken once: the walk ends after at most count directories and count items.
    while (!pending.empty()) {
        const Pending dir = std::move(pending.back());
        pending.pop_back();
        if (!image.List(dir.node, &entries, &why)) {
            return Fail(error, "/" + dir.path + ": " + why);
        }
        const std::size_t firstChild = pending.size();
        for (std::size_t k = 0; k < entries.size(); ++k) {
            const RomfsListEntry& entry = entries[k];
            if (k < 2 && entry.name == (k == 0 ? "." : "..")) {
                continue;
            }
            const std::string path = dir.path.empty() ? entry.name : dir.path + "/" + entry.name;
            if (!IsPlainEntryName(entry.name)) {
                return Fail(error, "/" + path +
                                       ": not a plain name (a separator, '..', an "
                                       "absolute path or a drive letter): refusing to extract it");
            }
            if (entry.node >= count || reached[entry.node]) {
                return Fail(error, "/" + path + ": node " + std::to_string(entry.node) +
                                       " is reached a second time: refusing the image");
            }
            reached[entry.node] = true;
            const bool directory = RomfsImage::IsDirectory(image.Node(entry.node));
            plan->push_back({path, entry.node, directory});
            if (directory) {
                pending.push_back({entry.node, path});
            }
        }
        // Subdirectories in table order.
        std::reverse(pending.begin() + static_cast<std::ptrdiff_t>(firstChild), pending.end());
    }
    return true;
}

bool ExtractImage(const RomfsImage& image, const std::string& target, std::string* error) {
    std::vector<ExtractItem> plan;
    if (!PlanExtraction(image, &plan, error)) {
        return false;
    }
    MadePaths made;
    const fs::path root(target);
    std::error_code ec;
    const fs::file_status status = fs::status(root, ec);
    if (status.type() == fs::file_type::not_found) {
        // The target and any missing parents, outermost first; all removed again on failure.
        std::vector<fs::path> missing;
        for (fs::path p = root; !p.empty() && p != p.root_path() &&
                                fs::symlink_status(p, ec).type() == fs::file_type::not_found;
             p = p.parent_path()) {
            missing.push_back(p);
        }
        for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
            if (!fs::create_directory(*it, ec)) {
                return Fail(error, it->string() + ": cannot be created: " +
                                       (ec ? ec.message() : "it appeared meanwhile"));
            }
            made.Add(*it);
        }
    } else if (ec) {
        return Fail(error, target + ": " + ec.message());
    } else if (status.type() != fs::file_type::directory) {
        return Fail(error, target + ": exists and is not a directory");
    } else if (!fs::is_empty(root, ec) || ec) {
        return Fail(error, target + ": is not empty; an image is extracted only into a new or "
                                    "empty directory");
    }
    for (const ExtractItem& item : plan) {
        const fs::path path = root / fs::path(item.path, fs::path::generic_format);
        if (item.directory) {
            if (!fs::create_directory(path, ec)) {
                return Fail(error, path.string() + ": cannot be created: " +
                                       (ec ? ec.message() : "it already exists"));
            }
            made.Add(path);
        } else if (!WriteItemFile(image, item, path, made, error)) {
            return false;
        }
    }
    made.Keep();
    return true;
}

} // namespace kestrel::romfs
