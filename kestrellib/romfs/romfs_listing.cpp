#include "kestrellib/romfs/romfs_listing.h"

#include "kestrellib/romfs/build_limits.h"
#include "kestrellib/romfs/romfs_format.h"

#include <algorithm>
#include <unordered_map>

namespace kestrel::romfs {

namespace {

unsigned char Upper(unsigned char c) {
    return c >= 'a' && c <= 'z' ? static_cast<unsigned char>(c - 'a' + 'A') : c;
}

} // namespace

bool IsDroppedName(std::string_view name) {
    return name.find("svn") != std::string_view::npos;
}

bool ListedBefore(std::string_view a, std::string_view b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char x = Upper(static_cast<unsigned char>(a[i]));
        const unsigned char y = Upper(static_cast<unsigned char>(b[i]));
        if (x != y) {
            return x < y;
        }
    }
    if (a.size() != b.size()) {
        return a.size() < b.size();
    }
    return a < b;
}

bool ListDirectory(const std::string& path, const BuildLimits& limits, const BuildLog& log,
                   std::vector<ListedEntry>* out) {
    out->clear();
    platform::DirectoryReader reader;
    if (const int e = reader.Open(path); e != 0) {
        log.Message("%s: %s\n", path.c_str(), platform::ErrorText(e).c_str());
        return false;
    }
    std::string name;
    int error = 0;
    while (reader.Next(&name, &error)) {
        if (IsDroppedName(name)) {
            continue;
        }
        // Formed only for a message: most entries never need their path here.
        const auto entryPath = [&] { return path + platform::kPathSeparator + name; };
        if (name.size() > limits.maxNameLength) {
            log.Fatal(kBuildLimitError, "Name too long (%zu bytes, at most %zu): %s\n", name.size(),
                      limits.maxNameLength, entryPath().c_str());
        }
        ListedEntry entry;
        if (const int e = reader.Examine(name, &entry.status); e != 0) {
            log.Fatal(kBuildInputError, "stat(%s) failed: %s\n", entryPath().c_str(),
                      platform::ErrorText(e).c_str());
        }
        if (entry.status.kind == platform::EntryKind::kOther) {
            log.Message("Skipping '%s': neither a regular file nor a directory\n",
                        entryPath().c_str());
            continue;
        }
        if (out->size() == limits.maxMembers) {
            log.Fatal(kBuildLimitError, "Too many names in directory '%s': more than %zu\n",
                      path.c_str(), limits.maxMembers);
        }
        entry.name = std::move(name);
        out->push_back(std::move(entry));
    }
    if (error != 0) {
        // A listing that breaks off is treated like one that cannot be opened: reported, and the
        // directory stays empty rather than holding a part of its entries.
        log.Message("%s: %s\n", path.c_str(), platform::ErrorText(error).c_str());
        out->clear();
        return false;
    }
    std::sort(out->begin(), out->end(), [](const ListedEntry& a, const ListedEntry& b) {
        const bool aDir = a.status.kind == platform::EntryKind::kDirectory;
        const bool bDir = b.status.kind == platform::EntryKind::kDirectory;
        if (aDir != bDir) {
            return aDir;
        }
        return ListedBefore(a.name, b.name);
    });
    // On a case-sensitive host two names may differ only in case; the image stores both under
    // one upper-cased name, and a lookup finds the first.
    std::unordered_map<std::string, const std::string*> stored;
    for (const ListedEntry& entry : *out) {
        const auto [it, added] = stored.emplace(StoredName(entry.name), &entry.name);
        if (!added) {
            log.Message("Warning: '%s' and '%s' in '%s' are both stored as '%s'\n",
                        it->second->c_str(), entry.name.c_str(), path.c_str(), it->first.c_str());
        }
    }
    return true;
}

} // namespace kestrel::romfs
