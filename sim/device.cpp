#include "sim/device.h"

#include "platform/clock/clock.h"
#include "platform/devices/usbstor_path.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <utility>

namespace kestrel::sim {

using platform::devices::Direction;
using platform::devices::kErrorGenFailure;
using platform::devices::kErrorInvalidParameter;
using platform::devices::kErrorNotConnected;

namespace {

constexpr std::uint32_t kParameterMarkPowerOn = 0;
constexpr std::uint32_t kDiskWindowPowerOn = 1;

// What each sub-command carries: direction, the loader level it needs, its data length (0 for
// any length, kPageLength for one page).
constexpr std::uint32_t kAnyLength = 0xFFFFFFFF;
constexpr std::uint32_t kPageLength = 0xFFFFFFFE;
constexpr std::uint32_t kIdLength = 0xFFFFFFFD;

struct SubCommandRule {
    std::uint8_t sub;
    Direction direction;
    int minLoaderLevel;
    std::uint32_t length;
};

constexpr SubCommandRule kSubCommands[] = {
    {0x01, Direction::kOut, 0, kAnyLength},
    {0x02, Direction::kIn, 0, kAnyLength},
    {0x05, Direction::kNone, 0, 0},
    {0x07, Direction::kNone, 0, 0},
    {0x10, Direction::kIn, 0, kIdLength},
    {0x11, Direction::kNone, 0, 0},
    {0x12, Direction::kOut, 0, kPageLength},
    {0x13, Direction::kIn, 0, kPageLength},
    {0x14, Direction::kOut, 2, kBootTableSize},
    {0x15, Direction::kIn, 2, 4},
    {0x16, Direction::kOut, 2, 4},
    {0x20, Direction::kOut, 1, kNandInfoSize},
    {0x30, Direction::kOut, 1, kSysInfoBlockSize},
    {0x31, Direction::kIn, 1, kSysInfoBlockSize},
};

const SubCommandRule* FindSubCommand(std::uint8_t sub) {
    for (const SubCommandRule& rule : kSubCommands) {
        if (rule.sub == sub) {
            return &rule;
        }
    }
    return nullptr;
}

std::uint8_t Log2(std::uint32_t value) {
    std::uint8_t n = 0;
    while (value > 1) {
        value >>= 1;
        ++n;
    }
    return n;
}

void Put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

void Put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    Put16(b, at, v);
    Put16(b, at + 2, v >> 16);
}

std::vector<std::uint8_t> FactorySysInfo(const DeviceConfig& config) {
    std::vector<std::uint8_t> record(kSysInfoBlockSize, 0);
    std::memcpy(record.data(), "SYAL", 4);
    record[4] = 0x01; // loader's own bytes, passed through by the host
    record[5] = 0x00;
    record[6] = static_cast<std::uint8_t>(config.loaderLevel);
    std::memcpy(record.data() + 12, "EYAL", 4);
    Put16(record, 16, config.sysInfoBlock);
    Put16(record, 18, config.bootAreaOffset);
    return record;
}

} // namespace

const char* HostErrorName(HostErrorKind kind) {
    switch (kind) {
    case HostErrorKind::kProgramNotErased:
        return "program into a page that is not erased";
    case HostErrorKind::kPageOrder:
        return "page programmed out of order in its block";
    case HostErrorKind::kUpperPageFirst:
        return "upper page programmed before its lower page";
    case HostErrorKind::kLengthMismatch:
        return "wrong data length";
    case HostErrorKind::kAddressOutOfRange:
        return "address out of range";
    case HostErrorKind::kMisalignedAddress:
        return "misaligned memory address";
    case HostErrorKind::kUnsupportedCommand:
        return "unsupported sub-command";
    case HostErrorKind::kWrongDirection:
        return "wrong data direction";
    case HostErrorKind::kMalformedCommand:
        return "malformed command block";
    }
    return "host error";
}

