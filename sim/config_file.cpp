#include "sim/config_file.h"

#include "sim/farm.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace kestrel::sim {
namespace {

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
        s.remove_suffix(1);
    }
    return s;
}

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

bool ParseUnsigned(std::string_view text, std::uint64_t max, std::uint64_t& out) {
    const std::string s(Trim(text));
    if (s.empty() || s[0] == '-' || s[0] == '+') {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    const unsigned long long v = std::strtoull(s.c_str(), &end, 0);
    if (errno != 0 || end == s.c_str() || *end != '\0' || v > max) {
        return false;
    }
    out = v;
    return true;
}

bool ParseDouble(std::string_view text, double& out) {
    const std::string s(Trim(text));
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(s.c_str(), &end);
    if (s.empty() || errno != 0 || *end != '\0' || !(v >= 0) || v > 1e9) {
        return false;
    }
    out = v;
    return true;
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    while (true) {
        const std::size_t at = text.find(separator);
        parts.push_back(Trim(text.substr(0, at)));
        if (at == std::string_view::npos) {
            break;
        }
        text.remove_prefix(at + 1);
    }
    return parts;
}

bool ParseList(std::string_view text, std::vector<std::uint32_t>& out) {
    for (std::string_view item : Split(text, ',')) {
        if (item.empty()) {
            continue;
        }
        std::uint64_t v = 0;
        if (!ParseUnsigned(item, 0xFFFFFFFF, v)) {
            return false;
        }
        out.push_back(static_cast<std::uint32_t>(v));
    }
    return true;
}

struct Section {
    DeviceConfig config;
    std::uint64_t count = 1;
    bool geometryChanged = false;
    int line = 0;
};

// Applies one key; false with a reason when the value is not acceptable.
bool Apply(Section& section, const std::string& key, std::string_view value, std::string& why) {
    DeviceConfig& c = section.config;
    std::uint64_t n = 0;
    auto number = [&](std::uint64_t max) {
        if (!ParseUnsigned(value, max, n)) {
            why = "expected a number up to " + std::to_string(max);
            return false;
        }
        return true;
    };
    if (key == "chip") {
        auto chip = ChipByName(Lower(Trim(value)));
        if (!chip) {
            why = "unknown chip (class0..class11, small<hex code>, sdbt, spi)";
            return false;
        }
        const LatencyModel previous = c.latency;
        c.chip = *chip;
        c.latency = LatencyModel::ForPageSize(chip->pageSize);
        c.latency.scale = previous.scale;
        c.latency.sleepQuantumUs = previous.sleepQuantumUs;
        return true;
    }
    if (key == "id") {
        std::vector<std::uint8_t> bytes;
        for (std::string_view item : Split(value, ' ')) {
            if (item.empty()) {
                continue;
            }
            if (!ParseUnsigned("0x" + std::string(item), 0xFF, n)) {
                why = "expected hexadecimal bytes";
                return false;
            }
            bytes.push_back(static_cast<std::uint8_t>(n));
        }
        if (bytes.empty() || bytes.size() > 20) {
            why = "expected 1 to 20 bytes";
            return false;
        }
        c.chip.id = bytes;
        return true;
    }
    if (key == "page_size" || key == "pages_per_block" || key == "blocks") {
        if (!number(key == "blocks" ? 65535 : 16384) || n == 0) {
            why = why.empty() ? "must not be 0" : why;
            return false;
        }
        (key == "page_size"         ? c.chip.pageSize
         : key == "pages_per_block" ? c.chip.pagesPerBlock
                                    : c.chip.blockCount) = static_cast<std::uint32_t>(n);
        section.geometryChanged = true;
        return true;
    }
    if (key == "ecc_mode") {
        if (!number(1)) {
            return false;
        }
        c.chip.eccMode = static_cast<std::uint8_t>(n);
        return true;
    }
    if (key == "paired_pages") {
        if (!number(1)) {
            return false;
        }
        c.chip.pairedPages = n == 1;
        return true;
    }
    if (key == "page_order" || key == "bad_block_status") {
        if (!number(1)) {
            return false;
        }
        if (key == "page_order") {
            c.pageOrder = n == 1;
        } else {
            c.badBlockStatus = n == 1;
        }
        return true;
    }
    if (key == "loader_level" || key == "loader_class") {
        if (!number(15)) {
            return false;
        }
        (key == "loader_level" ? c.loaderLevel : c.loaderClass) = static_cast<int>(n);
        return true;
    }
    if (key == "loader_signature") {
        if (!number(1)) {
            return false;
        }
        c.loaderSignature = n == 1;
        return true;
    }
    if (key == "boot_device_id") {
        if (!number(0xFFFFFFFF)) {
            return false;
        }
        c.bootDeviceId = static_cast<std::uint32_t>(n);
        return true;
    }
    if (key == "sysinfo_block" || key == "boot_area_offset") {
        if (!number(0xFFFF)) {
            return false;
        }
        (key == "sysinfo_block" ? c.sysInfoBlock : c.bootAreaOffset) =
            static_cast<std::uint16_t>(n);
        return true;
    }
    if (key == "vendor" || key == "product" || key == "revision" || key == "instance" ||
        key == "port" || key == "usb_serial") {
        std::string text(Trim(value));
        if (text.empty() || text.size() > 64) {
            why = "expected 1 to 64 characters";
            return false;
        }
        (key == "vendor"       ? c.vendor
         : key == "product"    ? c.product
         : key == "revision"   ? c.revision
         : key == "port"       ? c.port
         : key == "usb_serial" ? c.usbSerial
                               : c.instance) = text;
        return true;
    }
    if (key == "factory_bad" || key == "failing_pages") {
        if (!ParseList(value, key == "factory_bad" ? c.factoryBadBlocks : c.failingPages)) {
            why = "expected a comma-separated list of numbers";
            return false;
        }
        return true;
    }
    if (key == "grown_bad") {
        for (std::string_view item : Split(value, ',')) {
            if (item.empty()) {
                continue;
            }
            const auto parts = Split(item, '@');
            std::uint64_t block = 0;
            std::uint64_t after = 0;
            if (parts.size() > 2 || !ParseUnsigned(parts[0], 0xFFFFFFFF, block) ||
                (parts.size() == 2 && !ParseUnsigned(parts[1], 0xFFFFFFFF, after))) {
                why = "expected block or block@erases, comma-separated";
                return false;
            }
            c.grownBadBlocks.push_back(
                {static_cast<std::uint32_t>(block), static_cast<std::uint32_t>(after)});
        }
        return true;
    }
    if (key == "fail") {
        const auto parts = Split(value, ':');
        FailureRule rule;
        std::uint64_t v = 0;
        bool ok = parts.size() >= 3 && parts.size() <= 4;
        if (ok && Lower(parts[0]) != "any") {
            // Sub-commands are written in hexadecimal, with or without 0x ("12" is 0x12).
            const std::string sub = Lower(parts[0]);
            ok = ParseUnsigned(sub.rfind("0x", 0) == 0 ? sub : "0x" + sub, 0xFF, v);
            rule.subCommand = static_cast<int>(v);
        }
        if (ok && Lower(parts[1]) == "always") {
            rule.count = -1;
        } else if (ok) {
            ok = ParseUnsigned(parts[1], 0x7FFFFFFF, v);
            rule.count = static_cast<std::int32_t>(v);
        }
        ok = ok && ParseUnsigned(parts[2], 0x7FFFFFFF, v);
        rule.errorCode = static_cast<int>(v);
        if (ok && parts.size() == 4) {
            ok = ParseUnsigned(parts[3], 0xFFFFFFFF, v);
            rule.skip = static_cast<std::uint32_t>(v);
        }
        if (!ok) {
            why = "expected sub:count:code[:skip] (sub hex or any, count or always)";
            return false;
        }
        c.failures.push_back(rule);
        return true;
    }
    if (key == "unplug") {
        const auto parts = Split(value, ':');
        std::uint64_t after = 0;
        std::uint64_t back = 0;
        if (parts.empty() || parts.size() > 2 || !ParseUnsigned(parts[0], 0xFFFFFFFF, after) ||
            (parts.size() == 2 && !ParseUnsigned(parts[1], 600000, back))) {
            why = "expected commands[:replug_ms]";
            return false;
        }
        c.unplugAfterCommands = static_cast<std::uint32_t>(after);
        c.replugAfterMs.reset();
        if (parts.size() == 2) {
            c.replugAfterMs = static_cast<std::uint32_t>(back);
        }
        return true;
    }
    if (key == "parameter") {
        const auto parts = Split(value, ':');
        std::uint64_t reg = 0;
        std::uint64_t v = 0;
        if (parts.size() != 2 || !ParseUnsigned(parts[0], 0xFF, reg) ||
            !ParseUnsigned(parts[1], 0xFF, v)) {
            why = "expected register:value";
            return false;
        }
        c.parameterRegisters[static_cast<std::uint8_t>(reg)] = static_cast<std::uint8_t>(v);
        return true;
    }
    if (key == "latency") {
        const std::string which = Lower(Trim(value));
        if (which == "zero") {
            c.latency = LatencyModel::Zero();
        } else if (which == "default") {
            c.latency = LatencyModel::ForPageSize(c.chip.pageSize);
        } else {
            why = "expected default or zero";
            return false;
        }
        return true;
    }
    double d = 0;
    auto real = [&](double& field) {
        if (!ParseDouble(value, d)) {
            why = "expected a number of 0 or more";
            return false;
        }
        field = d;
        return true;
    };
    if (key == "latency_scale") {
        return real(c.latency.scale);
    }
    if (key == "command_us") {
        return real(c.latency.commandUs);
    }
    if (key == "mb_per_s") {
        return real(c.latency.bytesPerUs);
    }
    if (key == "read_us") {
        return real(c.latency.pageReadUs);
    }
    if (key == "program_us") {
        return real(c.latency.pageProgramUs);
    }
    if (key == "erase_us") {
        return real(c.latency.blockEraseUs);
    }
    if (key == "sleep_quantum_us") {
        return real(c.latency.sleepQuantumUs);
    }
    if (key == "restart_delay_ms") {
        if (!number(600000)) {
            return false;
        }
        c.restartDelayMs = static_cast<std::uint32_t>(n);
        return true;
    }
    if (key == "command_log") {
        if (!number(1)) {
            return false;
        }
        c.commandLog = n == 1;
        return true;
    }
    if (key == "count") {
        if (!number(kMaxSimulatedDevices) || n == 0) {
            why = "expected 1 to 64";
            return false;
        }
        section.count = n;
        return true;
    }
    why = "unknown key";
    return false;
}

// Checks what only the whole section can tell.
bool Check(const Section& section, std::string& why) {
    const Chip& chip = section.config.chip;
    if (chip.PageCount() > (std::uint64_t{1} << 32)) {
        why = "the chip has more pages than a 32-bit page number reaches";
        return false;
    }
    for (std::uint32_t b : section.config.factoryBadBlocks) {
        if (b >= chip.blockCount) {
            why = "factory_bad block " + std::to_string(b) + " beyond the chip";
            return false;
        }
    }
    for (const GrownBadBlock& g : section.config.grownBadBlocks) {
        if (g.block >= chip.blockCount) {
            why = "grown_bad block " + std::to_string(g.block) + " beyond the chip";
            return false;
        }
    }
    for (std::uint32_t p : section.config.failingPages) {
        if (p >= chip.PageCount()) {
            why = "failing page " + std::to_string(p) + " beyond the chip";
            return false;
        }
    }
    return true;
}

} // namespace

