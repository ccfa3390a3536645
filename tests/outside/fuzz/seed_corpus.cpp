// Writes the kzip fuzzer's seed inputs: compressed files of a few kinds of content.
#include "outside/kzip/kzip.h"

#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

int main(int argc, char** argv) {
    if (argc != 2) {
        return 2;
    }
    const fs::path seeds = argv[1];
    fs::create_directories(seeds);
    const std::pair<const char*, std::string> contents[] = {
        {"empty", ""},
        {"short", "hello"},
        {"repeated", std::string(5000, 'z')},
        {"mixed", std::string(3000, 'a') + "\x01\x02\x03\xff random-ish tail \x7f\x80"}};
    bool ok = true;
    for (const auto& [name, content] : contents) {
        const fs::path plain = seeds / (std::string(name) + ".plain");
        std::ofstream(plain, std::ios::binary | std::ios::trunc) << content;
        ok =
            file_compress(plain.c_str(), (seeds / name).c_str(), name[0] == 'm' ? 64 : 2048) == 0 &&
            ok;
        fs::remove(plain);
    }
    return ok ? 0 : 1;
}
