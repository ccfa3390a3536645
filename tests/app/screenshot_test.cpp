// The window in a real X server (Xvfb): the Basic page after a run on three simulated devices,
// grabbed from the screen. The picture is the operator guide's (docs/images/basic-page.png);
// this test writes it to the build folder given in KESTREL_SCREENSHOT.
#include "gui_fixture.h"

#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QSet>

#include <gtest/gtest.h>

namespace kestrel::test {
namespace {

TEST_F(GuiTest, BasicPageAfterARunOnTheScreen) {
    ASSERT_EQ(QGuiApplication::platformName(), "xcb");
    WriteIni("config.ini", "[General]\nItemName=T\n");
    WriteIni("isp.ini", "[Redboot]\nname=/srv/images/redboot_pack.img\n"
                        "[Romfs]\nname=/srv/images/resource.img\n");
    for (int i = 0; i < 3; ++i) {
        AddDevice();
    }
    OpenDialog();
    Basic().Page().SetTickSource([] {
        static std::uint32_t tick = 0;
        return tick += 1200; // each timed step takes a second or so
    });
    dialog_->resize(1000, 640);
    dialog_->show();
    ASSERT_TRUE(WaitFor([&] { return dialog_->isVisible() && dialog_->windowHandle(); }));
    Basic().OnIsp();
    ASSERT_TRUE(WaitFor([&] { return !Basic().Page().RunUnderWay(); }));
    ASSERT_TRUE(WaitFor([&] { return Basic().Sink().Pending() == 0; }));
    WaitFor([] { return false; }, 300); // let the window manager-less server paint

    const QPixmap shot = dialog_->screen()->grabWindow(dialog_->winId());
    ASSERT_FALSE(shot.isNull());
    const QImage image = shot.toImage();
    EXPECT_GE(image.width(), 900);
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 7) {
        for (int x = 0; x < image.width(); x += 7) {
            colours.insert(image.pixel(x, y));
        }
    }
    EXPECT_GT(colours.size(), 8); // widgets, text and slot pictures, not a blank window
    if (const QByteArray out = qgetenv("KESTREL_SCREENSHOT"); !out.isEmpty()) {
        EXPECT_TRUE(shot.save(QString::fromLocal8Bit(out)));
    }
}

} // namespace
} // namespace kestrel::test