LatencyModel LatencyModel::Zero() {
    LatencyModel m;
    m.commandUs = 0;
    m.bytesPerUs = 0; // 0: data costs nothing
    m.pageReadUs = 0;
    m.pageProgramUs = 0;
    m.blockEraseUs = 0;
    m.scale = 0;
    return m;
}

LatencyModel LatencyModel::ForPageSize(std::uint32_t pageSize) {
    LatencyModel m;
    if (pageSize > 2048) {
        m.pageReadUs = 50;
        m.pageProgramUs = 1300;
        m.blockEraseUs = 3000;
    }
    return m;
}

std::map<std::uint8_t, std::uint8_t> DeviceConfig::DefaultParameterRegisters() {
    return {{0xA0, 0x00}, {0xA1, 0x05}, {0xB0, 0x0A}, {0xB1, 0x0F}, {0xC9, 0x01},
            {0xA7, 0x3C}, {0xAD, 0x14}, {0xAE, 0x28}, {0xAF, 0x32}};
}

DeviceConfig DeviceConfig::ForChip(const Chip& chip) {
    DeviceConfig config;
    config.chip = chip;
    config.latency = LatencyModel::ForPageSize(chip.pageSize);
    return config;
}

DeviceConfig DeviceConfig::ForClass(int idClass) {
    auto chip = ChipForClass(idClass);
    return ForChip(chip ? *chip : DefaultChip());
}

static DeviceConfig WithInstance(DeviceConfig config) {
    if (config.instance.empty()) {
        config.instance = platform::devices::UsbStorInstance(config.usbSerial, config.port, "0");
    }
    return config;
}

Device::Device(DeviceConfig config)
    : config_(WithInstance(std::move(config))),
      path_(platform::devices::UsbStorInterfacePath(config_.vendor, config_.product,
                                                    config_.revision, config_.instance)),
      friendlyName_(platform::devices::UsbStorFriendlyName(config_.vendor, config_.product)),
      nand_(config_), controller_(config_.parameterRegisters), failures_(config_.failures),
      sysInfo_(FactorySysInfo(config_)), bootDeviceId_(config_.bootDeviceId),
      pacing_(std::chrono::duration_cast<std::chrono::steady_clock::duration>(
          std::chrono::duration<double, std::micro>(
              std::max(0.0, config_.latency.sleepQuantumUs)))) {
    if (!config_.loaderSignature) {
        // A loader without a signature is an old one: it behaves as level 0.
        config_.loaderLevel = 0;
        config_.loaderClass = 0;
    }
    PowerOnMemory(false);
}

Device::~Device() {
    {
        std::lock_guard guard(restartLock_);
        restartCancel_ = true;
    }
    restartWake_.notify_all();
    if (restarter_.joinable()) {
        restarter_.join();
    }
}

bool Device::IsProductionModel() const {
    auto trimmed = [](std::string s) {
        while (!s.empty() && s.back() == ' ') {
            s.pop_back();
        }
        return s;
    };
    return trimmed(config_.vendor) == platform::devices::kModelVendor &&
           trimmed(config_.product) == platform::devices::kModelProduct;
}

void Device::PowerOnMemory(bool keepParameterMark) {
    const std::uint32_t mark =
        keepParameterMark ? memory_.Word(kParameterMarkWord) : kParameterMarkPowerOn;
    memory_.Clear();
    if (config_.loaderSignature) {
        const std::uint8_t signature[8] = {
            0xA5,
            0x01,
            static_cast<std::uint8_t>((config_.loaderLevel & 0x0F) | (config_.loaderClass << 4)),
            0x5A,
            0,
            0,
            0,
            0};
        memory_.Write(kLoaderSignatureAddress, signature, sizeof signature);
    }
    memory_.SetWord(kDiskWindowWord, kDiskWindowPowerOn);
    memory_.SetWord(kParameterMarkWord, mark);
}

// ---- plug state ------------------------------------------------------------------------------

bool Device::Present() const {
    std::lock_guard guard(lock_);
    return present_;
}

std::uint64_t Device::Generation() const {
    std::lock_guard guard(lock_);
    return generation_;
}

