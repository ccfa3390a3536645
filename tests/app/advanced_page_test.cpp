// The Advanced page in the window: start-up from isp.ini and the working copies, the pickers'
// take-over and saving, the checks of "Wrap Image", and a wrap built off the UI thread.

#include "app/advanced_page.h"
#include "app/control_id.h"
#include "app/station/wrap_image.h"
#include "kestrellib/program/config_files.h"
#include "kestrellib/romfs/romfs_reader.h"
#include "platform/message_box/message_box.h"
#include "segwrap/elf_builder.h"
#include "support/temp_home.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;
using namespace kestrel;
using namespace kestrel::app;

namespace {

void Write(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

template <typename Pred>
bool WaitUntil(Pred pred, int timeoutMs = 10000) {
    QElapsedTimer timer;
    timer.start();
    while (!pred()) {
        if (timer.elapsed() > timeoutMs) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return true;
}

class AdvancedPage : public ::testing::Test {
protected:
    AdvancedPage() {
        previous = platform::SetMessageBoxHandler(
            [this](const std::string& text, const std::string&) { boxes.push_back(text); });
        res = home.Dir() / "res";
        pkg = home.Dir() / "pkg";
        Write(res / ".svn" / "entries", "8\n\ndir\n1234\n");
        Write(pkg / ".svn" / "entries", "8\n\ndir\n77\n");
        Write(res / "fonts" / "a.fnt", "font");
        fs::create_directories(res / "image");
        test::ElfBuilder elf(false, false);
        elf.entry = 0x30000000;
        elf.AddSegment({.type = 1, .virtAddr = 0x30000000, .physAddr = 0x100000, .data = "fw"});
        Write(home.Dir() / "fw.elf", elf.Build());
        config::Write(config::isp::kWrapDescription, "Board");
        config::Write(config::isp::kWrapResource, res.string());
        config::Write(config::isp::kWrapRomFsOutPutName, (home.Dir() / "rom.img").string());
        config::Write(config::isp::kWrapBinary, (home.Dir() / "fw.elf").string());
        config::Write(config::isp::kWrapPackages, pkg.string());
    }
    ~AdvancedPage() override { platform::SetMessageBoxHandler(previous); }

    QLineEdit* Edit(CAdevancedPg& page, int id) { return FindControl<QLineEdit>(&page, id); }
    QPushButton* Button(CAdevancedPg& page, int id) { return FindControl<QPushButton>(&page, id); }

    test::TempHome home;
    fs::path res;
    fs::path pkg;
    std::vector<std::string> boxes;
    platform::MessageBoxHandler previous;
};

TEST_F(AdvancedPage, StartsFromTheKeysAndTheWorkingCopies) {
    CAdevancedPg page;
    EXPECT_EQ(Edit(page, wrap_ids::kResourceVer)->text(), "1234");
    EXPECT_EQ(Edit(page, wrap_ids::kBinaryVer)->text(), "77");
    EXPECT_EQ(Edit(page, wrap_ids::kDescription)->text(), "Board");
    EXPECT_EQ(Edit(page, wrap_ids::kResourceEdit)->text().toStdString(), res.string());
    EXPECT_EQ(Edit(page, wrap_ids::kPackagesEdit)->text().toStdString(), pkg.string());
    EXPECT_FALSE(Edit(page, wrap_ids::kHidden1)->isVisibleTo(&page));
}

TEST_F(AdvancedPage, PickersTakeTheTypedTextsOverAndAlwaysSave) {
    CAdevancedPg page;
    std::optional<std::string> answer;
    std::vector<WrapPickRequest> asked;
    page.SetPicker([&](QWidget*, const WrapPickRequest& r) {
        asked.push_back(r);
        return answer;
    });
    Edit(page, wrap_ids::kDescription)->setText("Typed");

    // Cancelled: the typed text stays in its edit, the stored value is saved unchanged.
    QTest::mouseClick(Button(page, wrap_ids::kBinaryBrowse), Qt::LeftButton);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].kind, WrapPickRequest::Kind::kExistingFile);
    EXPECT_EQ(asked[0].startDir, home.Dir().string());
    EXPECT_EQ(Edit(page, wrap_ids::kDescription)->text(), "Typed");
    EXPECT_EQ(config::Read(config::isp::kWrapDescription), "Board");

    // Confirmed: the choice and the typed texts are taken over, saved and shown; the versions
    // are read again from the new directory.
    Write(home.Dir() / "other" / ".svn" / "entries", "8\n\ndir\n999\n");
    answer = (home.Dir() / "other").string();
    QTest::mouseClick(Button(page, wrap_ids::kResourceBrowse), Qt::LeftButton);
    EXPECT_EQ(asked.back().kind, WrapPickRequest::Kind::kFolder);
    EXPECT_EQ(asked.back().startDir, res.string());
    EXPECT_EQ(config::Read(config::isp::kWrapResource), *answer);
    EXPECT_EQ(config::Read(config::isp::kWrapDescription), "Typed");
    EXPECT_EQ(Edit(page, wrap_ids::kResourceEdit)->text().toStdString(), *answer);
    EXPECT_EQ(Edit(page, wrap_ids::kResourceVer)->text(), "999");
}

TEST_F(AdvancedPage, AVersionErrorIsShownAndNothingIsWritten) {
    CAdevancedPg page;
    Edit(page, wrap_ids::kResourceVer)->setText("12345");
    Edit(page, wrap_ids::kDescription)->setText("Changed");
    QTest::mouseClick(Button(page, wrap_ids::kWrapImage), Qt::LeftButton);
    EXPECT_EQ(boxes,
              (std::vector<std::string>{station::VersionErrorMessage("Resource Ver", "12345")}));
    EXPECT_EQ(config::Read(config::isp::kWrapDescription), "Board");
    EXPECT_FALSE(page.WrapUnderWay());
    EXPECT_FALSE(fs::exists(home.Dir() / "rom.img"));
}

TEST_F(AdvancedPage, AWrapRunsOffTheUiThreadWithTheButtonDisabled) {
    CAdevancedPg page;
    QPushButton* wrap = Button(page, wrap_ids::kWrapImage);
    bool finished = false;
    bool ok = false;
    QObject::connect(&page, &CAdevancedPg::WrapFinished, [&](bool result) {
        finished = true;
        ok = result;
    });
    QTest::mouseClick(wrap, Qt::LeftButton);
    EXPECT_FALSE(wrap->isEnabled()) << "disabled until the build has ended";
    EXPECT_TRUE(page.WrapUnderWay());
    ASSERT_TRUE(WaitUntil([&] { return finished; }));
    EXPECT_TRUE(ok);
    EXPECT_TRUE(wrap->isEnabled());
    EXPECT_TRUE(boxes.empty());
    EXPECT_TRUE(page.ProgressText().contains("rom.img")) << page.ProgressText().toStdString();

    std::string error;
    const auto image = romfs::RomfsImage::Load((home.Dir() / "rom.img").string(), &error);
    ASSERT_TRUE(image) << error;
    EXPECT_EQ(image->Header().versionWord, 0x12340077u);
    EXPECT_TRUE(image->LookupPath("image/4410_mmi.rap", &error)) << error;
}

TEST_F(AdvancedPage, AFailedWrapIsShownToTheOperator) {
    CAdevancedPg page;
    Edit(page, wrap_ids::kBinaryEdit)
        ->setText(QString::fromStdString((home.Dir() / "missing.elf").string()));
    bool finished = false;
    QObject::connect(&page, &CAdevancedPg::WrapFinished, [&](bool) { finished = true; });
    QTest::mouseClick(Button(page, wrap_ids::kWrapImage), Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([&] { return finished; }));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].rfind("Can't wrap the binary file ", 0), 0u) << boxes[0];
    EXPECT_TRUE(Button(page, wrap_ids::kWrapImage)->isEnabled());
    EXPECT_FALSE(fs::exists(home.Dir() / "rom.img"));
}

} // namespace
