// The bulk-only transport machine against a scripted SCSI target: the thirteen cases of host
// and device expectations, CBW validity and reset recovery, tags, short transfers, stalls and
// the deliberate faults.

#include "usbdisk/bulk_only.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace kestrel::usbdisk {
namespace {

using Dir = DataDirection;

class ScriptedTarget : public ScsiTarget {
public:
    DataPhase phase;
    std::size_t sends = 0; // data-in bytes the command produces
    bool passes = true;
    int runs = 0;
    std::vector<std::uint8_t> received;

    DataPhase Expect(std::span<const std::uint8_t>, std::uint32_t, bool) override { return phase; }
    bool Execute(std::span<const std::uint8_t>, DataPhase,
                 std::vector<std::uint8_t>& data) override {
        ++runs;
        if (phase.direction == Dir::kIn) {
            data.assign(sends, 0xA5);
        } else {
            received = data;
        }
        return passes;
    }
};

std::vector<std::uint8_t> Cbw(std::uint32_t tag, std::uint32_t length, bool in,
                              std::uint8_t lun = 0) {
    std::vector<std::uint8_t> cbw(kCbwSize, 0);
    auto put = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            cbw[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
        }
    };
    put(0, kCbwSignature);
    put(4, tag);
    put(8, length);
    cbw[12] = in ? 0x80 : 0x00;
    cbw[13] = lun;
    cbw[14] = 10;
    cbw[15] = 0x28;
    return cbw;
}

struct Csw {
    std::uint32_t signature = 0;
    std::uint32_t tag = 0;
    std::uint32_t residue = 0;
    int status = -1;
};

Csw ParseCsw(const InResult& in) {
    Csw csw;
    if (in.kind != InResult::kData || in.bytes.size() != kCswSize) {
        return csw;
    }
    std::memcpy(&csw.signature, in.bytes.data(), 4);
    std::memcpy(&csw.tag, in.bytes.data() + 4, 4);
    std::memcpy(&csw.residue, in.bytes.data() + 8, 4);
    csw.status = in.bytes[12];
    return csw;
}

// One of the thirteen cases: what the host announces, what the device expects and produces.
struct Case {
    const char* name;
    Dir host;
    std::uint32_t hostLength;
    Dir device;
    std::uint32_t deviceLength;
    std::size_t sends;
    bool runs;
    CswStatus status;
    std::uint32_t residue;
    std::size_t dataIn; // bytes the host receives in the data phase
};

class ThirteenCases : public ::testing::TestWithParam<Case> {};

TEST_P(ThirteenCases, StatusResidueAndData) {
    const Case& c = GetParam();
    ScriptedTarget target;
    target.phase = {c.device, c.deviceLength};
    target.sends = c.sends;
    BulkOnlyMachine machine(target);
    const std::uint32_t tag = 0x1234ABCD;
    ASSERT_EQ(machine.HostOut(Cbw(tag, c.hostLength, c.host == Dir::kIn)), OutResult::kAccepted);
    if (c.host == Dir::kOut) {
        std::vector<std::uint8_t> packet(512, 0x5A);
        for (std::uint32_t sent = 0; sent < c.hostLength; sent += 512) {
            packet.resize(std::min<std::uint32_t>(512, c.hostLength - sent));
            ASSERT_EQ(machine.HostOut(packet), OutResult::kAccepted);
        }
    }
    if (c.host == Dir::kIn) {
        const InResult data = machine.HostIn(c.hostLength);
        ASSERT_EQ(data.kind, InResult::kData);
        EXPECT_EQ(data.bytes.size(), c.dataIn);
    }
    const Csw csw = ParseCsw(machine.HostIn(kCswSize));
    EXPECT_EQ(csw.signature, kCswSignature);
    EXPECT_EQ(csw.tag, tag);
    EXPECT_EQ(csw.status, static_cast<int>(c.status));
    EXPECT_EQ(csw.residue, c.residue);
    EXPECT_EQ(target.runs, c.runs ? 1 : 0);
    EXPECT_EQ(machine.CurrentState(), BulkOnlyMachine::State::kCommand);
    if (c.runs && c.device == Dir::kOut) {
        EXPECT_EQ(target.received.size(), c.deviceLength); // the host's surplus is not passed on
    }
}

