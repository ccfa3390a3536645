// Hostile inputs for kestrel-cli's image commands: outputs that are the inputs (by name, hard
// link or symbolic link) leave the inputs byte for byte as they were; ROMFS images with escaping
// names or directories that share children write nothing outside the target and finish at
// once; an ELF file whose extended program-header count resolves to nothing is refused; every
// failure exits non-zero with a message naming the file and saying why; odd but allowed inputs
// give a warning.

#include "cli_runner.h"
#include "segwrap/elf_builder.h"
#include "support/romfs_patch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using kestrel::test::CliResult;
using kestrel::test::ElfBuilder;
using kestrel::test::TempHome;

std::string ArmElf(std::uint16_t machine = 40) {
    ElfBuilder elf(false, false);
    elf.machine = machine;
    elf.entry = 0x1000;
    elf.AddSegment({.type = 1, .virtAddr = 0x1000, .physAddr = 0x1000, .data = "firmware text"});
    elf.AddSection({.name = ".text", .type = 1, .flags = 6, .data = "firmware text"});
    return elf.Build();
}

// Every file below dir with its bytes, for "nothing changed" comparisons; the captured output
// streams of the runs are left out.
std::vector<std::pair<std::string, std::string>> Snapshot(const fs::path& dir) {
    std::vector<std::pair<std::string, std::string>> files;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        if (entry.path() == dir / "out.txt" || entry.path() == dir / "err.txt") {
            continue;
        }
        if (entry.is_symlink()) {
            files.emplace_back(entry.path().string(), "-> " + fs::read_symlink(entry).string());
        } else if (entry.is_regular_file()) {
            std::ifstream in(entry.path(), std::ios::binary);
            files.emplace_back(entry.path().string(),
                               std::string(std::istreambuf_iterator<char>(in), {}));
        } else {
            files.emplace_back(entry.path().string(), "dir");
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

class Hostile : public ::testing::Test {
protected:
    CliResult Run(const std::string& args) { return kestrel::test::RunCli(home, args); }
    std::string P(const std::string& name) const { return home.Path(name); }

    // A built image of a tree, for damaging.
    std::string BuildImage(const std::string& tree) {
        const CliResult built = Run("romfs build " + P(tree) + " " + P("base.img"));
        EXPECT_EQ(built.status, 0) << built.err;
        return home.ReadFile("base.img");
    }

    TempHome home;
};

// Outputs that are an input under another name. Each case writes its files and gives the
// command line; the input must come out byte-identical, the output refused by name.
struct SameFileCase {
    const char* name;
    std::function<std::string(Hostile&, const TempHome&)> setup; // returns the arguments
    const char* input;                                           // the file that must survive
    const char* output;                                          // named in the message
};

std::ostream& operator<<(std::ostream& os, const SameFileCase& c) {
    return os << c.name;
}

const SameFileCase kSameFileCases[] = {
    {"WrapOntoItself",
     [](Hostile&, const TempHome& h) {
         return "wrap " + h.Path("fw.elf") + " " + h.Path("fw.elf");
     },
     "fw.elf", "fw.elf"},
    {"WrapCompressedOntoItself",
     [](Hostile&, const TempHome& h) {
         return "wrap --compress " + h.Path("fw.elf") + " " + h.Path("fw.elf");
     },
     "fw.elf", "fw.elf"},
    {"WrapThroughSymbolicLink",
     [](Hostile&, const TempHome& h) {
         fs::create_symlink(h.Path("fw.elf"), h.Path("link.rap"));
         return "wrap " + h.Path("fw.elf") + " " + h.Path("link.rap");
     },
     "fw.elf", "link.rap"},
    {"WrapThroughHardLink",
     [](Hostile&, const TempHome& h) {
         fs::create_hard_link(h.Path("fw.elf"), h.Path("hard.rap"));
         return "wrap " + h.Path("fw.elf") + " " + h.Path("hard.rap");
     },
     "fw.elf", "hard.rap"},
    {"ElfDumpOntoItself",
     [](Hostile&, const TempHome& h) {
         return "elf-dump " + h.Path("fw.elf") + " -o " + h.Path("fw.elf");
     },
     "fw.elf", "fw.elf"},
    {"ElfDumpThroughSymbolicLink",
     [](Hostile&, const TempHome& h) {
         fs::create_symlink(h.Path("fw.elf"), h.Path("dump.txt"));
         return "elf-dump " + h.Path("fw.elf") + " -o " + h.Path("dump.txt");
     },
     "fw.elf", "dump.txt"},
    {"BootImagePackOntoABlock",
     [](Hostile&, const TempHome& h) {
         return "boot-image pack " + h.Path("fw.elf") + " 0x1=" + h.Path("fw.elf");
     },
     "fw.elf", "fw.elf"},
    {"BootImagePackageOntoAnImage",
     [](Hostile&, const TempHome& h) {
         fs::create_symlink(h.Path("fw.elf"), h.Path("pkg.bin"));
         return "boot-image package " + h.Path("pkg.bin") + " 0x8000D000=" + h.Path("fw.elf");
     },
     "fw.elf", "pkg.bin"},
    {"RomfsBuildOntoAFileOfTheTree",
     [](Hostile&, const TempHome& h) {
         return "romfs build " + h.Path("") + " " + h.Path("fw.elf");
     },
     "fw.elf", "fw.elf"},
};

class SameFile : public Hostile, public ::testing::WithParamInterface<SameFileCase> {};

TEST_P(SameFile, IsRefusedAndTheInputIsUnchanged) {
    const std::string elf = ArmElf();
    home.WriteFile("fw.elf", elf);
    const std::string args = GetParam().setup(*this, home);
    const CliResult result = Run(args);
    EXPECT_NE(result.status, 0);
    EXPECT_EQ(home.ReadFile(GetParam().input), elf);
    EXPECT_NE(result.err.find(P(GetParam().output)), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("same file"), std::string::npos) << result.err;
    EXPECT_FALSE(fs::exists(P(std::string(GetParam().output) + ".part")));
}

INSTANTIATE_TEST_SUITE_P(Cases, SameFile, ::testing::ValuesIn(kSameFileCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ROMFS images whose names would leave the target. The tree's placeholder name is replaced in
// the built image by one of the same length.
struct EscapeCase {
    const char* name;
    const char* hostile; // 17 characters, as "ESCAPE_PLACEHOLDE"
};

std::ostream& operator<<(std::ostream& os, const EscapeCase& c) {
    return os << c.name;
}

const EscapeCase kEscapes[] = {
    {"ParentSteps", "../../ESCAPED.TXT"},    {"AbsolutePath", "/TMP/KESTREL-ESC1"},
    {"DriveLetter", "C:ESCAPED-KESTRE"},     {"BackslashSeparator", "..\\..\\ESCAPED.TX"},
    {"InnerSeparator", "SUB/../../ESC.TXT"}, {"ParentEntry", ".."},
};

class EscapingNames : public Hostile, public ::testing::WithParamInterface<EscapeCase> {};

TEST_P(EscapingNames, ExtractWritesNothingAnywhere) {
    const std::string hostile = GetParam().hostile;
    const std::string placeholder = std::string("ESCAPE_PLACEHOLDER").substr(0, hostile.size());
    fs::create_directories(home.Dir() / "tree" / "sub");
    home.WriteFile("tree/sub/" + placeholder, "payload\n");
    home.WriteFile("tree/keep.txt", "kept\n");
    std::string image = BuildImage("tree");
    kestrel::test::ReplaceStoredName(image, placeholder, hostile);
    home.WriteFile("hostile.img", image);
    fs::create_directories(home.Dir() / "deep");
    const auto before = Snapshot(home.Dir());

    const CliResult result = Run("romfs extract " + P("hostile.img") + " " + P("deep/new/out"));
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find(P("hostile.img")), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("not a plain name"), std::string::npos) << result.err;
    // Nothing made: not the target, not the good file, not anything outside.
    EXPECT_EQ(Snapshot(home.Dir()), before);
    EXPECT_FALSE(fs::exists("/tmp/KESTREL-ESC1"));
}

INSTANTIATE_TEST_SUITE_P(Cases, EscapingNames, ::testing::ValuesIn(kEscapes),
                         [](const auto& info) { return std::string(info.param.name); });

// 40 directories, each holding the next one and a file; every file entry is then pointed at the
// next directory as well, so the walk would fan out 2^40 ways.
TEST_F(Hostile, SharedChildDirectoriesAreRefusedAtOnce) {
    std::string path = "tree";
    for (int level = 0; level < 40; ++level) {
        path += "/d" + std::to_string(level + 10);
        fs::create_directories(home.Dir() / path);
        home.WriteFile(path + "/f" + std::to_string(level + 10), "x");
    }
    std::string image = BuildImage("tree");
    for (int level = 0; level < 39; ++level) {
        const std::uint32_t next =
            kestrel::test::EntryNode(image, "D" + std::to_string(level + 11));
        kestrel::test::SetEntryNode(image, "F" + std::to_string(level + 10), next);
    }
    home.WriteFile("fan.img", image);

    const auto start = std::chrono::steady_clock::now();
    const CliResult result = Run("romfs extract " + P("fan.img") + " " + P("out"));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("fails its check"), std::string::npos) << result.err;
    EXPECT_FALSE(fs::exists(P("out")));
    EXPECT_LT(elapsed, std::chrono::seconds(20)); // a bound against the fan-out, not a timing
    EXPECT_EQ(Run("romfs check " + P("fan.img")).status, 1);
}

// Two entries of one name pass the image check; the second fails while writing, and the
// extraction removes everything it had made.
TEST_F(Hostile, AFailureHalfWayRemovesWhatTheExtractionMade) {
    fs::create_directories(home.Dir() / "tree" / "sub");
    home.WriteFile("tree/sub/twin_a", "first");
    home.WriteFile("tree/sub/twin_b", "second");
    home.WriteFile("tree/early.txt", "early");
    std::string image = BuildImage("tree");
    kestrel::test::ReplaceStoredName(image, "TWIN_B", "TWIN_A");
    home.WriteFile("twins.img", image);
    fs::create_directories(home.Dir() / "existing");

    const CliResult result = Run("romfs extract " + P("twins.img") + " " + P("existing"));
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("TWIN_A"), std::string::npos) << result.err;
    EXPECT_TRUE(fs::is_directory(P("existing"))); // made by the user: kept
    EXPECT_TRUE(fs::is_empty(P("existing")));

    EXPECT_EQ(Run("romfs extract " + P("twins.img") + " " + P("fresh/inner")).status, 1);
    EXPECT_FALSE(fs::exists(P("fresh"))); // made by the extraction: removed
}

TEST_F(Hostile, ExtractionIntoANonEmptyDirectoryIsRefused) {
    fs::create_directories(home.Dir() / "tree");
    home.WriteFile("tree/a.txt", "new");
    BuildImage("tree");
    fs::create_directories(home.Dir() / "full");
    home.WriteFile("full/A.TXT", "mine");
    const CliResult result = Run("romfs extract " + P("base.img") + " " + P("full"));
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find(P("full")), std::string::npos) << result.err;
    EXPECT_EQ(home.ReadFile("full/A.TXT"), "mine");
}

