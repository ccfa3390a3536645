// The Basic page's start-up from isp.ini and its writes to isp.ini and config.ini.
#include "gui_fixture.h"

#include "kestrellib/program/config_files.h"
#include "platform/module_dir/module_dir.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <gtest/gtest.h>

#include <filesystem>

namespace kestrel::test {
namespace {

namespace isp = config::isp;

std::string IspString(const char* section, const char* key) {
    return config::ReadString(config::kIspIni, section, key);
}

struct ImageTypeCase {
    const char* ini; // isp.ini content
    int radio;       // the radio checked at start-up
    int mode;        // the imageType runs use
};

void PrintTo(const ImageTypeCase& c, std::ostream* os) {
    *os << "radio " << c.radio;
}

class ImageTypeStartUp : public GuiTest, public ::testing::WithParamInterface<ImageTypeCase> {};

TEST_P(ImageTypeStartUp, ChecksTheRadioAndKeepsTheKey) {
    WriteIni("isp.ini", GetParam().ini);
    const std::string before = home_->ReadFile("isp.ini");
    OpenDialog();
    EXPECT_TRUE(Control<QRadioButton>(GetParam().radio)->isChecked());
    EXPECT_EQ(Basic().Page().Settings().imageType, GetParam().mode);
    EXPECT_EQ(home_->ReadFile("isp.ini"), before); // start-up writes nothing
}

INSTANTIATE_TEST_SUITE_P(
    Table, ImageTypeStartUp,
    ::testing::Values(ImageTypeCase{"", app::ids::kProgramAll, 3},
                      ImageTypeCase{"[General]\nImageType=0\n", app::ids::kProgramAll, 3},
                      ImageTypeCase{"[General]\nImageType=4\n", app::ids::kProgramAll, 3},
                      ImageTypeCase{"[General]\nImageType=1\n", app::ids::kBootCodeOnly, 1},
                      ImageTypeCase{"[General]\nImageType=2\n", app::ids::kResourceOnly, 2}));

TEST_F(GuiTest, MissingIspIniStartsWithDefaults) {
    OpenDialog();
    EXPECT_EQ(Control<QLineEdit>(app::ids::kBootCodeEdit)->text(), "");
    EXPECT_TRUE(Control<QCheckBox>(app::ids::kReadVerify)->isChecked());
    EXPECT_TRUE(Control<QCheckBox>(app::ids::kRebuildNandFs)->isChecked());
    EXPECT_TRUE(Control<QCheckBox>(app::ids::kDownloadDemo)->isChecked());
    EXPECT_EQ(Control<QComboBox>(app::ids::kDramList)->currentIndex(), 0);
    EXPECT_EQ(Control<QComboBox>(app::ids::kPlatformList)->currentText(), "Tarn4410");
    EXPECT_EQ(Basic().ModuleDir(), platform::ModuleDirectory());
}

struct ClickCase {
    int control;
    const char* section;
    const char* key;
    const char* written;
};

void PrintTo(const ClickCase& c, std::ostream* os) {
    *os << "control " << c.control;
}

class ClickWrites : public GuiTest, public ::testing::WithParamInterface<ClickCase> {};

TEST_P(ClickWrites, TheKeyAtOnce) {
    OpenDialog();
    Control<QAbstractButton>(GetParam().control)->click();
    EXPECT_EQ(IspString(GetParam().section, GetParam().key), GetParam().written);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ClickWrites,
    ::testing::Values(ClickCase{app::ids::kBootCodeOnly, "General", "ImageType", "1"},
                      ClickCase{app::ids::kResourceOnly, "General", "ImageType", "2"},
                      ClickCase{app::ids::kProgramAll, "General", "ImageType", "3"},
                      ClickCase{app::ids::kReadVerify, "Burn-D", "readverify", "0"},
                      ClickCase{app::ids::kRebuildNandFs, "Burn-D", "rebuild", "0"},
                      ClickCase{app::ids::kDownloadDemo, "Burn-D", "enable", "0"}));

TEST_F(GuiTest, ModeClickIsWhatTheNextRunUses) {
    AddDevice();
    WriteIni("config.ini", "[General]\nItemName=T\n");
    OpenDialog();
    Control<QAbstractButton>(app::ids::kBootCodeOnly)->click();
    Control<QAbstractButton>(app::ids::kReadVerify)->click();
    Basic().OnIsp();
    ASSERT_TRUE(Settle([&] { return !Basic().Page().RunUnderWay(); }));
    EXPECT_EQ(Basic().Page().Job(0).imageType, 1);
    EXPECT_EQ(Basic().Page().Job(0).readVerify, 0);
    EXPECT_EQ(Basic().LogText().count("Begin write resource"), 0);
}

// A click isp.ini cannot keep holds for the window and is named in the log, not in a box; the
// file keeps its bytes.
TEST_F(GuiTest, ASettingTheFileCannotKeepIsNamedInTheLog) {
    WriteIni("isp.ini", "[General]\nImageType=3\n");
    std::filesystem::permissions(home_->Path("isp.ini"), std::filesystem::perms::owner_read);
    const std::string before = home_->ReadFile("isp.ini");
    OpenDialog();
    const int shown = Basic().Page().Settings().readVerify;
    Control<QAbstractButton>(app::ids::kReadVerify)->click();
    EXPECT_EQ(Basic().Page().Settings().readVerify, 1 - shown) << "the click holds for the window";
    const std::string log = Basic().LogText().toStdString();
    EXPECT_NE(log.find("The setting can't be kept: "), std::string::npos) << log;
    EXPECT_NE(log.find("isp.ini"), std::string::npos) << log;
    EXPECT_EQ(home_->ReadFile("isp.ini"), before);
}

TEST_F(GuiTest, CancelledPickerRewritesTheUnchangedPath) {
    WriteIni("isp.ini", "[Redboot]\nname=/images/boot.img\n[Romfs]\nname=old.img\n");
    OpenDialog();
    std::vector<app::PickRequest> asked;
    Basic().SetPicker([&](QWidget*, const app::PickRequest& r) -> std::optional<std::string> {
        asked.push_back(r);
        return std::nullopt;
    });
    config::Write(isp::kRedbootName, std::string("changed elsewhere"));
    Control<QAbstractButton>(app::ids::kBootCodeBrowse)->click();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].kind, app::PickRequest::Kind::kImageFile);
    EXPECT_EQ(asked[0].startDir, "/images/");
    EXPECT_EQ(IspString("Redboot", "name"), "/images/boot.img");
}

