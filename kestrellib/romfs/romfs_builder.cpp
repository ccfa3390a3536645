#include "kestrellib/romfs/romfs_builder.h"

#include "kestrellib/program/config_files.h"
#include "kestrellib/romfs/build_limits.h"
#include "kestrellib/romfs/build_log.h"
#include "kestrellib/romfs/image_writer.h"
#include "kestrellib/romfs/romfs_format.h"
#include "kestrellib/romfs/romfs_tree.h"
#include "kestrellib/romfs/temporary_file.h"

#include "outside/kzip/kzip.h"
#include "platform/files/file_identity.h"
#include "platform/files/files.h"

#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <new>
#include <optional>
#include <vector>

namespace kestrel::romfs {

namespace {

std::optional<std::int64_t> SourceDateEpoch(const BuildLog& log) {
    const char* text = std::getenv("SOURCE_DATE_EPOCH");
    if (text == nullptr || *text == '\0') {
        return std::nullopt;
    }
    char* end = nullptr;
    const long long seconds = std::strtoll(text, &end, 10);
    if (*end != '\0' || seconds < 0) {
        log.Message("Ignoring SOURCE_DATE_EPOCH=%s: not a number of seconds\n", text);
        return std::nullopt;
    }
    return seconds;
}

// Phase 2: gives every directory and then every file its place; returns the image size and
// fills the order in which phase 3 writes the items.
std::uint64_t AllocateSpace(std::vector<BuildNode>& nodes, std::vector<std::uint32_t>* order,
                            const BuildLog& log) {
    const std::uint64_t tableEnd = NodeRecordOffset(nodes.size());
    log.Line(1, "Phase 2  - Calculate space allocation\n");
    log.Line(1, "\t\tnode table : 0x000000 (+0x%05lX) %d nodes\n", static_cast<long>(tableEnd),
             static_cast<int>(nodes.size()));
    std::uint64_t offset = tableEnd;
    order->clear();
    order->reserve(nodes.size());
    auto place = [&](BuildNode& node) {
        node.dataOffset = offset;
        node.reservedSize = RoundUp32(node.size);
        offset += node.reservedSize;
        order->push_back(node.number);
    };
    log.Line(2, "Phase 2a -     * Directories 0x%x\n", static_cast<unsigned>(offset));
    offset = RoundUp32(offset);
    for (BuildNode& node : nodes) {
        if (node.directory) {
            place(node);
            log.Line(3, "\t\tnode %5d : 0x%06lX (+0x%05X)\n", static_cast<int>(node.number),
                     static_cast<long>(node.dataOffset), static_cast<unsigned>(node.reservedSize));
        }
    }
    log.Line(2, "Phase 2b -     * Regular files 0x%x\n", static_cast<unsigned>(offset));
    offset = RoundUp32(offset);
    log.Line(2, "Phase 2c -     * Executable files 0x%x\n", static_cast<unsigned>(offset));
    offset = RoundUp32(offset);
    for (BuildNode& node : nodes) {
        if (!node.directory) {
            place(node);
        }
    }
    const std::uint64_t imageSize = RoundUp32(offset);
    if (imageSize > kMaxImageSize) {
        log.Fatal(kBuildLimitError, "Image too large (%llu bytes, at most %llu)\n",
                  static_cast<unsigned long long>(imageSize),
                  static_cast<unsigned long long>(kMaxImageSize));
    }
    log.Line(1, "Phase 3  - Construct ROMFS image file (%ld kb) 0x%x\n",
             static_cast<long>((imageSize + 1023) / 1024), static_cast<unsigned>(imageSize));
    return imageSize;
}

RomfsNodeRecord RecordOf(const BuildNode& node) {
    RomfsNodeRecord record;
    record.mode = node.directory ? kModeDirectory : kModeFile;
    record.linkCount = node.linkCount;
    record.size = static_cast<std::uint32_t>(node.size);
    record.timeStamp = node.timeStamp;
    record.dataOffset = static_cast<std::uint32_t>(node.dataOffset);
    FormatNodeLabel(node.number, record.label);
    return record;
}

// The node table in tree order: the root, a directory's members, then each member directory's
// members in turn. The order must come out as the node numbers; anything else is a fault of
// phase 1.
class NodeTableWriter {
public:
    NodeTableWriter(const std::vector<BuildNode>& nodes, const BuildLog& log)
        : nodes_(nodes), log_(log), table_(nodes.size() * kNodeRecordSize) {}

    const std::vector<unsigned char>& Build() {
        Emit(0);
        Members(0);
        if (count_ != nodes_.size()) {
            log_.Fatal(kBuildInternalError, "BUG: Lost/gained some nodes; wrote %d, expected %d\n",
                       static_cast<int>(count_), static_cast<int>(nodes_.size()));
        }
        return table_;
    }

private:
    void Emit(std::uint32_t number) {
        if (number != count_ || count_ >= nodes_.size()) {
            log_.Fatal(kBuildInternalError,
                       "BUG: Out of sequence node number; got %d, expected %d\n",
                       static_cast<int>(number), static_cast<int>(count_));
        }
        StoreNodeRecord(RecordOf(nodes_[number]), table_.data() + count_ * kNodeRecordSize);
        ++count_;
    }

