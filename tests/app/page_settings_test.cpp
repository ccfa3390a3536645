// The Basic page's settings as the run reads and writes them.

#include "app/station/page_settings.h"
#include "support/temp_home.h"

#include "kestrellib/program/config_files.h"
#include "kestrellib/program/config_overrides.h"

#include <gtest/gtest.h>

using namespace kestrel;
using namespace kestrel::station;

namespace {

struct ImageTypeCase {
    const char* ini;
    int mode;
    friend void PrintTo(const ImageTypeCase& c, std::ostream* os) {
        const std::string ini = c.ini;
        const auto eq = ini.find('=');
        *os << "ImageType " << (eq == std::string::npos ? "missing" : ini.substr(eq + 1, 1));
    }
};

class ImageType : public ::testing::TestWithParam<ImageTypeCase> {};

TEST_P(ImageType, UnknownValuesRunAsProgramAllWithoutRewritingTheKey) {
    test::TempHome home;
    home.WriteFile("isp.ini", GetParam().ini);
    EXPECT_EQ(LoadPageSettings().imageType, GetParam().mode);
    EXPECT_EQ(home.ReadFile("isp.ini"), GetParam().ini);
}

INSTANTIATE_TEST_SUITE_P(Values, ImageType,
                         ::testing::Values(ImageTypeCase{"[General]\nImageType=1\n", 1},
                                           ImageTypeCase{"[General]\nImageType=2\n", 2},
                                           ImageTypeCase{"[General]\nImageType=3\n", 3},
                                           ImageTypeCase{"[General]\nImageType=0\n", 3},
                                           ImageTypeCase{"[General]\nImageType=4\n", 3},
                                           ImageTypeCase{"", 3}));

TEST(PageSettings, MissingIspIniReadsAsDefaults) {
    test::TempHome home;
    const PageSettings s = LoadPageSettings();
    EXPECT_EQ(s.bootCodePath, "");
    EXPECT_EQ(s.readVerify, 1);
    EXPECT_EQ(s.rebuildNandFs, 1);
    EXPECT_EQ(s.copyDemo, 1);
    EXPECT_EQ(s.romfs1Shown, 0);
    EXPECT_EQ(s.dramIndex, 0);
}

TEST(PageSettings, ReadsPathsOptionsAndRomfsOneRow) {
    test::TempHome home;
    home.WriteFile("isp.ini", "[Redboot]\nname=C:\\boot.pkg\n[Romfs]\nname=res.img\n"
                              "[Romfs1]\nname=second.img\nenable=1\n[Burn-D]\nDir=demo\n"
                              "readverify=0\nrebuild=0\nenable=0\n[General]\nDramtype=1\n");
    const PageSettings s = LoadPageSettings();
    EXPECT_EQ(s.bootCodePath, "C:\\boot.pkg");
    EXPECT_EQ(s.resourcePath, "res.img");
    EXPECT_EQ(s.romfs1Path, "second.img");
    EXPECT_EQ(s.demoDir, "demo");
    EXPECT_EQ(s.readVerify, 0);
    EXPECT_EQ(s.rebuildNandFs, 0);
    EXPECT_EQ(s.copyDemo, 0);
    EXPECT_EQ(s.romfs1Shown, 1);
    EXPECT_EQ(s.dramIndex, 1);
}

TEST(DramType, CopiesTheNamedValueAsHexadecimal) {
    test::TempHome home;
    home.WriteFile("config.ini",
                   "[General]\nItemName=X\n[X2]\n0=hynix\n1=samsung\nhynix=17\nsamsung=300\n");
    ApplyDramType(1);
    EXPECT_EQ(config::ReadString(config::kConfigIni, "X2", "value"), "0x12c");
    EXPECT_EQ(config::Read(config::isp::kDramType), 1);
    ApplyDramType(0);
    EXPECT_EQ(config::ReadString(config::kConfigIni, "X2", "value"), "0x11");
}

TEST(DramType, MissingConfigGetsZeroInSectionTwo) {
    test::TempHome home;
    ApplyDramType(1);
    EXPECT_EQ(config::ReadString(config::kConfigIni, "2", "value"), "0x0");
    EXPECT_EQ(config::Read(config::isp::kDramType), 1);
}

TEST(DramType, MissingItemWritesZeroIntoSectionTwo) {
    test::TempHome home;
    home.WriteFile("config.ini", "[General]\nItemNum=0\n");
    ApplyDramType(0);
    EXPECT_EQ(config::ReadString(config::kConfigIni, "2", "value"), "0x0");
}

struct DramCase {
    const char* name;
    int index;
    bool found;
    int value;
};

class DramForOneRun : public ::testing::TestWithParam<DramCase> {};

// The Dram setting of one run reaches every config.ini reader through an override while the
// file keeps its bytes; an index that names no setting is not found.
TEST_P(DramForOneRun, IsSeenByReadersWithoutWritingConfigIni) {
    test::TempHome home;
    const std::string config = "[General]\nItemName=X\n[X2]\n0=hynix\n1=samsung\n2=none\n"
                               "3=\nhynix=17\nsamsung=0x12c\nvalue=0x5\n";
    home.WriteFile("config.ini", config);
    const DramCase& c = GetParam();
    const DramSetting dram = ResolveDramType(c.index);
    EXPECT_EQ(dram.section, "X2");
    EXPECT_EQ(dram.found, c.found);
    if (dram.found) {
        const config::OneRunOverrides run;
        config::SetOverride(config::kConfigIni, dram.section, "value", dram.ValueText());
        EXPECT_EQ(config::cfg::ItemValue(2), c.value);
        EXPECT_EQ(config::ReadString(config::kConfigIni, "x2", "VALUE"), dram.ValueText());
    }
    EXPECT_EQ(config::cfg::ItemValue(2), 5) << "the override ends with the run";
    EXPECT_EQ(home.ReadFile("config.ini"), config);
}

INSTANTIATE_TEST_SUITE_P(Cases, DramForOneRun,
                         ::testing::Values(DramCase{"first", 0, true, 17},
                                           DramCase{"hex", 1, true, 300},
                                           DramCase{"names_a_missing_key", 2, false, 0},
                                           DramCase{"empty_entry", 3, false, 0},
                                           DramCase{"no_entry", 5, false, 0},
                                           DramCase{"negative", -1, false, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