TEST_F(GuiTest, ConfirmedPickerRefreshesEveryPathBoxFromThePage) {
    WriteIni("isp.ini", "[Redboot]\nname=boot.img\n[Romfs]\nname=res.img\n");
    OpenDialog();
    Basic().SetPicker([](QWidget*, const app::PickRequest&) -> std::optional<std::string> {
        return std::string("/new/res2.img");
    });
    Control<QLineEdit>(app::ids::kBootCodeEdit)->setText("typed but not taken over");
    Control<QAbstractButton>(app::ids::kResourceBrowse)->click();
    EXPECT_EQ(Control<QLineEdit>(app::ids::kResourceEdit)->text(), "/new/res2.img");
    EXPECT_EQ(Control<QLineEdit>(app::ids::kBootCodeEdit)->text(), "boot.img");
    EXPECT_EQ(IspString("Romfs", "name"), "/new/res2.img");
}

TEST_F(GuiTest, FolderPickerWritesOnlyWhenConfirmed) {
    WriteIni("isp.ini", "[Burn-D]\nDir=/demo\n");
    OpenDialog();
    std::optional<std::string> answer;
    app::PickRequest seen{};
    Basic().SetPicker([&](QWidget*, const app::PickRequest& r) {
        seen = r;
        return answer;
    });
    Control<QAbstractButton>(app::ids::kDemoBrowse)->click();
    EXPECT_EQ(seen.kind, app::PickRequest::Kind::kFolder);
    EXPECT_EQ(seen.title, "Choose Directory");
    EXPECT_EQ(seen.startPath, "/demo");
    config::Write(isp::kDemoDir, std::string("elsewhere"));
    Control<QAbstractButton>(app::ids::kDemoBrowse)->click();
    EXPECT_EQ(IspString("Burn-D", "Dir"), "elsewhere"); // cancelled: nothing written
    answer = "/demo2";
    Control<QAbstractButton>(app::ids::kDemoBrowse)->click();
    EXPECT_EQ(IspString("Burn-D", "Dir"), "/demo2");
    EXPECT_EQ(Control<QLineEdit>(app::ids::kDemoEdit)->text(), "/demo2");
}

