// kestrel-cli boot-image pack|package|check: making and checking boot code files. "pack" wraps
// files into a boot image, one block each; "package" gathers boot images into a package of
// "PRAW" records, one per hardware tag; "check" reads an image or a package as a run would.

#include "app/station/boot_code_check.h"
#include "app/station/check_report.h"
#include "cli/commands.h"

#include "kestrellib/program/boot_image_writer.h"
#include "kestrellib/program/boot_package.h"
#include "platform/files/file_identity.h"
#include "platform/files/files.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestrel::cli {
namespace {

using station::CheckBootCodeFile;
using station::CheckReport;
using station::Hex32;

struct PackOptions {
    std::string output;
    std::vector<std::string> blocks; // TYPE=FILE
    bool shortHeader = false;
    std::string bootHeaderValue = "0";
    std::string word1 = "0";
    std::string word6 = "0";
    std::string word7 = "0";
};

struct PackageOptions {
    std::string output;
    std::vector<std::string> records; // TAG=IMAGE
};

// A u32 written in decimal or with the prefix 0x.
std::optional<std::uint32_t> ParseWord(const std::string& text) {
    if (text.empty() || text[0] == '-' || text[0] == '+') {
        return std::nullopt;
    }
    errno = 0;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text.c_str(), &end, 0);
    if (errno != 0 || end == text.c_str() || *end != '\0' || value > UINT32_MAX) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

// The whole file, or the reason it cannot be read in words.
std::string ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& out) {
    platform::File file;
    if (const int e = file.OpenForReading(path); e != 0) {
        return platform::ErrorText(e);
    }
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
        return "not a regular file";
    }
    out.clear();
    std::uint8_t chunk[65536];
    for (;;) {
        int e = 0;
        const std::int64_t n = file.ReadAt(out.size(), chunk, sizeof chunk, &e);
        if (n < 0) {
            return platform::ErrorText(e);
        }
        out.insert(out.end(), chunk, chunk + n);
        if (static_cast<std::size_t>(n) < sizeof chunk) {
            return {};
        }
    }
}

// Refuses an output that is the same file as one of the inputs, before anything is written.
bool OutputIsAnInput(const std::string& output, const std::vector<std::string>& arguments) {
    for (const std::string& argument : arguments) {
        const std::size_t equals = argument.find('=');
        const std::string path = equals == std::string::npos ? "" : argument.substr(equals + 1);
        if (!path.empty() && platform::SameFile(output, path)) {
            std::fprintf(stderr,
                         "kestrel-cli: %s: is the same file as the input %s: refusing to write "
                         "over it\n",
                         output.c_str(), path.c_str());
            return true;
        }
    }
    return false;
}

// Splits "WORD=FILE" and reads the file. kExitUsage for an argument of another form, kExitFailed
// for a file that can't be read, each with a message on standard error.
int ReadWordAndFile(const std::string& argument, const char* what, std::uint32_t& word,
                    std::vector<std::uint8_t>& data) {
    const std::size_t equals = argument.find('=');
    const auto parsed =
        equals == std::string::npos ? std::nullopt : ParseWord(argument.substr(0, equals));
    if (!parsed) {
        std::fprintf(stderr, "kestrel-cli: \"%s\" is not %s=FILE\n", argument.c_str(), what);
        return kExitUsage;
    }
    const std::string path = argument.substr(equals + 1);
    if (const std::string why = ReadWholeFile(path, data); !why.empty()) {
        std::fprintf(stderr, "kestrel-cli: can't read %s: %s\n", path.c_str(), why.c_str());
        return kExitFailed;
    }
    word = *parsed;
    return kExitOk;
}

std::optional<std::uint32_t> HeaderWord(const std::string& text, const char* name) {
    const auto word = ParseWord(text);
    if (!word) {
        std::fprintf(stderr, "kestrel-cli: %s \"%s\" is not a 32-bit number\n", name, text.c_str());
    }
    return word;
}

