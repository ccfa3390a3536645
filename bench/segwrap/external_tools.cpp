#include "external_tools.h"

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

namespace kestrel::bench {
namespace {

std::string Quoted(const std::filesystem::path& p) {
    return "'" + p.string() + "'";
}

} // namespace

std::optional<double> ZstdLevel1Speed(const std::filesystem::path& file) {
    const std::filesystem::path report = file.string() + ".zstd-bench.txt";
    const std::string command = "zstd -b1 -T1 " + Quoted(file) + " > " + Quoted(report) + " 2>&1";
    if (std::system(command.c_str()) != 0) {
        return std::nullopt;
    }
    std::ifstream in(report);
    std::stringstream text;
    text << in.rdbuf();
    std::filesystem::remove(report);
    // The final result line reads: "1#name : in -> out (xR), C MB/s, D MB/s"; zstd counts
    // MB as 10^6 bytes. Progress updates share the line, so the last match is the final one.
    static const std::regex kSpeed(R"(\(x[0-9.]+\),\s*([0-9.]+) MB/s)");
    std::optional<double> speed;
    const std::string s = text.str();
    for (auto it = std::sregex_iterator(s.begin(), s.end(), kSpeed); it != std::sregex_iterator();
         ++it) {
        speed = std::stod((*it)[1].str()) * 1e6;
    }
    return speed;
}

std::optional<double> ObjcopyBinarySeconds(const std::filesystem::path& elf,
                                           const std::filesystem::path& out) {
    // The generic little-endian ELF input target: host binutils often lack an ARM target, and
    // the generic reader copies the same section bytes.
    const std::string command =
        "objcopy -I elf32-little -O binary " + Quoted(elf) + " " + Quoted(out);
    const auto start = std::chrono::steady_clock::now();
    const int status = std::system(command.c_str());
    const auto end = std::chrono::steady_clock::now();
    if (status != 0) {
        return std::nullopt;
    }
    return std::chrono::duration<double>(end - start).count();
}

} // namespace kestrel::bench
