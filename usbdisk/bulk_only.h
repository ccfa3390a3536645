#pragma once
// The bulk-only transport of a USB mass-storage device, device side: the state machine between
// the two bulk endpoints and a SCSI target. The host sends a 31-byte command block wrapper
// (CBW) on bulk-out, data moves in the direction the CBW announces, and the device answers
// with a 13-byte command status wrapper (CSW) on bulk-in carrying the CBW's tag, the status
// (passed, failed, phase error) and the residue (announced minus moved bytes).
//
// The machine follows the thirteen cases of host and device expectations: where the device
// would move less than the host announced it ends the data phase with a short packet (or, if
// asked, a stall) and reports the residue; where the two disagree on the direction or the
// device would move more, it reports a phase error without running the command. A CBW that is
// not 31 bytes or lacks its signature stalls both endpoints until a mass-storage reset.
//
// Deliberate faults for tests of the host's recovery: a wrong CSW signature, or a bulk-in
// endpoint that stays halted whatever the host does, from a given command on.
//
// Not thread-safe: one owner (the USB link) calls it.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace kestrel::usbdisk {

inline constexpr std::uint32_t kCbwSignature = 0x43425355; // "USBC"
inline constexpr std::uint32_t kCswSignature = 0x53425355; // "USBS"
inline constexpr std::size_t kCbwSize = 31;
inline constexpr std::size_t kCswSize = 13;

enum class CswStatus : std::uint8_t { kPassed = 0, kFailed = 1, kPhaseError = 2 };

enum class DataDirection : std::uint8_t { kNone, kIn, kOut };

// What a command expects of the data phase, known before it runs.
struct DataPhase {
    DataDirection direction = DataDirection::kNone;
    std::uint32_t length = 0; // bytes the device would move at most
};

// The SCSI device behind the transport.
class ScsiTarget {
public:
    virtual ~ScsiTarget() = default;
    // The data phase of a command; hostLength and hostIn are what the CBW announced (a command
    // whose length is not in its command block, like the vendor command, takes the host's).
    virtual DataPhase Expect(std::span<const std::uint8_t> cdb, std::uint32_t hostLength,
                             bool hostIn) = 0;
    // Runs a command. For data-in commands `data` is empty on entry and holds what the device
    // sends on return (at most the expected length); for data-out commands it holds the
    // received bytes. True for GOOD status, false for CHECK CONDITION (sense kept for REQUEST
    // SENSE).
    virtual bool Execute(std::span<const std::uint8_t> cdb, DataPhase phase,
                         std::vector<std::uint8_t>& data) = 0;
};

enum class FaultKind : std::uint8_t {
    kNone,
    kBadCswSignature, // every CSW carries a wrong signature
    kStalledBulkIn,   // bulk-in halts and no CLEAR_FEATURE releases it
};

struct Fault {
    FaultKind kind = FaultKind::kNone;
    std::uint32_t fromCommand = 0; // 0-based count of valid CBWs after which it starts
};

// The outcome of a packet the host sent on bulk-out.
enum class OutResult : std::uint8_t { kAccepted, kStall };

// The answer to a bulk-in request.
struct InResult {
    enum Kind : std::uint8_t { kData, kStall, kNak } kind = kNak;
    std::vector<std::uint8_t> bytes; // kData: what goes to the host (may be short or empty)
};

class BulkOnlyMachine {
public:
    enum class State : std::uint8_t {
        kCommand, // waiting for a CBW
        kDataOut, // receiving announced data
        kDataIn,  // sending data
        kStatus,  // CSW ready
        kInvalid, // bad CBW: both endpoints stalled until a mass-storage reset
    };

    explicit BulkOnlyMachine(ScsiTarget& target, Fault fault = {});

    // A packet on bulk-out (a CBW or data-out).
    OutResult HostOut(std::span<const std::uint8_t> packet);
    // A bulk-in request of up to maxLength bytes.
    InResult HostIn(std::size_t maxLength);
    // The class request Bulk-Only Mass Storage Reset: ready for a CBW; halts stay until cleared.
    void MassStorageReset();
    // CLEAR_FEATURE(ENDPOINT_HALT) on bulk-in (true) or bulk-out (false).
    void ClearHalt(bool bulkIn);
    // A USB port reset: everything back to power-on (faults stay armed).
    void PortReset();

    // Arms a fault; its fromCommand counts valid CBWs since power-on.
    void SetFault(Fault fault) { fault_ = fault; }

    // End a short data-in phase with a stall instead of a short packet.
    void SetStallShortIn(bool stall) { stallShortIn_ = stall; }

    State CurrentState() const { return state_; }
    bool InHalted() const { return inHalted_; }
    bool OutHalted() const { return outHalted_; }
    std::uint32_t Commands() const { return commands_; }

private:
    void Begin(std::span<const std::uint8_t> cbw);
    void Finish(CswStatus status, std::uint32_t residue);
    std::vector<std::uint8_t> Csw() const;
    bool FaultActive(FaultKind kind) const;

    ScsiTarget& target_;
    Fault fault_;
    bool stallShortIn_ = false;
    State state_ = State::kCommand;
    bool inHalted_ = false;
    bool outHalted_ = false;
    std::uint32_t commands_ = 0; // valid CBWs seen

    // The command in progress.
    std::uint32_t tag_ = 0;
    std::uint32_t hostLength_ = 0;
    std::vector<std::uint8_t> cdb_;
    DataPhase phase_;
    std::vector<std::uint8_t> data_; // data-in to send, or data-out received so far
    std::size_t moved_ = 0;          // data-in bytes sent
    bool runAfterOut_ = false;       // data-out phase ends in running the command
    CswStatus status_ = CswStatus::kPassed;
    std::uint32_t residue_ = 0;
};

} // namespace kestrel::usbdisk
