// kestrel-cli romfs build|ls|check|extract and wrap: the image tools of the production files.

#include "cli/commands.h"

#include "kestrellib/romfs/romfs_exports.h"
#include "kestrellib/romfs/romfs_extract.h"
#include "kestrellib/romfs/romfs_reader.h"
#include "segwrap/vmx_image.h"
#include "segwrap/vmx_wrap.h"

#include <cstdio>
#include <memory>
#include <string>

namespace kestrel::cli {
namespace {

std::optional<romfs::RomfsImage> LoadImage(const std::string& path) {
    std::string error;
    auto image = romfs::RomfsImage::Load(path, &error);
    if (!image) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), error.c_str());
    }
    return image;
}

} // namespace

void AddRomfsCommand(CLI::App& app, CommandContext& context) {
    auto* romfsCommand = app.add_subcommand("romfs", "Build, list, check or extract ROMFS images");
    romfsCommand->require_subcommand(1);

    auto* build = romfsCommand->add_subcommand("build", "Build a ROMFS image of a directory");
    auto input = std::make_shared<std::string>();
    auto output = std::make_shared<std::string>();
    auto version = std::make_shared<unsigned>(0);
    auto volume = std::make_shared<std::string>("ROMFS");
    build->add_option("dir", *input, "Input directory")->required();
    build->add_option("image", *output, "Output image")->required();
    build->add_option("--version", *version, "Version word of the header");
    build->add_option("--name", *volume, "Volume name");
    build->callback([&context, input, output, version, volume] {
        const int status = mk_romfs(input->c_str(), output->c_str(), *version, volume->c_str());
        context.Report(status == 0 ? kExitOk : kExitFailed);
    });

    auto* list = romfsCommand->add_subcommand("ls", "List a directory of an image");
    auto listImage = std::make_shared<std::string>();
    auto listPath = std::make_shared<std::string>();
    list->add_option("image", *listImage, "ROMFS image")->required();
    list->add_option("path", *listPath, "Directory inside the image ('/'-separated)");
    list->callback([&context, listImage, listPath] {
        const auto image = LoadImage(*listImage);
        std::string error;
        const auto node = image ? image->LookupPath(*listPath, &error) : std::nullopt;
        std::vector<romfs::RomfsListEntry> entries;
        if (!node || !image->List(*node, &entries, &error)) {
            if (image) {
                std::fprintf(stderr, "%s: %s\n", listImage->c_str(), error.c_str());
            }
            context.Report(kExitFailed);
            return;
        }
        for (const auto& entry : entries) {
            const auto record = image->Node(entry.node);
            std::printf("%-5s %10u  %s\n", romfs::RomfsImage::IsDirectory(record) ? "dir" : "file",
                        static_cast<unsigned>(record.size), entry.name.c_str());
        }
        context.Report(kExitOk);
    });

    auto* check = romfsCommand->add_subcommand("check", "Check an image's consistency");
    auto checkImage = std::make_shared<std::string>();
    check->add_option("image", *checkImage, "ROMFS image")->required();
    check->callback([&context, checkImage] {
        const auto image = LoadImage(*checkImage);
        std::string error;
        if (!image || !image->Check(&error)) {
            if (image) {
                std::fprintf(stderr, "%s: %s\n", checkImage->c_str(), error.c_str());
            }
            context.Report(kExitFailed);
            return;
        }
        std::printf("%s: %u nodes, volume \"%s\": ok\n", checkImage->c_str(), image->NodeCount(),
                    image->VolumeName().c_str());
        context.Report(kExitOk);
    });

    auto* extract = romfsCommand->add_subcommand("extract", "Extract every file of an image");
    auto extractImage = std::make_shared<std::string>();
    auto target = std::make_shared<std::string>();
    extract->add_option("image", *extractImage, "ROMFS image")->required();
    extract->add_option("dir", *target, "Target directory")->required();
    extract->callback([&context, extractImage, target] {
        const auto image = LoadImage(*extractImage);
        std::string error;
        if (image && !romfs::ExtractImage(*image, *target, &error)) {
            std::fprintf(stderr, "%s: %s\n", extractImage->c_str(), error.c_str());
        }
        context.Report(image && error.empty() ? kExitOk : kExitFailed);
    });
}

void AddWrapCommand(CLI::App& app, CommandContext& context) {
    auto* command = app.add_subcommand("wrap", "Wrap an ELF firmware file into a VMX image");
    auto elf = std::make_shared<std::string>();
    auto image = std::make_shared<std::string>();
    auto compress = std::make_shared<bool>(false);
    command->add_option("elf", *elf, "ELF file")->required();
    command->add_option("image", *image, "VMX image to write")->required();
    command->add_flag("--compress", *compress, "Compress the payload");
    command->callback([&context, elf, image, compress] {
        const unsigned flags = *compress ? kVmxCompressFlag : 0u;
        const segwrap::WrapReport report = segwrap::WrapImage(elf->c_str(), image->c_str(), flags);
        for (const std::string& warning : report.warnings) {
            std::fprintf(stderr, "wrap: warning: %s\n", warning.c_str());
        }
        if (!report.ok) {
            std::fprintf(stderr, "wrap: %s: %s\n", report.file.c_str(), report.reason.c_str());
        }
        context.Report(report.ok ? kExitOk : kExitFailed);
    });
}

} // namespace kestrel::cli