    void Members(std::uint32_t dir) {
        for (const std::uint32_t member : nodes_[dir].members) {
            Emit(member);
        }
        for (const std::uint32_t member : nodes_[dir].members) {
            if (nodes_[member].directory) {
                Members(member);
            }
        }
    }

    const std::vector<BuildNode>& nodes_;
    const BuildLog& log_;
    std::vector<unsigned char> table_;
    std::size_t count_ = 0;
};

void WriteHeaderAndNodeTable(const platform::File& out, const std::vector<BuildNode>& nodes,
                             std::uint64_t imageSize, const ImageRequest& request,
                             const BuildLog& log) {
    log.Line(2, "Phase 3a -     * Node table\n");
    RomfsHeader header;
    header.nodeCount = static_cast<std::uint32_t>(nodes.size());
    header.imageSize = static_cast<std::uint32_t>(imageSize);
    header.versionWord = request.versionWord;
    std::memcpy(header.volumeName, request.volumeName.data(),
                std::min(request.volumeName.size(), kVolumeNameSize));
    unsigned char bytes[kHeaderSize];
    StoreHeader(header, bytes);
    if (const int e = out.WriteAt(0, bytes, sizeof bytes); e != 0) {
        log.Fatal(kBuildOutputError, "Error writing ROMFS header: %s\n",
                  platform::ErrorText(e).c_str());
    }
    NodeTableWriter tableWriter(nodes, log);
    const std::vector<unsigned char>& table = tableWriter.Build();
    std::size_t written = 0;
    if (const int e = out.WriteAt(kHeaderSize, table.data(), table.size(), &written); e != 0) {
        const std::size_t node = written / kNodeRecordSize;
        log.Fatal(kBuildOutputError, "Error writing node %d (%s): %s\n", static_cast<int>(node),
                  nodes[node].path.c_str(), platform::ErrorText(e).c_str());
    }
}

void SeekOrFail(ImageWriter& writer, std::uint64_t offset, const BuildLog& log) {
    if (writer.SeekTo(offset) != 0) {
        log.Fatal(kBuildSeekError, "Error seeking to offset 0x%lX: %s\n", static_cast<long>(offset),
                  "it lies before data already written");
    }
}

void WriteDataBlocks(const platform::File& out, const std::vector<BuildNode>& nodes,
                     const std::vector<std::uint32_t>& order, const BuildLog& log) {
    log.Line(2, "Phase 3b -     * Data blocks\n");
    ImageWriter writer(out, NodeRecordOffset(nodes.size()));
    for (const std::uint32_t number : order) {
        const BuildNode& node = nodes[number];
        SeekOrFail(writer, node.dataOffset, log);
        if (node.directory) {
            if (const int e = writer.Write(node.table.data(), node.table.size()); e != 0) {
                log.Fatal(kBuildOutputError, "Write error: %s\n", platform::ErrorText(e).c_str());
            }
            continue;
        }
        log.Line(0, "WriteData  first:0x%x \n",
                 static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(&node)));
        platform::File in;
        if (const int e = in.OpenForReading(node.path); e != 0) {
            log.Fatal(kBuildInputError, "Error opening \"%s\": %s\n", node.path.c_str(),
                      platform::ErrorText(e).c_str());
        }
        const CopyResult copy = writer.Copy(in, node.size);
        if (copy.outcome == CopyResult::kReadFailed) {
            const std::string why = copy.error != 0 ? platform::ErrorText(copy.error)
                                                    : "the file is shorter than when examined";
            log.Fatal(kBuildInputError, "Error reading file \"%s\" at offset 0x%lX: %s\n",
                      node.path.c_str(), static_cast<long>(copy.copied), why.c_str());
        }
        if (copy.outcome == CopyResult::kWriteFailed) {
            log.Fatal(kBuildOutputError, "Write error: %s\n",
                      platform::ErrorText(copy.error).c_str());
        }
    }
    if (const int e = writer.Flush(); e != 0) {
        log.Fatal(kBuildOutputError, "Write error: %s\n", platform::ErrorText(e).c_str());
    }
}

// The output's path below the input directory ('/'-separated) when the image is written into
// its own tree, else empty. Links are resolved on both sides, so a tree reached through a link
// is recognised too.
std::string OutputInsideTree(const std::string& inputDir, const std::string& outputPath) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path tree = fs::weakly_canonical(fs::path(inputDir), ec);
    if (ec) {
        return {};
    }
    const fs::path output = fs::weakly_canonical(fs::path(outputPath), ec);
    if (ec) {
        return {};
    }
    auto at = output.begin();
    for (const fs::path& part : tree) {
        if (part.empty()) {
            continue; // a trailing separator
        }
        if (at == output.end() || *at != part) {
            return {};
        }
        ++at;
    }
    std::string relative;
    for (; at != output.end(); ++at) {
        relative += (relative.empty() ? "" : "/") + at->string();
    }
    return relative;
}