TEST_F(GuiTest, DramSelectionCopiesTheNamedValueIntoConfigIni) {
    WriteIni("config.ini",
             "[General]\nItemName=X\n[X2]\n0=hynix\n1=samsung\nhynix=16\nsamsung=255\n");
    OpenDialog();
    Control<QComboBox>(app::ids::kDramList)->setCurrentIndex(1);
    EXPECT_EQ(IspString("General", "Dramtype"), "1");
    EXPECT_EQ(config::ReadString(config::kConfigIni, "X2", "value"), "0xff");
}

TEST_F(GuiTest, MissingConfigIniMakesTheIspPressWriteZeroIntoSectionTwo) {
    WriteIni("isp.ini", "[Redboot]\nname=a.img\n");
    OpenDialog();
    Control<QLineEdit>(app::ids::kBootCodeEdit)->setText("typed.img");
    Basic().OnIsp(); // no device: the run ends at once
    EXPECT_EQ(config::ReadString(config::kConfigIni, "2", "value"), "0x0");
    EXPECT_EQ(IspString("General", "Dramtype"), "0");
    EXPECT_EQ(IspString("Redboot", "name"), "typed.img");
    EXPECT_TRUE(Control(app::ids::kIsp)->isEnabled());
}

TEST_F(GuiTest, StoredDramIndexOutsideTheListSelectsNothing) {
    WriteIni("isp.ini", "[General]\nDramtype=5\n");
    OpenDialog();
    EXPECT_EQ(Control<QComboBox>(app::ids::kDramList)->currentIndex(), -1);
    Basic().OnIsp();
    EXPECT_EQ(IspString("General", "Dramtype"), "-1");
}

TEST_F(GuiTest, RomfsOneRowFollowsItsEnableKeyAndTypedTextIsNotTakenOver) {
    WriteIni("isp.ini", "[Romfs1]\nenable=1\nname=r1.img\n");
    WriteIni("config.ini", "[General]\nItemName=T\n");
    AddDevice();
    OpenDialog();
    EXPECT_FALSE(Control(app::ids::kRomfs1Edit)->isHidden());
    EXPECT_FALSE(Control(app::ids::kRomfs1Label)->isHidden());
    Control<QLineEdit>(app::ids::kRomfs1Edit)->setText("typed.img");
    Basic().OnIsp();
    ASSERT_TRUE(Settle([&] { return !Basic().Page().RunUnderWay(); }));
    EXPECT_EQ(Basic().Page().Job(0).romfs1Path, config::HomePath("r1.img"));
}

TEST_F(GuiTest, HiddenRomfsOneRowGivesRunsAnEmptyPath) {
    WriteIni("isp.ini", "[Romfs1]\nenable=0\nname=r1.img\n");
    WriteIni("config.ini", "[General]\nItemName=T\n");
    AddDevice();
    OpenDialog();
    EXPECT_TRUE(Control(app::ids::kRomfs1Browse)->isHidden());
    Basic().OnIsp();
    ASSERT_TRUE(Settle([&] { return !Basic().Page().RunUnderWay(); }));
    EXPECT_STREQ(Basic().Page().Job(0).romfs1Path, "");
}

} // namespace
} // namespace kestrel::test
