#pragma once
// What the command line learns about each device of an ISP run from the same notifications the
// page handles: the phases begun, succeeded and failed with their durations, the progress of
// every device (also beyond the eight slots), and the message boxes raised for it. From these it
// decides each device's result.
//
// Message boxes are attributed to a device by their "Device:%d" or "Device%d" prefix, else to
// the device whose worker raised them; a box without either (a missing boot code file, a refused
// boot image) is a message of the run and counts against every device of the run: a unit is good
// only when nothing was reported during its run. Phase durations run from the worker's start (boot
// code) or the end of the boot code (resources), so retries before a phase's begin event count in
// it.

#include "app/station/message_device.h"
#include "kestrel/isp_job.h"
#include "platform/messages/message_sink.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace kestrel::station {

enum class PhaseKind { kBoot, kResource, kRebuild };

struct Phase {
    bool begun = false;
    bool succeeded = false;
    bool failed = false;
    std::uint32_t beginTick = 0;
    std::uint32_t elapsedMs = 0; // when succeeded or failed
};

struct DeviceProgress {
    Phase boot;
    Phase resource;
    Phase rebuild;
    Phase demo;                  // the demo copy onto the drive of this number (events 816-818)
    std::uint32_t total = 0;     // progress range of the device (all phases)
    std::uint32_t position = 0;  // steps done
    bool started = false;        // code 257 seen
    std::uint32_t startTick = 0; // when code 257 was seen
    bool ended = false;          // code 256 seen
    bool stopped = false;        // a stop was asked while the device's worker was under way
    std::uint32_t demoFiles = 0; // files copied by the demo copy (code 3)
    std::vector<std::string> messages;
};

class RunMonitor {
public:
    // Notes one message handled on the loop thread at tick `now`.
    void Observe(const platform::WindowMessage& message, std::uint32_t now);
    // Notes a message box (any thread). raisedBy: the device whose worker raised it, when known;
    // a box without a device prefix then counts against that device alone.
    void AddMessageBox(const std::string& text, std::optional<int> raisedBy = std::nullopt);
    // Notes that the run was asked to stop: devices 0 ... deviceCount - 1 whose worker has not
    // ended yet count as stopped unless they still succeed.
    void StopRequested(int deviceCount);
    // Forgets everything noted (a new run).
    void Reset();
    // Forgets what was noted of one device (a new unit in its slot, in continuous mode).
    void ForgetDevice(int index);
    // Forgets the boxes that named no device (continuous mode, once no unit is running).
    void ForgetRunMessages();

    // The device's state; default for a device never heard of.
    DeviceProgress Device(int index) const;
    std::vector<std::string> RunMessages() const;

    // Whether the device did all that the run mode asks: mode 1 the boot code, mode 2 the
    // resources, mode 3 both; with no failure event, no message box of its own and no message
    // box of the run.
    bool Succeeded(int index, int mode) const;
    // Whether the device did not succeed because the run was stopped.
    bool Stopped(int index, int mode) const;
    // The text that explains the device's result: its own messages, else the run's, else a
    // description of what is missing.
    std::string Explanation(int index, int mode) const;

private:
    mutable std::mutex lock_;
    std::map<int, DeviceProgress> devices_;
    std::vector<std::string> runMessages_;
    bool stopRequested_ = false;
};

using station::DeviceOfMessage;

} // namespace kestrel::station
