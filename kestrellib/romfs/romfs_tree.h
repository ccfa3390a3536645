#pragma once
// Phase 1 of a build: the node tree of a host directory tree. Node 0 is the root; the members
// of a directory are numbered consecutively in their listing order, and the directories are
// numbered depth-first, so a node's number is its index in Nodes().

#include "kestrellib/romfs/build_limits.h"
#include "kestrellib/romfs/build_log.h"

#include "platform/files/files.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestrel::romfs {

struct BuildNode {
    std::string path;       // parent's path, the separator and the name; the root's ends in "."
    std::uint64_t size = 0; // file: its length; directory: its table's length
    bool directory = false;
    std::uint32_t timeStamp = 0; // low 32 bits of the entry's status-change time
    std::uint32_t number = 0;
    std::uint32_t linkCount = 1;
    std::vector<unsigned char> table;   // directory: its entries
    std::vector<std::uint32_t> members; // directory: member node numbers in table order
    std::uint64_t reservedSize = 0;     // set in phase 2
    std::uint64_t dataOffset = 0;       // set in phase 2
};

class NodeTree {
public:
    // Builds the tree of inputDir. timeOverride, when set, replaces every entry's time stamp.
    // An entry whose path below inputDir is excluded ('/'-separated, e.g. the image being
    // written into its own tree) is left out. Fatal errors (unreadable entries, limits) end the
    // build through log.
    NodeTree(const std::string& inputDir, const BuildLimits& limits,
             std::optional<std::int64_t> timeOverride, const BuildLog& log,
             const std::string& excluded = {});

    const std::vector<BuildNode>& Nodes() const { return nodes_; }
    std::vector<BuildNode>& Nodes() { return nodes_; }

private:
    std::uint32_t CreateNode(std::string path, const platform::EntryStatus& status);
    void ConstructDirectory(std::uint32_t dir, std::uint32_t parent);
    void AppendEntry(std::uint32_t dir, const std::string& name, std::uint32_t number);

    const BuildLimits& limits_;
    const BuildLog& log_;
    std::optional<std::int64_t> timeOverride_;
    std::string excludedPath_; // host path of the excluded entry, as CreateNode sees it
    std::vector<BuildNode> nodes_;
};

} // namespace kestrel::romfs