INSTANTIATE_TEST_SUITE_P(
    BulkOnly, ThirteenCases,
    ::testing::Values(
        Case{"HnDn", Dir::kNone, 0, Dir::kNone, 0, 0, true, CswStatus::kPassed, 0, 0},
        Case{"HnDi", Dir::kNone, 0, Dir::kIn, 36, 36, false, CswStatus::kPhaseError, 0, 0},
        Case{"HnDo", Dir::kNone, 0, Dir::kOut, 512, 0, false, CswStatus::kPhaseError, 0, 0},
        Case{"HiDn", Dir::kIn, 512, Dir::kNone, 0, 0, true, CswStatus::kPassed, 512, 0},
        Case{"HiMoreThanDi", Dir::kIn, 512, Dir::kIn, 36, 36, true, CswStatus::kPassed, 476, 36},
        Case{"HiEqualsDi", Dir::kIn, 2048, Dir::kIn, 2048, 2048, true, CswStatus::kPassed, 0, 2048},
        Case{"HiLessThanDi", Dir::kIn, 16, Dir::kIn, 36, 36, false, CswStatus::kPhaseError, 16, 0},
        Case{"HoDi", Dir::kOut, 512, Dir::kIn, 36, 36, false, CswStatus::kPhaseError, 512, 0},
        Case{"HoDn", Dir::kOut, 512, Dir::kNone, 0, 0, true, CswStatus::kPassed, 512, 0},
        Case{"HiDo", Dir::kIn, 512, Dir::kOut, 512, 0, false, CswStatus::kPhaseError, 512, 0},
        Case{"HoMoreThanDo", Dir::kOut, 1024, Dir::kOut, 512, 0, true, CswStatus::kPassed, 512, 0},
        Case{"HoEqualsDo", Dir::kOut, 1536, Dir::kOut, 1536, 0, true, CswStatus::kPassed, 0, 0},
        Case{"HoLessThanDo", Dir::kOut, 256, Dir::kOut, 512, 0, false, CswStatus::kPhaseError, 256,
             0}),
    [](const auto& info) { return std::string(info.param.name); });

class BulkOnlyTest : public ::testing::Test {
protected:
    ScriptedTarget target;
    BulkOnlyMachine machine{target};
};

TEST_F(BulkOnlyTest, InvalidCbwStallsBothEndpointsUntilResetRecovery) {
    for (auto bad : {std::vector<std::uint8_t>(30, 0), std::vector<std::uint8_t>(kCbwSize, 0)}) {
        SCOPED_TRACE(bad.size());
        BulkOnlyMachine m(target);
        EXPECT_EQ(m.HostOut(bad), OutResult::kAccepted);
        EXPECT_EQ(m.HostIn(kCswSize).kind, InResult::kStall);
        EXPECT_EQ(m.HostOut(Cbw(1, 0, false)), OutResult::kStall);
        m.ClearHalt(true);
        m.ClearHalt(false);
        EXPECT_EQ(m.HostIn(kCswSize).kind, InResult::kStall) << "clear-halt alone is no reset";
        m.MassStorageReset();
        m.ClearHalt(true);
        m.ClearHalt(false);
        ASSERT_EQ(m.HostOut(Cbw(77, 0, false)), OutResult::kAccepted);
        EXPECT_EQ(ParseCsw(m.HostIn(kCswSize)).tag, 77u);
    }
    EXPECT_EQ(target.runs, 2);
}

TEST_F(BulkOnlyTest, EveryCswCarriesItsCommandsTag) {
    for (std::uint32_t tag : {1u, 0xFFFFFFFFu, 0x80000000u}) {
        ASSERT_EQ(machine.HostOut(Cbw(tag, 0, false)), OutResult::kAccepted);
        EXPECT_EQ(ParseCsw(machine.HostIn(kCswSize)).tag, tag);
    }
}

TEST_F(BulkOnlyTest, DataInSpreadOverSeveralRequests) {
    target.phase = {Dir::kIn, 1536};
    target.sends = 1536;
    machine.HostOut(Cbw(5, 1536, true));
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(machine.HostIn(512).bytes.size(), 512u);
    }
    const Csw csw = ParseCsw(machine.HostIn(kCswSize));
    EXPECT_EQ(csw.residue, 0u);
    EXPECT_EQ(csw.status, 0);
}

