#include "cli/run_record.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>

using namespace kestrel::cli;

namespace {

TEST(RunRecord, OneLineWithEveryField) {
    RunRecord r;
    r.time = "2026-12-07T11:02:03.250Z";
    r.mode = 3;
    r.device = 2;
    r.devId = "USBSTOR\\DISK&VEN_USB_DISK&PROD_MASS_STORAGE&REV_1.02";
    r.geometry = NandGeometry{2048, 64, 1024};
    r.loaderLevel = 2;
    r.loaderClass = 0;
    r.images = {{"boot", "C:\\b\"x.img", 4096, "ab12"},
                {"romfs", "r.img", std::nullopt, std::nullopt}};
    r.badBlocks = {{"romfs", 2}};
    r.durationsMs = {{"boot", 1500}, {"resource", 9000}};
    r.ok = false;
    r.message = "Device:2 ==> Error in write resource.\n\x01";
    EXPECT_EQ(ToJsonLine(r),
              "{\"time\":\"2026-12-07T11:02:03.250Z\",\"mode\":3,\"device\":2,"
              "\"devId\":\"USBSTOR\\\\DISK&VEN_USB_DISK&PROD_MASS_STORAGE&REV_1.02\","
              "\"geometry\":{\"pageSize\":2048,\"pagesPerBlock\":64,\"blockCount\":1024},"
              "\"loaderLevel\":2,\"loaderClass\":0,\"bootDeviceId\":null,"
              "\"images\":[{\"role\":\"boot\",\"path\":\"C:\\\\b\\\"x.img\",\"bytes\":4096,"
              "\"sha256\":\"ab12\"},{\"role\":\"romfs\",\"path\":\"r.img\",\"bytes\":null,"
              "\"sha256\":null}],\"badBlocks\":{\"romfs\":2},"
              "\"durationsMs\":{\"boot\":1500,\"resource\":9000},\"result\":\"failed\","
              "\"message\":\"Device:2 ==> Error in write resource.\\n\\u0001\"}");
}

TEST(RunRecord, EightBitTextIsEscapedSoTheLineStaysValidUtf8) {
    EXPECT_EQ(JsonString("caf\xe9"), "\"caf\\u00e9\"");
}

TEST(RunRecord, AppendsOneLinePerDeviceAndKeepsEarlierRuns) {
    kestrel::test::TempHome home;
    RunRecord a, b;
    a.device = 0;
    b.device = 1;
    std::string error;
    ASSERT_TRUE(AppendRunRecords(home.Path(kRunRecordFile), {a, b}, error));
    ASSERT_TRUE(AppendRunRecords(home.Path(kRunRecordFile), {a}, error));
    const std::string text = home.ReadFile(kRunRecordFile);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3);
    EXPECT_EQ(text.rfind(ToJsonLine(a) + "\n"), text.size() - ToJsonLine(a).size() - 1);
    EXPECT_FALSE(AppendRunRecords(home.Path("no/such/dir/x.jsonl"), {a}, error));
    EXPECT_FALSE(error.empty());
}

} // namespace
