#include "cli/demo_workspace.h"

#include "cli/demo_elf.h"

#include "kestrellib/program/boot_image_writer.h"
#include "kestrellib/program/boot_package.h"
#include "kestrellib/program/file_replace.h"
#include "kestrellib/romfs/romfs_exports.h"
#include "segwrap/vmx_wrap.h"

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace kestrel::cli {
namespace {

namespace fs = std::filesystem;

// Creates the folder; false with "<folder>: <reason>" in error.
bool MakeFolder(const fs::path& folder, std::string& error) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) {
        error = "can't create " + folder.string() + ": " + ec.message();
        return false;
    }
    return true;
}

// Written beside and renamed into place: a name that is a link to some other file replaces the
// link, never the file it leads to. False with the file and the reason in error.
bool WriteFile(const fs::path& path, const void* data, std::size_t size, std::string& error) {
    if (!MakeFolder(path.parent_path(), error)) {
        return false;
    }
    std::string why;
    if (!program::WriteFileReplacing(
            path.string(),
            std::span<const std::uint8_t>(static_cast<const std::uint8_t*>(data), size), &why)) {
        error = "can't write " + path.string() + (why.empty() ? "" : ": " + why);
        return false;
    }
    return true;
}

bool WriteText(const fs::path& path, const std::string& text, std::string& error) {
    return WriteFile(path, text.data(), text.size(), error);
}

// The words of a failed ROMFS build's status (romfs_exports.h).
const char* RomfsBuildFailure(int status) {
    switch (status) {
    case 2:
        return "out of memory";
    case 3:
        return "the resource tree can't be read";
    case 4:
        return "the image can't be written";
    case 5:
        return "the image can't be positioned";
    case 6:
        return "the tree exceeds the image limits";
    default:
        return "an internal inconsistency";
    }
}

// The hardware tags a boot code package may carry, one record each.
constexpr std::uint32_t kHardwareTags[] = {0x8000D000u, 0x8000E000u, 0x8000F000u, 0x8050A000u,
                                           0x8050C000u};

bool WriteBootPackage(const fs::path& path, std::uint32_t bootKib, std::string& error) {
    std::vector<program::PackageEntry> entries;
    for (std::uint32_t tag : kHardwareTags) {
        program::BootImageContent content;
        content.longHeader = true;
        content.bootHeaderValue = 0x00020000; // short boot header form
        content.blocks.push_back({0x100, DemoBytes(24 * 1024, tag)});
        content.blocks.push_back({0x200, DemoBytes(bootKib * 1024, tag + 1)});
        content.blocks.push_back({0x400, DemoBytes(40 * 1024 + 123, tag + 2)});
        program::PackageEntry entry{tag, {}};
        if (!program::EncodeBootImage(content, entry.image, &error)) {
            return false;
        }
        entries.push_back(std::move(entry));
    }
    if (!MakeFolder(path.parent_path(), error)) {
        return false;
    }
    if (!program::WriteBootPackageFile(path.string(), entries, &error)) {
        error = path.string() + ": " + error;
        return false;
    }
    return true;
}

// Paths are relative: the station takes them from the home directory.
std::string IspIni(int romfsMb) {
    return "[Redboot]\nname=boot/boot.pkg"
           "\nSuppurtenDramInit=0\n\n[Romfs]\nname=resource.img"
           "\nenable=1\nmaxsize=" +
           std::to_string(romfsMb) +
           "\nDualImage=1\n\n[Romfs1]\nname=\nenable=0\nmaxsize=0\n\n"
           "[Burn-D]\nDir=\nreadverify=1\nrebuild=1\nenable=0\n\n"
           "[General]\nImageType=3\nDramtype=0\neccmode=0\n\n"
           "[BootDevice]\nenable=0\ndeviceid=0\n\n"
           "[WrapImage]\ndescription=Kestrel demo\nResource=resource"
           "\nRomFsOutPutName=resource.img\nbinary=firmware/firmware.elf"
           "\nenable=0\nversion=16777216\n";
}

std::string ConfigIni() {
    std::string text = "[General]\nItemNum=4\nItemName=Item\nHoldingPerInRomcode=0\n"
                       "Enable_RomCodeMessage=1\nFreqNum=2\nFreqName=Freq\n\n"
                       "[Item0]\nenable=1\nvalue=0x00000003\n\n"
                       "[Item1]\nenable=0\nvalue=0x00001000\n\n"
                       "; Item 2 is the DRAM setting: key <Dram type index> names the key whose\n"
                       "; value the ISP action copies into value.\n"
                       "[Item2]\nenable=1\n0=HYNIX\n1=SAMSUNG\nHYNIX=0x00220133\n"
                       "SAMSUNG=0x00310144\nvalue=0x220133\n\n"
                       "[Item3]\nenable=1\nvalue=0x0000002A\n";
    const char* freq[2][2] = {{"Freq0", "396"}, {"Freq1", "264"}};
    for (auto& f : freq) {
        text += std::string("\n[") + f[0] + "]\nfreq_spll_int=" + f[1] +
                "\nfreq_spll_pnt=0\nfreq_arm=4\nfreq_arm_ahb=2\nfreq_arm_apb=1\nfreq_sys=3\n"
                "freq_sys_ahb=2\nfreq_sys_apb=1\nfreq_ceva=2\nfreq_ceva_ahb=2\nfreq_ceva_apb=1\n"
                "ref_ceva_23=0\nref_arm_23=0\nbaudIdx=5\nregScuC_DDRPhyCtrl=0x00000011\n"
                "regDram08=0x0A0B0C0D\nregDram0C=0x00000100\nregDram18=0x00001234\n"
                "regDram1C=0x00005678\nregDram24=0x00000001\nregDram28=0x00000002\n";
    }
    return text;
}

