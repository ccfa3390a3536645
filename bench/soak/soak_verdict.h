#pragma once
// The soak's verdict on each unit of one run, from what the run left behind: how the
// kestrel-cli process ended, its run record (one JSON line per device programmed) and the lines
// of its read-back (`verify`), which name each device by its port.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel::soak {

enum class Outcome : std::uint8_t {
    kVerified,          // reported ok, and read back equal to the files
    kFailedWithMessage, // reported failed, saying why
    kFailedSilently,    // reported failed without a message, or not reported at all
    kOkButWrong,        // reported ok, but read back different or not readable
    kHang,              // the run did not end within the soak's limit
    kCrash,             // the run's process died
};
inline constexpr int kOutcomeCount = 6;

std::string_view OutcomeName(Outcome outcome);

// The outcomes the soak fails on: every one but verified and failed with a message.
inline bool IsFault(Outcome outcome) {
    return outcome != Outcome::kVerified && outcome != Outcome::kFailedWithMessage;
}

struct RunEnd {
    enum class How : std::uint8_t { kExited, kTimedOut, kCrashed } how = How::kExited;
    int status = 0;     // exit status when exited
    std::string record; // the run record's lines
    std::string out;    // standard output (the read-back lines)
    std::string err;    // standard error
};

struct UnitVerdict {
    Outcome outcome = Outcome::kFailedSilently;
    std::string detail; // the message, or what the read-back said
};

// One verdict per unit (units in farm order, unit i on port UnitPort(i)).
std::vector<UnitVerdict> Judge(const RunEnd& end, int units);

} // namespace kestrel::soak