int Pack(const PackOptions& options) {
    program::BootImageContent content;
    content.longHeader = !options.shortHeader;
    const auto value = HeaderWord(options.bootHeaderValue, "--boot-header-value");
    const auto word1 = HeaderWord(options.word1, "--word1");
    const auto word6 = HeaderWord(options.word6, "--word6");
    const auto word7 = HeaderWord(options.word7, "--word7");
    if (!value || !word1 || !word6 || !word7) {
        return kExitUsage;
    }
    if (options.shortHeader && (*value != 0 || *word6 != 0 || *word7 != 0)) {
        std::fprintf(stderr, "kestrel-cli: a 16-byte header has no words 4, 6 and 7\n");
        return kExitUsage;
    }
    if (OutputIsAnInput(options.output, options.blocks)) {
        return kExitFailed;
    }
    content.bootHeaderValue = *value;
    content.word1 = *word1;
    content.word6 = *word6;
    content.word7 = *word7;
    for (const std::string& argument : options.blocks) {
        program::BootImageContent::Block block;
        if (const int status = ReadWordAndFile(argument, "TYPE", block.blockType, block.data);
            status != kExitOk) {
            return status;
        }
        content.blocks.push_back(std::move(block));
    }
    std::string error;
    if (!program::WriteBootImageFile(options.output, content, &error)) {
        std::fprintf(stderr, "kestrel-cli: %s: %s\n", options.output.c_str(), error.c_str());
        return kExitFailed;
    }
    std::printf("%s: boot image of %zu blocks written\n", options.output.c_str(),
                content.blocks.size());
    return kExitOk;
}

int Package(const PackageOptions& options) {
    if (OutputIsAnInput(options.output, options.records)) {
        return kExitFailed;
    }
    std::vector<program::PackageEntry> entries;
    for (const std::string& argument : options.records) {
        program::PackageEntry entry;
        if (const int status = ReadWordAndFile(argument, "TAG", entry.hardwareTag, entry.image);
            status != kExitOk) {
            return status;
        }
        for (const auto& earlier : entries) {
            if (earlier.hardwareTag == entry.hardwareTag) {
                // The selection takes the first record of a tag; a second could never be used.
                std::fprintf(stderr, "kestrel-cli: hardware tag %s is given twice\n",
                             Hex32(entry.hardwareTag).c_str());
                return kExitUsage;
            }
        }
        entries.push_back(std::move(entry));
    }
    std::string error;
    if (!program::WriteBootPackageFile(options.output, entries, &error)) {
        std::fprintf(stderr, "kestrel-cli: %s: %s\n", options.output.c_str(), error.c_str());
        return kExitFailed;
    }
    std::printf("%s: boot code package of %zu records written\n", options.output.c_str(),
                entries.size());
    return kExitOk;
}

int Check(const std::string& path) {
    CheckReport report;
    CheckBootCodeFile(path, true, report);
    return report.Failures() == 0 ? kExitOk : kExitFailed;
}

} // namespace

void AddBootImageCommand(CLI::App& app, CommandContext& context) {
    auto* command = app.add_subcommand("boot-image", "Pack, package or check boot code files");
    command->require_subcommand(1);

    auto* pack = command->add_subcommand("pack", "Wrap files into a boot image, one block each");
    auto packOptions = std::make_shared<PackOptions>();
    pack->add_option("image", packOptions->output, "Boot image to write")->required();
    pack->add_option("blocks", packOptions->blocks,
                     "Blocks in order, each TYPE=FILE (TYPE decimal or 0x hexadecimal)")
        ->required();
    pack->add_flag("--short-header", packOptions->shortHeader,
                   "Write the 16-byte header without the \"1100\" mark");
    pack->add_option("--boot-header-value", packOptions->bootHeaderValue,
                     "Header word 4, copied into the boot header");
    pack->add_option("--word1", packOptions->word1, "Header word 1");
    pack->add_option("--word6", packOptions->word6, "Header word 6");
    pack->add_option("--word7", packOptions->word7, "Header word 7");
    pack->callback([&context, packOptions] { context.Report(Pack(*packOptions)); });

    auto* package =
        command->add_subcommand("package", "Gather boot images into a boot code package");
    auto packageOptions = std::make_shared<PackageOptions>();
    package->add_option("package", packageOptions->output, "Package to write")->required();
    package
        ->add_option("records", packageOptions->records,
                     "Records in order, each TAG=IMAGE (hardware tag, e.g. 0x8000D000)")
        ->required();
    package->callback([&context, packageOptions] { context.Report(Package(*packageOptions)); });

    auto* check =
        command->add_subcommand("check", "Check a boot image or package as a run would read it");
    auto checkPath = std::make_shared<std::string>();
    check->add_option("file", *checkPath, "Boot image or boot code package")->required();
    check->callback([&context, checkPath] { context.Report(Check(*checkPath)); });
}

} // namespace kestrel::cli
