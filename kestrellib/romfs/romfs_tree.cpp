#include "kestrellib/romfs/romfs_tree.h"

#include "kestrellib/romfs/build_limits.h"
#include "kestrellib/romfs/romfs_format.h"
#include "kestrellib/romfs/romfs_listing.h"

#include "platform/files/files.h"

#include <algorithm>
#include <new>

namespace kestrel::romfs {

namespace {

void CheckPathLength(const std::string& path, bool directory, const BuildLimits& limits,
                     const BuildLog& log) {
    const std::size_t length = path.size() + (directory ? kListingPatternLength : 0);
    if (length > limits.maxPathLength) {
        log.Fatal(kBuildLimitError, "Path too long (%zu characters, at most %zu): %s\n", length,
                  limits.maxPathLength, path.c_str());
    }
}

} // namespace

NodeTree::NodeTree(const std::string& inputDir, const BuildLimits& limits,
                   std::optional<std::int64_t> timeOverride, const BuildLog& log,
                   const std::string& excluded)
    : limits_(limits), log_(log), timeOverride_(timeOverride) {
    std::string rootPath = inputDir + platform::kPathSeparator + ".";
    if (!excluded.empty()) {
        excludedPath_ = rootPath + platform::kPathSeparator + excluded;
        std::replace(excludedPath_.begin() + static_cast<std::ptrdiff_t>(rootPath.size()),
                     excludedPath_.end(), '/', platform::kPathSeparator);
    }
    platform::EntryStatus root;
    if (const int e = platform::ExamineFollowingLinks(rootPath, &root); e != 0) {
        log_.Fatal(kBuildInputError, "stat(%s) failed: %s\n", rootPath.c_str(),
                   platform::ErrorText(e).c_str());
    }
    if (root.kind != platform::EntryKind::kDirectory) {
        log_.Fatal(kBuildInputError, "Input '%s' is not a directory\n", inputDir.c_str());
    }
    CreateNode(std::move(rootPath), root);
    ConstructDirectory(0, 0);
}

std::uint32_t NodeTree::CreateNode(std::string path, const platform::EntryStatus& status) {
    const bool directory = status.kind == platform::EntryKind::kDirectory;
    CheckPathLength(path, directory, limits_, log_);
    if (nodes_.size() == limits_.maxNodes) {
        log_.Fatal(kBuildLimitError, "Too many nodes (more than %u): %s\n", limits_.maxNodes,
                   path.c_str());
    }
    if (!directory && status.size > kMaxFileSize) {
        log_.Fatal(kBuildLimitError, "File too large (%llu bytes, at most %llu): %s\n",
                   static_cast<unsigned long long>(status.size),
                   static_cast<unsigned long long>(kMaxFileSize), path.c_str());
    }
    const std::size_t bytes = sizeof(BuildNode) + path.size();
    BuildNode node;
    node.path = std::move(path);
    node.directory = directory;
    node.size = directory ? 0 : status.size;
    node.timeStamp = static_cast<std::uint32_t>(timeOverride_.value_or(status.changeTime));
    node.number = static_cast<std::uint32_t>(nodes_.size());
    node.linkCount = directory ? 2 : 1;
    try {
        nodes_.push_back(std::move(node));
    } catch (const std::bad_alloc&) {
        log_.Fatal(kBuildOutOfMemory, "Out of memory allocating %d bytes\n",
                   static_cast<int>(bytes));
    }
    return nodes_.back().number;
}

void NodeTree::AppendEntry(std::uint32_t dir, const std::string& name, std::uint32_t number) {
    BuildNode& node = nodes_[dir];
    const std::size_t newSize = node.table.size() + EntrySize(name.size());
    try {
        node.size = AppendDirEntry(node.table, number, name);
    } catch (const std::bad_alloc&) {
        log_.Fatal(kBuildOutOfMemory, "Out of memory re-allocating %d bytes\n",
                   static_cast<int>(newSize));
    }
    if (log_.Shows(3)) {
        log_.Line(3, "\t%s --> node %d\n", name.c_str(), static_cast<int>(number));
    }
}

void NodeTree::ConstructDirectory(std::uint32_t dir, std::uint32_t parent) {
    std::vector<ListedEntry> listing;
    if (!ListDirectory(nodes_[dir].path, limits_, log_, &listing)) {
        return; // the directory keeps size 0 and no entries at all
    }
    log_.Line(4, "Construct directory '%s'(%d):\n", nodes_[dir].path.c_str(),
              static_cast<int>(dir));
    AppendEntry(dir, ".", dir);
    AppendEntry(dir, "..", parent);
    nodes_[dir].members.reserve(listing.size());
    for (ListedEntry& entry : listing) {
        std::string path = nodes_[dir].path + platform::kPathSeparator + entry.name;
        if (!excludedPath_.empty() && path == excludedPath_) {
            continue;
        }
        const std::uint32_t number = CreateNode(std::move(path), entry.status);
        AppendEntry(dir, entry.name, number);
        log_.Line(4, "\t\tNew node %d for entry '%s'\n", static_cast<int>(number),
                  entry.name.c_str());
        nodes_[dir].members.push_back(number);
    }
    log_.Line(4, "Completed '%s'. Checking for child directories...\n", nodes_[dir].path.c_str());
    // Depth-first; the path limit bounds the depth to about 500 levels.
    for (std::size_t i = 0; i < nodes_[dir].members.size(); ++i) {
        const std::uint32_t member = nodes_[dir].members[i];
        if (nodes_[member].directory) {
            ++nodes_[dir].linkCount;
            ConstructDirectory(member, dir);
        }
    }
}

} // namespace kestrel::romfs
