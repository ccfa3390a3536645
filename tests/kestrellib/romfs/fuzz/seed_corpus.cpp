// Writes the ROMFS reader fuzzer's seed inputs: images the builder makes of a few small trees.
#include "kestrellib/romfs/romfs_builder.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

void Write(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

bool Image(const fs::path& tree, const fs::path& output) {
    kestrel::romfs::ImageRequest request;
    request.inputDir = tree.string();
    request.outputPath = output.string();
    request.volumeName = "seed";
    std::FILE* sink = std::tmpfile();
    const int status = kestrel::romfs::BuildRomfsImage(request, sink, sink);
    std::fclose(sink);
    return status == 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        return 2;
    }
    const fs::path seeds = argv[1];
    const fs::path trees = seeds.parent_path() / "seed-trees";
    fs::remove_all(trees);
    fs::create_directories(trees / "empty");
    Write(trees / "worked" / "a.txt", "hello");
    fs::create_directories(trees / "worked" / "sub");
    Write(trees / "nested" / "d1" / "d2" / "deep.bin", std::string(100, 'x'));
    Write(trees / "nested" / "d1" / "empty", "");
    Write(trees / "nested" / std::string(40, 'n'), "long name");
    fs::create_directories(seeds);
    bool ok = true;
    for (const char* name : {"empty", "worked", "nested"}) {
        ok = Image(trees / name, seeds / name) && ok;
    }
    fs::remove_all(trees);
    return ok ? 0 : 1;
}