TEST_F(Hostile, ExtendedProgramHeaderCountThatResolvesToNothingIsRefused) {
    ElfBuilder elf(false, false);
    elf.AddSegment({.type = 1, .virtAddr = 0x1000, .physAddr = 0x1000, .data = "code"});
    std::string file = elf.Build();
    elf.Patch(file, 44, 0xFFFF, 2); // e_phnum; section 0's sh_info stays 0
    home.WriteFile("xnum.elf", file);
    const CliResult result = Run("wrap " + P("xnum.elf") + " " + P("xnum.rap"));
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find(P("xnum.elf")), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("0xFFFF"), std::string::npos) << result.err;
    EXPECT_FALSE(fs::exists(P("xnum.rap")));
}

// Failures: a non-zero exit and a message naming the file with the reason in words.
struct FailureCase {
    const char* name;
    std::string args;      // {} stands for the home directory
    std::string file;      // expected in the message ({} as above)
    std::string reason;    // expected in the message
    std::string untouched; // a path that must not exist afterwards, or ""
};

std::ostream& operator<<(std::ostream& os, const FailureCase& c) {
    return os << c.name;
}

std::string Expand(std::string text, const std::string& dir) {
    for (std::size_t at = text.find("{}"); at != std::string::npos; at = text.find("{}", at)) {
        text.replace(at, 2, dir);
        at += dir.size();
    }
    return text;
}