TEST_F(BulkOnlyTest, ShortDataEndingOnAFullPacketIsClosedByAZeroLengthPacket) {
    target.phase = {Dir::kIn, 1024};
    target.sends = 512;
    machine.HostOut(Cbw(6, 1024, true));
    EXPECT_EQ(machine.HostIn(512).bytes.size(), 512u);
    const InResult end = machine.HostIn(512);
    EXPECT_EQ(end.kind, InResult::kData);
    EXPECT_TRUE(end.bytes.empty());
    EXPECT_EQ(ParseCsw(machine.HostIn(kCswSize)).residue, 512u);
}

TEST_F(BulkOnlyTest, ShortDataEndsInAStallWhenAskedAndTheStatusFollowsClearHalt) {
    machine.SetStallShortIn(true);
    target.phase = {};
    machine.HostOut(Cbw(7, 512, true));
    EXPECT_EQ(machine.HostIn(512).kind, InResult::kStall);
    EXPECT_TRUE(machine.InHalted());
    EXPECT_EQ(machine.HostIn(kCswSize).kind, InResult::kStall);
    machine.ClearHalt(true);
    const Csw csw = ParseCsw(machine.HostIn(kCswSize));
    EXPECT_EQ(csw.tag, 7u);
    EXPECT_EQ(csw.residue, 512u);
}

TEST_F(BulkOnlyTest, FailedCommandReportsFailedWithFullResidue) {
    target.phase = {Dir::kIn, 64};
    target.sends = 0;
    target.passes = false;
    machine.HostOut(Cbw(8, 64, true));
    EXPECT_TRUE(machine.HostIn(64).bytes.empty());
    const Csw csw = ParseCsw(machine.HostIn(kCswSize));
    EXPECT_EQ(csw.status, static_cast<int>(CswStatus::kFailed));
    EXPECT_EQ(csw.residue, 64u);
}

TEST_F(BulkOnlyTest, OnlyLogicalUnitZeroExists) {
    machine.HostOut(Cbw(9, 0, false, 1));
    EXPECT_EQ(ParseCsw(machine.HostIn(kCswSize)).status, static_cast<int>(CswStatus::kFailed));
    EXPECT_EQ(target.runs, 0);
}

TEST_F(BulkOnlyTest, NothingToSendBeforeACommandAndNoDataWhileAStatusIsDue) {
    EXPECT_EQ(machine.HostIn(kCswSize).kind, InResult::kNak);
    machine.HostOut(Cbw(10, 0, false));
    EXPECT_EQ(machine.HostOut(std::vector<std::uint8_t>(512, 0)), OutResult::kStall);
    EXPECT_TRUE(machine.OutHalted());
}

TEST_F(BulkOnlyTest, BadCswSignatureFaultStartsAtItsCommand) {
    machine.SetFault({FaultKind::kBadCswSignature, 1});
    machine.HostOut(Cbw(1, 0, false));
    EXPECT_EQ(ParseCsw(machine.HostIn(kCswSize)).signature, kCswSignature);
    machine.HostOut(Cbw(2, 0, false));
    const Csw csw = ParseCsw(machine.HostIn(kCswSize));
    EXPECT_NE(csw.signature, kCswSignature);
    EXPECT_EQ(csw.tag, 2u);
}

TEST_F(BulkOnlyTest, StalledBulkInFaultSurvivesClearHaltAndPortReset) {
    machine.SetFault({FaultKind::kStalledBulkIn, 0});
    machine.HostOut(Cbw(1, 0, false));
    EXPECT_EQ(machine.HostIn(kCswSize).kind, InResult::kStall);
    machine.ClearHalt(true);
    EXPECT_EQ(machine.HostIn(kCswSize).kind, InResult::kStall);
    machine.PortReset();
    EXPECT_FALSE(machine.InHalted());
    machine.HostOut(Cbw(2, 0, false));
    EXPECT_EQ(machine.HostIn(kCswSize).kind, InResult::kStall);
}

} // namespace
} // namespace kestrel::usbdisk