void Device::SetPlugListener(std::function<void(std::uint32_t, const std::string&)> fn) {
    std::lock_guard guard(lock_);
    listener_ = std::move(fn);
}

std::string Device::InterfacePath() const {
    std::lock_guard guard(lock_);
    return path_;
}

void Device::Notify(std::uint32_t event) {
    std::function<void(std::uint32_t, const std::string&)> listener;
    std::string path;
    {
        std::lock_guard guard(lock_);
        listener = listener_;
        path = path_;
    }
    if (listener) {
        listener(event, path);
    }
}

void Device::Unplug() {
    {
        std::lock_guard guard(lock_);
        if (!present_) {
            return;
        }
        present_ = false;
        ++generation_;
        PowerOnMemory(false);
        controller_.PowerCycle();
    }
    Notify(platform::devices::kDeviceRemoveComplete);
}

void Device::Replug() {
    {
        std::lock_guard guard(lock_);
        if (present_) {
            return;
        }
        present_ = true;
        ++generation_;
    }
    Notify(platform::devices::kDeviceArrival);
}

void Device::ReplugOnPort(const std::string& port) {
    {
        std::lock_guard guard(lock_);
        if (present_) {
            return;
        }
        config_.port = port;
        config_.instance = platform::devices::UsbStorInstance(config_.usbSerial, port, "0");
        path_ = platform::devices::UsbStorInterfacePath(config_.vendor, config_.product,
                                                        config_.revision, config_.instance);
    }
    Replug();
}

void Device::Restart() {
    Restart(config_.restartDelayMs);
}

void Device::Restart(std::uint32_t delayMs) {
    WaitForRestart();
    {
        std::lock_guard guard(lock_);
        if (!present_) {
            return;
        }
        present_ = false;
        ++generation_;
        PowerOnMemory(true);
        controller_.ResetRegisters();
    }
    Notify(platform::devices::kDeviceRemoveComplete);
    ReplugLater(delayMs);
}

void Device::ReplugLater(std::uint32_t delayMs) {
    restarter_ = std::thread([this, delayMs] {
        const double scale = platform::SleepScale();
        {
            std::unique_lock wait(restartLock_);
            restartWake_.wait_for(wait, std::chrono::duration<double, std::milli>(delayMs * scale),
                                  [this] { return restartCancel_; });
            if (restartCancel_) {
                return;
            }
        }
        Replug();
    });
}

void Device::WaitForRestart() {
    if (restarter_.joinable() && restarter_.get_id() != std::this_thread::get_id()) {
        restarter_.join();
    }
}

// ---- host side -------------------------------------------------------------------------------

int Device::Execute(std::uint64_t generation, const platform::devices::ScsiRequest& request) {
    const auto issued = std::chrono::steady_clock::now();
    double costUs = 0;
    int result = 0;
    bool pulled = false;
    {
        std::lock_guard guard(lock_);
        if (!present_ || generation != generation_) {
            return kErrorNotConnected;
        }
        pulled = !cablePulled_ && config_.unplugAfterCommands &&
                 commands_ == *config_.unplugAfterCommands;
        cablePulled_ = cablePulled_ || pulled;
    }
    if (pulled) {
        // The cable comes out as this command arrives: the command never reaches the device.
        WaitForRestart();
        Unplug();
        if (config_.replugAfterMs) {
            ReplugLater(*config_.replugAfterMs);
        }
        return kErrorNotConnected;
    }
    {
        std::lock_guard guard(lock_);
        if (!present_ || generation != generation_) {
            return kErrorNotConnected;
        }
        ++commands_;
        result = Run(request, costUs);
        if (config_.commandLog) {
            CommandRecord record;
            record.cdbLength = std::min<std::uint8_t>(request.cdbLength, 16);
            std::memcpy(record.cdb.data(), request.cdb, record.cdbLength);
            record.direction = request.direction;
            record.length = request.length;
            record.result = result;
            if (log_.size() >= kCommandLogLimit) {
                log_.pop_front();
            }
            log_.push_back(record);
        }
        busyUs_ += costUs;
    }
    Delay(costUs, issued);
    return result;
}