bool ParseSimConfig(std::string_view text, std::vector<DeviceConfig>& devices, std::string& error) {
    devices.clear();
    std::vector<Section> sections;
    int lineNumber = 0;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = Trim(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        ++lineNumber;
        if (line.empty() || line.front() == '#' || line.front() == ';') {
            continue;
        }
        const std::string where = "line " + std::to_string(lineNumber) + ": ";
        if (line.front() == '[') {
            if (Lower(line) != "[device]") {
                error = where + "unknown section " + std::string(line) + " (expected [device])";
                return false;
            }
            sections.emplace_back();
            sections.back().line = lineNumber;
            continue;
        }
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos) {
            error = where + "expected key = value";
            return false;
        }
        if (sections.empty()) {
            error = where + "key outside a [device] section";
            return false;
        }
        std::string why;
        const std::string key = Lower(Trim(line.substr(0, eq)));
        if (!Apply(sections.back(), key, Trim(line.substr(eq + 1)), why)) {
            error = where + key + ": " + why;
            return false;
        }
    }
    std::uint64_t total = 0;
    std::vector<std::string> ports;
    for (const Section& section : sections) {
        std::string why;
        if (!Check(section, why)) {
            error = "device at line " + std::to_string(section.line) + ": " + why;
            return false;
        }
        // One port holds one device: a port shared by two devices would merge them.
        const std::string port = Lower(section.config.port);
        if (!port.empty() &&
            (section.count > 1 || std::find(ports.begin(), ports.end(), port) != ports.end())) {
            error = "device at line " + std::to_string(section.line) + ": port " +
                    section.config.port + " holds one device only";
            return false;
        }
        ports.push_back(port);
        total += section.count;
    }
    if (total > kMaxSimulatedDevices) {
        error = "more than 64 devices";
        return false;
    }
    for (const Section& section : sections) {
        for (std::uint64_t i = 0; i < section.count; ++i) {
            devices.push_back(section.config);
        }
    }
    return true;
}