const FailureCase kFailures[] = {
    {"WrapMissingElf", "wrap {}/missing.elf {}/out.rap", "{}/missing.elf",
     "No such file or directory", "{}/out.rap"},
    {"WrapNonElf", "wrap {}/notes.txt {}/out.rap", "{}/notes.txt", "not an ELF file", "{}/out.rap"},
    {"WrapDirectoryAsElf", "wrap {}/tree {}/out.rap", "{}/tree", "not a regular file",
     "{}/out.rap"},
    {"WrapIntoMissingFolder", "wrap {}/fw.elf {}/nodir/out.rap", "{}/nodir/out.rap",
     "No such file or directory", ""},
    {"WrapOntoADirectory", "wrap {}/fw.elf {}/tree", "{}/tree", "not a regular file", ""},
    {"ElfDumpIntoMissingFolder", "elf-dump {}/fw.elf -o {}/nodir/dump.txt", "{}/nodir/dump.txt",
     "No such file or directory", ""},
    {"ElfDumpOfNonElf", "elf-dump {}/notes.txt -o {}/dump.txt", "{}/notes.txt", "not an ELF file",
     "{}/dump.txt"},
    {"ElfDumpOfNonElfToStandardOutput", "elf-dump {}/notes.txt", "{}/notes.txt", "not an ELF file",
     ""},
    {"RomfsBuildIntoMissingFolder", "romfs build {}/tree {}/nodir/out.img", "{}/nodir/out.img",
     "No such file or directory", ""},
    {"RomfsBuildOfMissingTree", "romfs build {}/missing {}/out.img", "{}/missing",
     "No such file or directory", "{}/out.img"},
    {"RomfsExtractOfNonImage", "romfs extract {}/notes.txt {}/out", "{}/notes.txt", "bad magic",
     "{}/out"},
    {"RomfsListOfMissingPath", "romfs ls {}/good.img NOPE", "{}/good.img", "not found", ""},
    {"BootImagePackOfMissingBlock", "boot-image pack {}/boot.img 0x1={}/missing.bin",
     "{}/missing.bin", "No such file or directory", "{}/boot.img"},
    {"BootImageCheckOfRandomBytes", "boot-image check {}/notes.txt", "{}/notes.txt", "refused", ""},
    {"DemoWorkspaceUnderAFile", "demo-workspace {}/notes.txt/ws", "{}/notes.txt/ws",
     "Not a directory", ""},
    {"DemoWorkspaceOntoAFile", "demo-workspace {}/notes.txt", "{}/notes.txt", "Not a directory",
     ""},
};