void Device::Delay(double costUs, std::chrono::steady_clock::time_point issued) {
    const double scale = config_.latency.scale * platform::SleepScale();
    if (costUs <= 0 || scale <= 0) {
        return;
    }
    using namespace std::chrono;
    const auto cost =
        duration_cast<steady_clock::duration>(duration<double, std::micro>(costUs * scale));
    std::optional<steady_clock::time_point> until;
    {
        std::lock_guard guard(lock_);
        until = pacing_.Command(issued, cost);
    }
    if (until) {
        std::this_thread::sleep_until(*until);
    }
    std::lock_guard guard(lock_);
    pacing_.Returned(steady_clock::now());
}

bool Device::TakeFailure(std::uint8_t sub, int& code) {
    for (FailureRule& rule : failures_) {
        if (rule.subCommand >= 0 && rule.subCommand != sub) {
            continue;
        }
        if (rule.skip > 0) {
            --rule.skip;
            continue;
        }
        if (rule.count == 0) {
            continue;
        }
        if (rule.count > 0) {
            --rule.count;
        }
        code = rule.errorCode;
        return true;
    }
    return false;
}

void Device::NoteHostError(HostErrorKind kind, std::uint8_t sub, std::uint32_t address,
                           std::uint32_t length, std::string detail) {
    hostErrors_.push_back({kind, sub, address, length, std::move(detail)});
}

int Device::Run(const platform::devices::ScsiRequest& request, double& costUs) {
    const LatencyModel& lat = config_.latency;
    costUs = lat.commandUs;
    if (lat.bytesPerUs > 0) {
        costUs += request.length / lat.bytesPerUs;
    }
    if (request.cdbLength != 10 || request.cdb[0] != kVendorOpcode) {
        NoteHostError(HostErrorKind::kMalformedCommand, request.cdbLength > 1 ? request.cdb[1] : 0,
                      0, request.length, "operation code or command length");
        return kErrorGenFailure;
    }
    const std::uint8_t* cdb = request.cdb;
    const std::uint8_t sub = cdb[1];
    const std::uint32_t address = static_cast<std::uint32_t>(cdb[4]) << 24 |
                                  static_cast<std::uint32_t>(cdb[5]) << 16 |
                                  static_cast<std::uint32_t>(cdb[6]) << 8 | cdb[7];
    if (cdb[2] != 0 || cdb[3] != 0 || cdb[8] != 0 || cdb[9] != 0) {
        NoteHostError(HostErrorKind::kMalformedCommand, sub, address, request.length,
                      "reserved bytes not zero");
    }
    int code = 0;
    if (!failures_.empty() && TakeFailure(sub, code)) {
        return code;
    }
    const SubCommandRule* rule = FindSubCommand(sub);
    if (rule == nullptr || config_.loaderLevel < rule->minLoaderLevel) {
        NoteHostError(HostErrorKind::kUnsupportedCommand, sub, address, request.length,
                      rule == nullptr ? "unknown sub-command" : "loader level too low");
        return kErrorGenFailure;
    }
    const Direction direction = request.length == 0 ? Direction::kNone : request.direction;
    if (direction != rule->direction &&
        !(rule->direction != Direction::kNone && direction == Direction::kNone)) {
        NoteHostError(HostErrorKind::kWrongDirection, sub, address, request.length, "");
        return kErrorGenFailure;
    }
    if (request.length != 0 && request.buffer == nullptr) {
        return kErrorInvalidParameter;
    }
    std::uint32_t expected = rule->length;
    if (expected == kPageLength) {
        const bool disk = memory_.Word(kDiskWindowWord) == 0;
        expected = disk ? request.length : config_.chip.pageSize;
    } else if (expected == kIdLength) {
        expected = config_.loaderLevel == 0 ? kOldIdRecordSize : kNandInfoSize;
    }
    if (expected != kAnyLength && request.length != expected) {
        // The loader takes exactly the transfer the sub-command carries and rejects any other.
        NoteHostError(HostErrorKind::kLengthMismatch, sub, address, request.length,
                      "expected " + std::to_string(expected));
        return kErrorGenFailure;
    }
    return RunSub(sub, address, direction, static_cast<std::uint8_t*>(request.buffer),
                  request.length, costUs);
}

