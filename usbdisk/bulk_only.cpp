// The bulk-only transport state machine (usbdisk/bulk_only.h).

#include "usbdisk/bulk_only.h"

#include <algorithm>

namespace kestrel::usbdisk {
namespace {

constexpr std::uint32_t kBadCswSignature = 0x0BAD5553;
constexpr std::uint8_t kCbwFlagIn = 0x80;

std::uint32_t Get32(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::uint32_t>(bytes[at]) | static_cast<std::uint32_t>(bytes[at + 1]) << 8 |
           static_cast<std::uint32_t>(bytes[at + 2]) << 16 |
           static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

void Put32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

} // namespace

BulkOnlyMachine::BulkOnlyMachine(ScsiTarget& target, Fault fault)
    : target_(target), fault_(fault) {}

bool BulkOnlyMachine::FaultActive(FaultKind kind) const {
    return fault_.kind == kind && commands_ > fault_.fromCommand;
}

OutResult BulkOnlyMachine::HostOut(std::span<const std::uint8_t> packet) {
    if (outHalted_) {
        return OutResult::kStall;
    }
    switch (state_) {
    case State::kCommand:
        Begin(packet);
        return OutResult::kAccepted;
    case State::kDataOut: {
        const std::size_t wanted = hostLength_ - data_.size();
        const std::size_t n = std::min(wanted, packet.size());
        data_.insert(data_.end(), packet.begin(), packet.begin() + static_cast<std::ptrdiff_t>(n));
        if (data_.size() < hostLength_) {
            return OutResult::kAccepted;
        }
        if (runAfterOut_) {
            data_.resize(phase_.length); // the host's surplus is discarded (residue below)
            status_ =
                target_.Execute(cdb_, phase_, data_) ? CswStatus::kPassed : CswStatus::kFailed;
        }
        state_ = State::kStatus;
        return OutResult::kAccepted;
    }
    case State::kDataIn:
    case State::kStatus:
    case State::kInvalid:
        // Data-out while the device has data or a status to send: the host broke the protocol.
        outHalted_ = true;
        return OutResult::kStall;
    }
    return OutResult::kStall;
}

void BulkOnlyMachine::Begin(std::span<const std::uint8_t> cbw) {
    const std::uint8_t cdbLength = cbw.size() == kCbwSize ? cbw[14] : 0;
    if (cbw.size() != kCbwSize || Get32(cbw, 0) != kCbwSignature || cdbLength == 0 ||
        cdbLength > 16) {
        state_ = State::kInvalid;
        inHalted_ = true;
        outHalted_ = true;
        return;
    }
    ++commands_;
    tag_ = Get32(cbw, 4);
    hostLength_ = Get32(cbw, 8);
    const bool hostIn = (cbw[12] & kCbwFlagIn) != 0;
    const std::uint8_t lun = cbw[13] & 0x0F;
    cdb_.assign(cbw.begin() + 15, cbw.begin() + 15 + cdbLength);
    data_.clear();
    moved_ = 0;
    runAfterOut_ = false;
    status_ = CswStatus::kPassed;
    residue_ = 0;

    // A logical unit other than 0 does not exist (Get Max LUN answers 0): the command fails.
    const bool exists = lun == 0;
    phase_ = exists ? target_.Expect(cdb_, hostLength_, hostIn) : DataPhase{};
    const DataDirection device = phase_.length == 0 ? DataDirection::kNone : phase_.direction;
    const DataDirection host = hostLength_ == 0
                                   ? DataDirection::kNone
                                   : (hostIn ? DataDirection::kIn : DataDirection::kOut);
    auto run = [&] {
        if (!exists) {
            return CswStatus::kFailed;
        }
        return target_.Execute(cdb_, phase_, data_) ? CswStatus::kPassed : CswStatus::kFailed;
    };

    if (host == DataDirection::kNone) {
        if (device == DataDirection::kNone) {
            Finish(run(), 0);
        } else {
            Finish(CswStatus::kPhaseError, 0); // the device would move data the host will not
        }
        return;
    }
    if (host == DataDirection::kIn) {
        if (device == DataDirection::kOut || phase_.length > hostLength_) {
            status_ = CswStatus::kPhaseError; // the command does not run; nothing is sent
        } else {
            status_ = run();
            if (data_.size() > hostLength_) {
                data_.resize(hostLength_);
            }
        }
        residue_ = hostLength_ - static_cast<std::uint32_t>(data_.size());
        state_ = State::kDataIn;
        return;
    }
    // The host sends data.
    if (device == DataDirection::kOut && phase_.length <= hostLength_) {
        runAfterOut_ = true;
        residue_ = hostLength_ - phase_.length;
    } else if (device == DataDirection::kNone) {
        status_ = run(); // the data is taken and discarded
        residue_ = hostLength_;
    } else {
        status_ = CswStatus::kPhaseError;
        residue_ = hostLength_;
    }
    state_ = State::kDataOut;
}

void BulkOnlyMachine::Finish(CswStatus status, std::uint32_t residue) {
    status_ = status;
    residue_ = residue;
    state_ = State::kStatus;
}

std::vector<std::uint8_t> BulkOnlyMachine::Csw() const {
    std::vector<std::uint8_t> csw(kCswSize, 0);
    Put32(csw, 0, FaultActive(FaultKind::kBadCswSignature) ? kBadCswSignature : kCswSignature);
    Put32(csw, 4, tag_);
    Put32(csw, 8, residue_);
    csw[12] = static_cast<std::uint8_t>(status_);
    return csw;
}

InResult BulkOnlyMachine::HostIn(std::size_t maxLength) {
    if (FaultActive(FaultKind::kStalledBulkIn) &&
        (state_ == State::kDataIn || state_ == State::kStatus)) {
        inHalted_ = true;
    }
    if (inHalted_) {
        return {InResult::kStall, {}};
    }
    switch (state_) {
    case State::kDataIn: {
        const std::size_t remaining = data_.size() - moved_;
        if (remaining == 0) {
            // The device has less than the host announced and the last packet was full: the
            // data phase ends with a zero-length packet, or a stall when asked.
            state_ = State::kStatus;
            if (stallShortIn_) {
                inHalted_ = true;
                return {InResult::kStall, {}};
            }
            return {InResult::kData, {}};
        }
        const std::size_t n = std::min(maxLength, remaining);
        InResult result{
            InResult::kData,
            std::vector<std::uint8_t>(data_.begin() + static_cast<std::ptrdiff_t>(moved_),
                                      data_.begin() + static_cast<std::ptrdiff_t>(moved_ + n))};
        moved_ += n;
        if (moved_ == data_.size() && (moved_ == hostLength_ || n < maxLength)) {
            state_ = State::kStatus; // all announced bytes sent, or a short packet ended it
        }
        return result;
    }
    case State::kStatus: {
        state_ = State::kCommand;
        return {InResult::kData, Csw()};
    }
    case State::kInvalid:
        inHalted_ = true;
        return {InResult::kStall, {}};
    case State::kCommand:
    case State::kDataOut:
        break;
    }
    return {InResult::kNak, {}};
}

void BulkOnlyMachine::MassStorageReset() {
    state_ = State::kCommand;
    data_.clear();
    moved_ = 0;
}

void BulkOnlyMachine::ClearHalt(bool bulkIn) {
    if (state_ == State::kInvalid) {
        return; // stays stalled until the mass-storage reset
    }
    if (bulkIn) {
        if (!FaultActive(FaultKind::kStalledBulkIn)) {
            inHalted_ = false;
        }
    } else {
        outHalted_ = false;
    }
}

void BulkOnlyMachine::PortReset() {
    MassStorageReset();
    inHalted_ = false;
    outHalted_ = false;
}

} // namespace kestrel::usbdisk