class Failure : public Hostile, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(Failure, ExitsNonZeroNamingTheFileAndTheReason) {
    home.WriteFile("fw.elf", ArmElf());
    home.WriteFile("notes.txt", std::string(300, 'n') + "\x01\x02 random bytes, not a format");
    fs::create_directories(home.Dir() / "tree");
    home.WriteFile("tree/a.txt", "a");
    ASSERT_EQ(Run("romfs build " + P("tree") + " " + P("good.img")).status, 0);

    const std::string dir = home.Dir().string();
    const CliResult result = Run(Expand(GetParam().args, dir));
    EXPECT_NE(result.status, 0);
    const std::string message = result.err + result.out; // checks report on standard output
    EXPECT_NE(message.find(Expand(GetParam().file, dir)), std::string::npos) << message;
    EXPECT_NE(message.find(GetParam().reason), std::string::npos) << message;
    if (!GetParam().untouched.empty()) {
        EXPECT_FALSE(fs::exists(Expand(GetParam().untouched, dir)));
    }
    // A failed command never also reports an outcome as fine.
    EXPECT_EQ(result.out.find("written as it is"), std::string::npos) << result.out;
}

INSTANTIATE_TEST_SUITE_P(Cases, Failure, ::testing::ValuesIn(kFailures),
                         [](const auto& info) { return std::string(info.param.name); });

// Odd but allowed: done, with a warning on standard error.
TEST_F(Hostile, NonArmElfIsWrappedWithAWarning) {
    home.WriteFile("x86.elf", ArmElf(62));
    const CliResult result = Run("wrap " + P("x86.elf") + " " + P("x86.rap"));
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.err.find("warning"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("not ARM"), std::string::npos) << result.err;
    EXPECT_TRUE(fs::exists(P("x86.rap")));
}

TEST_F(Hostile, LongVolumeNameIsCutWithAWarning) {
    fs::create_directories(home.Dir() / "tree");
    home.WriteFile("tree/a.txt", "a");
    const CliResult result =
        Run("romfs build " + P("tree") + " " + P("v.img") + " --name ABCDEFGHIJKLMNOPQRST");
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.err.find("longer than 16"), std::string::npos) << result.err;
    EXPECT_NE(Run("romfs check " + P("v.img")).out.find("\"ABCDEFGHIJKLMNOP\""), std::string::npos);
}

TEST_F(Hostile, OutputInsideTheInputTreeIsLeftOutOfTheNextBuild) {
    fs::create_directories(home.Dir() / "tree" / "sub");
    home.WriteFile("tree/a.txt", "a");
    for (int build = 0; build < 2; ++build) {
        const CliResult result = Run("romfs build " + P("tree") + " " + P("tree/sub/own.img"));
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_NE(result.err.find("inside the input tree"), std::string::npos) << result.err;
    }
    const CliResult listed = Run("romfs ls " + P("tree/sub/own.img") + " SUB");
    EXPECT_EQ(listed.status, 0) << listed.err;
    EXPECT_EQ(listed.out.find("OWN.IMG"), std::string::npos) << listed.out;
}

} // namespace