int Device::RunSub(std::uint8_t sub, std::uint32_t address, Direction direction, std::uint8_t* data,
                   std::uint32_t length, double& costUs) {
    (void)direction;
    const LatencyModel& lat = config_.latency;
    const Chip& chip = config_.chip;
    auto copyOut = [&](const std::vector<std::uint8_t>& source) {
        const std::size_t n = std::min<std::size_t>(length, source.size());
        std::memcpy(data, source.data(), n);
        std::memset(data + n, 0, length - n);
    };
    auto takeIn = [&](std::size_t size) {
        std::vector<std::uint8_t> bytes(size, 0);
        std::memcpy(bytes.data(), data, std::min<std::size_t>(length, size));
        return bytes;
    };
    switch (sub) {
    case 0x01:
    case 0x02: {
        if (address % 4 != 0) {
            NoteHostError(HostErrorKind::kMisalignedAddress, sub, address, length, "");
            return kErrorGenFailure;
        }
        const bool ok =
            sub == 0x01 ? MemoryWrite(address, data, length) : MemoryRead(address, data, length);
        if (!ok) {
            NoteHostError(HostErrorKind::kAddressOutOfRange, sub, address, length, "");
            return kErrorGenFailure;
        }
        return 0;
    }
    case 0x05:
        startedPrograms_.push_back(address);
        return 0;
    case 0x07:
        ++dramInits_;
        return 0;
    case 0x10:
        copyOut(IdRecordLocked());
        return 0;
    case 0x11:
        if (!nand_.ValidPage(address)) {
            NoteHostError(HostErrorKind::kAddressOutOfRange, sub, address, length, "page");
            return kErrorGenFailure;
        }
        costUs += lat.blockEraseUs;
        return nand_.EraseBlockOf(address) ? 0 : kErrorGenFailure;
    case 0x12:
    case 0x13: {
        if (memory_.Word(kDiskWindowWord) == 0) {
            const std::uint64_t offset = static_cast<std::uint64_t>(address) * kDiskUnit;
            if (sub == 0x12) {
                DiskWrite(offset, data, length);
            } else {
                DiskRead(offset, data, length);
            }
            return 0;
        }
        if (!nand_.ValidPage(address)) {
            NoteHostError(HostErrorKind::kAddressOutOfRange, sub, address, length, "page");
            return kErrorGenFailure;
        }
        if (sub == 0x12) {
            costUs += lat.pageProgramUs;
            return ProgramOutcome(nand_.Program(address, data, length), sub, address, length, "");
        } else {
            const std::size_t n = std::min<std::size_t>(length, chip.pageSize);
            nand_.Read(address, data, n);
            std::memset(data + n, 0, length - n);
            costUs += lat.pageReadUs;
        }
        return 0;
    }
    case 0x14: {
        auto table = takeIn(kBootTableSize);
        DiskWrite(0, table.data(), table.size());
        bootTables_.push_back(std::move(table));
        return 0;
    }
    case 0x15: {
        std::vector<std::uint8_t> id(4);
        Put32(id, 0, bootDeviceId_);
        copyOut(id);
        return 0;
    }
    case 0x16: {
        const auto bytes = takeIn(4);
        bootDeviceId_ = static_cast<std::uint32_t>(bytes[0]) | bytes[1] << 8 | bytes[2] << 16 |
                        static_cast<std::uint32_t>(bytes[3]) << 24;
        bootDeviceIdWrites_.push_back(bootDeviceId_);
        return 0;
    }
    case 0x20:
        nandInfoWrites_.push_back(takeIn(kNandInfoSize));
        return 0;
    case 0x30: {
        if (!nand_.ValidPage(address)) {
            NoteHostError(HostErrorKind::kAddressOutOfRange, sub, address, length, "page");
            return kErrorGenFailure;
        }
        auto block = takeIn(kSysInfoBlockSize);
        // The loader keeps the record and programs it into the page the host names.
        costUs += lat.pageProgramUs;
        const int result =
            ProgramOutcome(nand_.Program(address, block.data(),
                                         std::min<std::size_t>(block.size(), chip.pageSize)),
                           sub, address, length, "system-information page");
        if (result != 0) {
            return result;
        }
        sysInfo_ = block;
        sysInfoWrites_.push_back({address, std::move(block)});
        return 0;
    }
    case 0x31:
        copyOut(sysInfo_);
        return 0;
    default:
        return kErrorGenFailure; // not reached: unknown sub-commands are refused earlier
    }
}