// Eight simulated devices for --sim-config: different geometries (2, 4 and 8 KiB pages, a
// paired-page chip, a small chip), loader levels 1 and 2, and a few bad blocks and failing
// pages, with the default latency model.
std::string DevicesIni() {
    return "# Simulated devices of the demo: kestrel-cli --sim-config devices.ini ...\n"
           "[device]\nchip = class0\nfactory_bad = 70,75,300\n\n"
           "[device]\nchip = class1\n\n"
           "[device]\nchip = class2\nfailing_pages = 9000\n\n"
           "[device]\nchip = class9\n\n"
           "[device]\nchip = class0\nloader_level = 1\nfactory_bad = 66\n\n"
           "[device]\nchip = class6\n\n"
           "[device]\nchip = class7\ngrown_bad = 300@1\n\n"
           "[device]\nchip = class8\nfactory_bad = 68,69\n";
}

std::string RomPatchIni() {
    return "[General]\nItemName=Patch\nDownloadAddr=0x80100000\n\n"
           "; Section Patch<n>: n is the boot device id (0 below loader level 2), plus 7 for\n"
           "; loader class 1.\n"
           "[Patch0]\nenable=1\nEntryAddr=0x80100000\nFileName=patch/patch.bin\n\n"
           "[Patch7]\nenable=1\nEntryAddr=0x80100000\nFileName=patch/patch.bin\n";
}

} // namespace

bool WriteDemoWorkspace(const DemoWorkspaceOptions& o, std::string& error) {
    const fs::path dir = fs::absolute(o.dir);
    std::error_code ec;
    if (!o.force) {
        std::string present;
        for (const char* name : {"isp.ini", "config.ini", "RomPatch.ini"}) {
            if (fs::exists(fs::symlink_status(dir / name, ec))) {
                present += present.empty() ? name : std::string(", ") + name;
            }
        }
        if (!present.empty()) {
            error = dir.string() + " already holds a workspace (" + present +
                    "); nothing was written. Use --force to overwrite it";
            return false;
        }
    }
    if (!MakeFolder(dir, error)) {
        return false;
    }
    const auto patch = DemoBytes(256, 77);
    if (!WriteText(dir / "isp.ini", IspIni(o.romfsMb), error) ||
        !WriteText(dir / "config.ini", ConfigIni(), error) ||
        !WriteText(dir / "RomPatch.ini", RomPatchIni(), error) ||
        !WriteText(dir / "devices.ini", DevicesIni(), error) ||
        !WriteFile(dir / "patch" / "patch.bin", patch.data(), patch.size(), error) ||
        !WriteBootPackage(dir / "boot" / "boot.pkg", o.bootKib, error)) {
        return false;
    }

    // The firmware: a generated ELF file wrapped into the resource tree's image directory.
    const std::uint32_t firmware = o.firmwareKib * 1024;
    const auto elf = MakeDemoElf(firmware * 3 / 4, firmware / 4, 4410);
    const fs::path resource = dir / "resource";
    fs::remove_all(resource, ec);
    if (ec) {
        error = "can't replace " + resource.string() + ": " + ec.message();
        return false;
    }
    if (!WriteFile(dir / "firmware" / "firmware.elf", elf.data(), elf.size(), error) ||
        !MakeFolder(resource / "image", error)) {
        return false;
    }
    const segwrap::WrapReport wrap =
        segwrap::WrapImage((dir / "firmware" / "firmware.elf").string().c_str(),
                           (resource / "image" / "4410_mmi.rap").string().c_str(), 0);
    if (!wrap.ok) {
        error = "wrapping the demo firmware failed: " + wrap.file + ": " + wrap.reason;
        return false;
    }
    const auto font = DemoBytes(o.fillerKib * 1024 / 2, 5);
    const auto sound = DemoBytes(o.fillerKib * 1024 / 2 + 17, 6);
    if (!WriteFile(resource / "fonts" / "demo.fnt", font.data(), font.size(), error) ||
        !WriteFile(resource / "sounds" / "beep.wav", sound.data(), sound.size(), error) ||
        !WriteText(resource / "readme.txt", "Kestrel demo resources\n", error)) {
        return false;
    }
    const std::string input = resource.string();
    const std::string output = (dir / "resource.img").string();
    RomfsBuildRequest request{input.c_str(), output.c_str(), 0x01000000u, "Kestrel demo"};
    const int status = mk_romfs_ex(&request);
    if (status != 0) {
        error = "building the ROMFS image " + output + " failed: " + RomfsBuildFailure(status);
        return false;
    }
    return true;
}

} // namespace kestrel::cli
