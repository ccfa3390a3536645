// The soak's verdict per unit from a run's end, record and read-back lines.
#include "bench/soak/soak_verdict.h"

#include <gtest/gtest.h>

#include <ostream>

namespace kestrel::soak {
namespace {

// Every unit shares the DevId, as a batch does; only the port tells them apart.
std::string Record(int unit, const char* result, const char* message) {
    return std::string("{\"time\":\"t\",\"mode\":3,\"device\":") + std::to_string(unit) +
           ",\"devId\":\"USBSTOR\\\\DISK&VEN_USB_DISK&PROD_MASS_STORAGE&REV_1.00\",\"port\":"
           "\"KESTREL&1-1." +
           std::to_string(unit + 1) + "&0\",\"result\":\"" + result + "\",\"message\":\"" +
           message + "\"}\n";
}

std::string ReadBack(int index, int unit, bool ok) {
    return "Device " + std::to_string(index) +
           " (USBSTOR\\DISK&VEN_USB_DISK&PROD_MASS_STORAGE&REV_1.00, port KESTREL&1-1." +
           std::to_string(unit + 1) + "&0): boot ok; romfs " +
           (ok ? "ok -> VERIFIED"
               : "the image read back differs -> "
                 "MISMATCH") +
           "\n";
}

struct VerdictCase {
    const char* name;
    RunEnd end;
    Outcome unit0;
    Outcome unit1;
    const char* detail0; // part of unit 0's detail
    friend void PrintTo(const VerdictCase& c, std::ostream* os) { *os << c.name; }
};

RunEnd Exited(std::string record, std::string out, std::string err = "", int status = 0) {
    RunEnd end;
    end.status = status;
    end.record = std::move(record);
    end.out = std::move(out);
    end.err = std::move(err);
    return end;
}

RunEnd Ended(RunEnd::How how) {
    RunEnd end;
    end.how = how;
    end.record = Record(0, "ok", "") + Record(1, "ok", "");
    end.out = ReadBack(0, 0, true) + ReadBack(1, 1, true);
    return end;
}

class Verdicts : public ::testing::TestWithParam<VerdictCase> {};

TEST_P(Verdicts, JudgeEachUnitByItsDevId) {
    const VerdictCase& c = GetParam();
    const auto verdicts = Judge(c.end, 2);
    ASSERT_EQ(verdicts.size(), 2u);
    EXPECT_EQ(verdicts[0].outcome, c.unit0) << verdicts[0].detail;
    EXPECT_EQ(verdicts[1].outcome, c.unit1) << verdicts[1].detail;
    EXPECT_NE(verdicts[0].detail.find(c.detail0), std::string::npos) << verdicts[0].detail;
}

INSTANTIATE_TEST_SUITE_P(
    Table, Verdicts,
    ::testing::Values(
        VerdictCase{"both verified",
                    Exited(Record(0, "ok", "") + Record(1, "ok", ""),
                           ReadBack(0, 0, true) + ReadBack(1, 1, true)),
                    Outcome::kVerified, Outcome::kVerified, "VERIFIED"},
        VerdictCase{"read-back order differs from the run's",
                    Exited(Record(0, "ok", "") + Record(1, "ok", ""),
                           ReadBack(0, 1, true) + ReadBack(1, 0, false), "", 1),
                    Outcome::kOkButWrong, Outcome::kVerified, "MISMATCH"},
        VerdictCase{"ok without a read-back line",
                    Exited(Record(0, "ok", "") + Record(1, "ok", ""), ReadBack(0, 1, true)),
                    Outcome::kOkButWrong, Outcome::kVerified, "no read-back line"},
        VerdictCase{"failures with and without a message",
                    Exited(Record(0, "failed", "Device0-->[WriteVendorSector]: error id: 31") +
                               Record(1, "failed", ""),
                           ""),
                    Outcome::kFailedWithMessage, Outcome::kFailedSilently, "error id: 31"},
        VerdictCase{"the last record of a unit counts",
                    Exited(Record(0, "failed", "gone") + Record(0, "ok", "") + Record(1, "ok", ""),
                           ReadBack(0, 0, true) + ReadBack(1, 1, true)),
                    Outcome::kVerified, Outcome::kVerified, ""},
        VerdictCase{"unreported units", Exited(Record(1, "ok", ""), ReadBack(0, 1, true)),
                    Outcome::kFailedSilently, Outcome::kVerified, "no run record"},
        VerdictCase{"a run refused with its reason",
                    Exited("", "", "Image is error, can't support this H/W!\nmore\n", 3),
                    Outcome::kFailedWithMessage, Outcome::kFailedWithMessage,
                    "can't support this H/W!"},
        VerdictCase{"hang", Ended(RunEnd::How::kTimedOut), Outcome::kHang, Outcome::kHang, ""},
        VerdictCase{"crash", Ended(RunEnd::How::kCrashed), Outcome::kCrash, Outcome::kCrash, ""}));

} // namespace
} // namespace kestrel::soak