int Device::ProgramOutcome(NandArray::ProgramResult result, std::uint8_t sub, std::uint32_t page,
                           std::uint32_t length, const char* what) {
    switch (result) {
    case NandArray::ProgramResult::kDone:
        return 0;
    case NandArray::ProgramResult::kNotErased:
        NoteHostError(HostErrorKind::kProgramNotErased, sub, page, length, what);
        return 0; // carried out as the chip would: bits only cleared
    case NandArray::ProgramResult::kOutOfOrder:
        NoteHostError(HostErrorKind::kPageOrder, sub, page, length, what);
        return kErrorGenFailure;
    case NandArray::ProgramResult::kUpperFirst:
        NoteHostError(HostErrorKind::kUpperPageFirst, sub, page, length, what);
        return kErrorGenFailure;
    case NandArray::ProgramResult::kBadBlockStatus:
        return kErrorGenFailure;
    }
    return kErrorGenFailure;
}

bool Device::MemoryWrite(std::uint32_t address, const std::uint8_t* data, std::uint32_t length) {
    if (length > (std::uint64_t{1} << 32) - address) {
        return false;
    }
    const std::uint64_t end = static_cast<std::uint64_t>(address) + length;
    if (end <= kControllerBase || address >= kControllerEnd) {
        return memory_.Write(address, data, length);
    }
    // The part inside the controller window goes word by word to the registers.
    for (std::uint64_t at = address; at < end; at += 4) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(4, end - at));
        const auto a = static_cast<std::uint32_t>(at);
        const std::uint8_t* src = data + (at - address);
        if (NandController::InWindow(a)) {
            std::uint32_t word = controller_.ReadWord(a);
            for (std::size_t i = 0; i < n; ++i) {
                word = (word & ~(0xFFu << (8 * i))) | static_cast<std::uint32_t>(src[i]) << (8 * i);
            }
            controller_.WriteWord(a, word);
        } else {
            memory_.Write(a, src, n);
        }
    }
    return true;
}

bool Device::MemoryRead(std::uint32_t address, std::uint8_t* data, std::uint32_t length) const {
    if (length > (std::uint64_t{1} << 32) - address) {
        return false;
    }
    const std::uint64_t end = static_cast<std::uint64_t>(address) + length;
    if (end <= kControllerBase || address >= kControllerEnd) {
        return memory_.Read(address, data, length);
    }
    for (std::uint64_t at = address; at < end; at += 4) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(4, end - at));
        const auto a = static_cast<std::uint32_t>(at);
        std::uint8_t* dst = data + (at - address);
        if (NandController::InWindow(a)) {
            const std::uint32_t word = controller_.ReadWord(a);
            for (std::size_t i = 0; i < n; ++i) {
                dst[i] = static_cast<std::uint8_t>(word >> (8 * i));
            }
        } else {
            memory_.Read(a, dst, n);
        }
    }
    return true;
}

