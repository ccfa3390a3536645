#include "app/station/run_record.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>

using namespace kestrel::station;

namespace {

TEST(RunRecord, OneLineWithEveryField) {
    RunRecord r;
    r.time = "2026-12-07T11:02:03.250Z";
    r.version = "1.3.0.10";
    r.port = "7&1A2B3C4D&0";
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
    r.verified = false;
    r.message = "Device:2 ==> Error in write resource.\n\x01";
    EXPECT_EQ(ToJsonLine(r),
              "{\"time\":\"2026-12-07T11:02:03.250Z\",\"version\":\"1.3.0.10\",\"mode\":3,"
              "\"device\":2,"
              "\"devId\":\"USBSTOR\\\\DISK&VEN_USB_DISK&PROD_MASS_STORAGE&REV_1.02\","
              "\"port\":\"7&1A2B3C4D&0\","
              "\"geometry\":{\"pageSize\":2048,\"pagesPerBlock\":64,\"blockCount\":1024},"
              "\"loaderLevel\":2,\"loaderClass\":0,\"bootDeviceId\":null,"
              "\"images\":[{\"role\":\"boot\",\"path\":\"C:\\\\b\\\"x.img\",\"bytes\":4096,"
              "\"sha256\":\"ab12\"},{\"role\":\"romfs\",\"path\":\"r.img\",\"bytes\":null,"
              "\"sha256\":null}],\"badBlocks\":{\"romfs\":2},"
              "\"durationsMs\":{\"boot\":1500,\"resource\":9000},\"result\":\"failed\","
              "\"verified\":false,"
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

TEST(RunRecord, TheLastRecordOfADeviceNamesTheImageItsRunWrote) {
    kestrel::test::TempHome home;
    RunRecord a;
    a.devId = "DEV&A";
    a.images = {{"boot", "/w/first\"run.img", std::nullopt, std::nullopt}};
    RunRecord b = a;
    b.devId = "DEV&B";
    b.images = {{"boot", "/w/other.img", std::nullopt, std::nullopt}};
    RunRecord later = a;
    later.images = {{"romfs", "/w/r.img", std::nullopt, std::nullopt},
                    {"boot", "/w/second.img", std::nullopt, std::nullopt}};
    std::string error;
    const std::string path = home.Path(kRunRecordFile);
    ASSERT_TRUE(AppendRunRecords(path, {a, b}, error));
    EXPECT_EQ(LastRecordedImage(path, "DEV&A", "boot"), "/w/first\"run.img");
    ASSERT_TRUE(AppendRunRecords(path, {later}, error));
    EXPECT_EQ(LastRecordedImage(path, "DEV&A", "boot"), "/w/second.img");
    EXPECT_EQ(LastRecordedImage(path, "DEV&B", "boot"), "/w/other.img");
    EXPECT_EQ(LastRecordedImage(path, "DEV&C", "boot"), std::nullopt);
    EXPECT_EQ(LastRecordedImage(path, "DEV&B", "romfs1"), std::nullopt);
}

} // namespace