bool LoadSimConfigFile(const std::string& path, std::vector<DeviceConfig>& devices,
                       std::string& error) {
    devices.clear();
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open " + path;
        return false;
    }
    std::string text;
    constexpr std::size_t kMaxSize = 1 << 20;
    text.resize(kMaxSize + 1);
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    if (text.size() > kMaxSize) {
        error = path + ": larger than 1 MiB";
        return false;
    }
    if (!ParseSimConfig(text, devices, error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

DeviceConfig DefaultSimulatedDevice(std::size_t index) {
    (void)index;
    return DeviceConfig{};
}

bool AddDevicesFromEnvironment(bool& requested, std::string& error) {
    const char* configPath = std::getenv("KESTREL_SIM_CONFIG");
    const char* count = std::getenv("KESTREL_SIMULATE");
    requested =
        (configPath != nullptr && *configPath != '\0') || (count != nullptr && *count != '\0');
    if (!requested) {
        return true;
    }
    std::vector<DeviceConfig> devices;
    if (configPath != nullptr && *configPath != '\0') {
        if (!LoadSimConfigFile(configPath, devices, error)) {
            return false;
        }
    } else {
        std::uint64_t n = 0;
        if (!ParseUnsigned(count, kMaxSimulatedDevices, n)) {
            error = "KESTREL_SIMULATE: expected a number of devices from 0 to 64";
            return false;
        }
        for (std::uint64_t i = 0; i < n; ++i) {
            devices.push_back(DefaultSimulatedDevice(i));
        }
    }
    for (DeviceConfig& config : devices) {
        TheFarm().Add(std::move(config));
    }
    return true;
}

} // namespace kestrel::sim