void Device::DiskWrite(std::uint64_t offset, const std::uint8_t* data, std::size_t length) {
    while (length > 0) {
        auto [it, inserted] = disk_.try_emplace(offset / kDiskUnit);
        if (inserted) {
            it->second.fill(0);
        }
        const std::size_t at = offset % kDiskUnit;
        const std::size_t n = std::min<std::size_t>(length, kDiskUnit - at);
        std::memcpy(it->second.data() + at, data, n);
        data += n;
        offset += n;
        length -= n;
    }
}

void Device::DiskRead(std::uint64_t offset, std::uint8_t* data, std::size_t length) const {
    while (length > 0) {
        const std::size_t at = offset % kDiskUnit;
        const std::size_t n = std::min<std::size_t>(length, kDiskUnit - at);
        auto it = disk_.find(offset / kDiskUnit);
        if (it == disk_.end()) {
            std::memset(data, 0, n);
        } else {
            std::memcpy(data, it->second.data() + at, n);
        }
        data += n;
        offset += n;
        length -= n;
    }
}

std::vector<std::uint8_t> Device::IdRecordLocked() const {
    if (config_.idRecord) {
        return *config_.idRecord;
    }
    const Chip& chip = config_.chip;
    const std::uint32_t page = chip.pageSize;
    const bool ecc = chip.eccMode == 1;
    const std::uint32_t spare = ecc ? page / 16 : page / 32;
    const std::uint32_t spareA = ecc ? 64 : 32;
    const std::uint32_t spareB = ecc ? 44 : 32;
    if (config_.loaderLevel == 0) {
        std::vector<std::uint8_t> record(kOldIdRecordSize, 0);
        Put16(record, 0, chip.pagesPerBlock == 256 ? 16 : chip.pagesPerBlock);
        Put16(record, 2, page + spare);
        Put16(record, 4, page);
        Put16(record, 6, spareA);
        Put16(record, 8, spareB);
        Put16(record, 10, chip.blockCount);
        return record;
    }
    std::vector<std::uint8_t> record(kNandInfoSize, 0);
    Put16(record, 0, chip.pagesPerBlock);
    Put16(record, 2, page + spare);
    Put16(record, 4, page);
    Put16(record, 6, ecc ? page / 1024 * 44 : page / 32);
    Put16(record, 8, spareA);
    Put16(record, 10, spareB);
    Put16(record, 12, chip.blockCount);
    record[14] = Log2(chip.blockCount);
    record[15] = chip.eccMode;
    record[22] = Log2(chip.pagesPerBlock);
    Put16(record, 24, spare);
    const std::size_t idLength = std::min<std::size_t>(chip.id.size(), 20);
    Put32(record, 28, static_cast<std::uint32_t>(idLength));
    std::memcpy(record.data() + 32, chip.id.data(), idLength);
    return record;
}

// ---- faults and device-side views ------------------------------------------------------------

void Device::AddFailure(const FailureRule& rule) {
    std::lock_guard guard(lock_);
    failures_.push_back(rule);
}

void Device::ClearFailures() {
    std::lock_guard guard(lock_);
    failures_.clear();
}

std::vector<std::uint8_t> Device::PageBytes(std::uint64_t page) const {
    std::lock_guard guard(lock_);
    return nand_.PageBytes(page);
}

std::vector<std::uint8_t> Device::ReadPage(std::uint64_t page) const {
    std::lock_guard guard(lock_);
    std::vector<std::uint8_t> bytes(config_.chip.pageSize, 0xFF);
    if (nand_.ValidPage(page)) {
        nand_.Read(page, bytes.data(), bytes.size());
    }
    return bytes;
}

bool Device::IsPageErased(std::uint64_t page) const {
    std::lock_guard guard(lock_);
    return nand_.IsPageErased(page);
}

std::uint32_t Device::PageProgramsSinceErase(std::uint64_t page) const {
    std::lock_guard guard(lock_);
    return nand_.PageProgramsSinceErase(page);
}

BlockStats Device::BlockStatsOf(std::uint32_t block) const {
    std::lock_guard guard(lock_);
    return nand_.Stats(block);
}

