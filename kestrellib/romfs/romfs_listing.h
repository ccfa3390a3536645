#pragma once
// Listing a host directory for the image. Names containing "svn" (case-sensitive: ".svn" and
// "svnlog.txt" go, "SVN" stays) are dropped with everything below them. Entries that are
// neither directories nor regular files (symbolic links, devices, pipes, sockets) are skipped
// with a warning: a link is never followed, so nothing outside the tree gets into the image.
//
// The order is fixed so that the same tree gives the same image on any host: subdirectories
// first, then the other entries, each group in the case-insensitive order of a Windows file
// system's directory index (names compared with a-z as A-Z, byte by byte; names equal that way
// are ordered by their bytes).

#include "kestrellib/romfs/build_limits.h"
#include "kestrellib/romfs/build_log.h"

#include "platform/files/files.h"

#include <string>
#include <string_view>
#include <vector>

namespace kestrel::romfs {

struct ListedEntry {
    std::string name;
    platform::EntryStatus status;
};

bool IsDroppedName(std::string_view name);

// Whether a goes before b inside one group of a listing.
bool ListedBefore(std::string_view a, std::string_view b);

// Lists path. When the directory cannot be opened, prints "<path>: <error text>" and returns
// false. An entry that cannot be examined is fatal ("stat(%s) failed: %s\n", status 3); a tree
// beyond the limits is fatal with status 6.
bool ListDirectory(const std::string& path, const BuildLimits& limits, const BuildLog& log,
                   std::vector<ListedEntry>* out);

} // namespace kestrel::romfs