// Whether the file at path begins as an image of this builder would: a ROMFS header, or the
// stream kzip makes of one.
bool LooksLikeImage(const std::string& path) {
    platform::File file;
    unsigned char head[kHeaderSize] = {};
    int e = 0;
    if (file.OpenForReading(path) != 0 || file.ReadAt(0, head, sizeof head, &e) < 4) {
        return false;
    }
    return LoadHeader(head).magic == kMagic || std::memcmp(head, "FZKZ", 4) == 0;
}

void Build(const ImageRequest& request, const BuildLog& log) {
    if (request.inputDir.empty()) {
        log.Fatal(kBuildInputError,
                  "No input directory given: refusing to pack the root of the drive\n");
    }
    if (request.outputPath.empty()) {
        log.Fatal(kBuildOutputError, "No output file given\n");
    }
    if (platform::SameFile(request.inputDir, request.outputPath)) {
        log.Fatal(kBuildOutputError, "Output '%s' is the input directory itself\n",
                  request.outputPath.c_str());
    }
    if (!platform::IsReplaceableOutput(request.outputPath)) {
        log.Fatal(kBuildOutputError,
                  "Output '%s' is not a regular file (a directory, device or pipe): refusing to "
                  "replace it\n",
                  request.outputPath.c_str());
    }
    if (request.volumeName.size() > kVolumeNameSize) {
        log.Message("Warning: the volume name '%s' is longer than %zu characters; the image "
                    "keeps '%.*s'\n",
                    request.volumeName.c_str(), kVolumeNameSize, static_cast<int>(kVolumeNameSize),
                    request.volumeName.c_str());
    }
    const std::string excluded = OutputInsideTree(request.inputDir, request.outputPath);
    // An earlier image there is left out and replaced; any other file of the tree is an input.
    if (!excluded.empty() && platform::RegularFileExists(request.outputPath) &&
        !LooksLikeImage(request.outputPath)) {
        log.Fatal(kBuildOutputError,
                  "Output '%s' is the same file as an input of the tree '%s' (not an image): "
                  "refusing to write over it\n",
                  request.outputPath.c_str(), request.inputDir.c_str());
    }
    if (!excluded.empty()) {
        log.Message("Warning: the output '%s' lies inside the input tree '%s'; it is left out "
                    "of the image\n",
                    request.outputPath.c_str(), request.inputDir.c_str());
    }
    const bool compress = config::Read(config::isp::kWrapCompress) != 0;
    const std::string partial = PartialPath(request.outputPath);
    TemporaryFile written(compress ? kCompressTempName : partial);
    {
        // Phase 1; the tree's memory is released when this block ends.
        NodeTree tree(request.inputDir, request.limits, SourceDateEpoch(log), log, excluded);
        std::vector<BuildNode>& nodes = tree.Nodes();
        std::vector<std::uint32_t> order;
        const std::uint64_t imageSize = AllocateSpace(nodes, &order, log);

        platform::File out;
        if (const int e = out.Create(written.Path()); e != 0) {
            // The established line first, then the reason in words.
            log.Message("Failed to open output file '%s', errno=%d\n", request.outputPath.c_str(),
                        e);
            log.Fatal(kBuildOutputError, "'%s': %s\n", written.Path().c_str(),
                      platform::ErrorText(e).c_str());
        }
        WriteHeaderAndNodeTable(out, nodes, imageSize, request, log);
        WriteDataBlocks(out, nodes, order, log);
        if (const int e = out.Close(); e != 0) {
            log.Fatal(kBuildOutputError, "Write error: %s\n", platform::ErrorText(e).c_str());
        }
    }
    if (!compress) {
        written.MoveTo(request.outputPath, log);
        log.Line(1, "%s completed\n", request.outputPath.c_str());
        return;
    }
    log.Line(1, "%s completed\n", request.outputPath.c_str());
    TemporaryFile compressed(partial);
    file_compress(kCompressTempName, partial.c_str(), kCompressBlockSize);
    if (!platform::RegularFileExists(partial)) {
        log.Fatal(kBuildOutputError, "Compression failed: '%s' was not written\n",
                  request.outputPath.c_str());
    }
    compressed.MoveTo(request.outputPath, log);
}

} // namespace

std::string PartialPath(const std::string& outputPath) {
    return outputPath + ".part";
}

int BuildRomfsImage(const ImageRequest& request, std::FILE* out, std::FILE* err) {
    const BuildLog log(out, err);
    try {
        Build(request, log);
        return kBuildOk;
    } catch (const BuildFailure& failure) {
        return failure.status;
    } catch (const std::bad_alloc&) {
        log.Message("Out of memory\n");
        return kBuildOutOfMemory;
    } catch (const std::exception& e) {
        log.Message("Internal error: %s\n", e.what());
        return kBuildInternalError;
    }
}

} // namespace kestrel::romfs