bool Device::IsBlockBad(std::uint32_t block) const {
    std::lock_guard guard(lock_);
    return nand_.IsBlockBad(block);
}

std::vector<std::uint8_t> Device::Memory(std::uint32_t address, std::size_t length) const {
    std::lock_guard guard(lock_);
    std::vector<std::uint8_t> out(length, 0);
    MemoryRead(address, out.data(), static_cast<std::uint32_t>(length));
    return out;
}

std::uint32_t Device::MemoryWord(std::uint32_t address) const {
    const auto b = Memory(address, 4);
    return static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
           static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24;
}

void Device::SetMemoryWord(std::uint32_t address, std::uint32_t value) {
    std::lock_guard guard(lock_);
    const std::uint8_t b[4] = {
        static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
        static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
    MemoryWrite(address, b, 4);
}

std::uint8_t Device::ParameterRegister(std::uint8_t reg) const {
    std::lock_guard guard(lock_);
    return controller_.Parameter(reg);
}

std::map<std::uint8_t, std::uint8_t> Device::ParameterRegisters() const {
    std::lock_guard guard(lock_);
    return controller_.Parameters();
}

std::vector<ParameterChange> Device::ParameterHistory() const {
    std::lock_guard guard(lock_);
    return controller_.History();
}

std::vector<std::uint32_t> Device::ControllerModeWrites() const {
    std::lock_guard guard(lock_);
    return controller_.ModeWrites();
}

std::vector<std::uint8_t> Device::SysInfoRecord() const {
    std::lock_guard guard(lock_);
    return sysInfo_;
}

std::vector<SysInfoWrite> Device::SysInfoWrites() const {
    std::lock_guard guard(lock_);
    return sysInfoWrites_;
}

std::vector<std::vector<std::uint8_t>> Device::BootTables() const {
    std::lock_guard guard(lock_);
    return bootTables_;
}

std::vector<std::uint8_t> Device::DiskBytes(std::uint64_t offset, std::size_t length) const {
    std::lock_guard guard(lock_);
    std::vector<std::uint8_t> out(length, 0);
    DiskRead(offset, out.data(), length);
    return out;
}

void Device::StoreDiskBytes(std::uint64_t offset, const std::uint8_t* data, std::size_t length) {
    std::lock_guard guard(lock_);
    DiskWrite(offset, data, length);
}

std::uint32_t Device::BootDeviceId() const {
    std::lock_guard guard(lock_);
    return bootDeviceId_;
}

std::vector<std::uint32_t> Device::BootDeviceIdWrites() const {
    std::lock_guard guard(lock_);
    return bootDeviceIdWrites_;
}

std::vector<std::vector<std::uint8_t>> Device::NandInfoWrites() const {
    std::lock_guard guard(lock_);
    return nandInfoWrites_;
}

std::vector<std::uint32_t> Device::StartedPrograms() const {
    std::lock_guard guard(lock_);
    return startedPrograms_;
}

std::uint32_t Device::DramInitCount() const {
    std::lock_guard guard(lock_);
    return dramInits_;
}

std::vector<std::uint8_t> Device::IdRecord() const {
    std::lock_guard guard(lock_);
    return IdRecordLocked();
}

std::vector<HostError> Device::HostErrors() const {
    std::lock_guard guard(lock_);
    return hostErrors_;
}

void Device::ClearHostErrors() {
    std::lock_guard guard(lock_);
    hostErrors_.clear();
}

std::vector<CommandRecord> Device::CommandLog() const {
    std::lock_guard guard(lock_);
    return {log_.begin(), log_.end()};
}

void Device::ClearCommandLog() {
    std::lock_guard guard(lock_);
    log_.clear();
}

std::uint64_t Device::CommandCount() const {
    std::lock_guard guard(lock_);
    return commands_;
}

double Device::BusyMicroseconds() const {
    std::lock_guard guard(lock_);
    return busyUs_;
}

} // namespace kestrel::sim
