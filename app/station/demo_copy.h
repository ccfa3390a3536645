#pragma once
// The demo copy: once every device of an ISP run has reported ready (code 7), a directory of
// demo files is copied onto each device's removable drive, one thread per drive, through
// KestrelCopyLib's copydir. The pieces here are the master (find the drives, count the files,
// announce the totals, start one thread per drive), the drive thread, and DemoCopyRun, which
// owns those threads.
//
// Drives come from the drives layer (platform/drives): the letters D: to Z: in order, taking
// each removable drive whose free-space query succeeds (it holds readable media). The drive's
// order number is its place in that scan; it is the "device" number of the drive's
// notifications and so its display slot.
//
// Where the drives never match the devices, the master gives up after kDemoDrivePollLimit scans
// a second apart, says so in a message box and brings the ISP action back (code 513) without
// copying anything or closing the devices; a stop request (the window closing) ends the
// polling at the next scan without any message.
//
// Every result reaches the page by posted messages only (codes 4, 1, 513, events 816, 817,
// 818); the master and drive threads touch nothing else of the page.

#include "platform/messages/message_sink.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kestrel::station {

inline constexpr int kDemoDriveTableSize = 64;
// UTF-16 units of the buffers copydir is given, the terminating NUL included.
inline constexpr std::size_t kDemoPathUnits = 256;
inline constexpr int kDemoDrivePollLimit = 120;
inline constexpr std::uint32_t kDemoDrivePollMs = 1000;
// Directory levels below the demo directory that CountFiles enters, as copydir copies them.
inline constexpr int kDemoMaxDepth = 64;

inline constexpr const char* kDemoDrivesMissingText =
    "Demo copy: %d removable drives are ready for %d devices; no demo file was copied.\n";

// What the master is handed: filled just before the run starts.
struct DemoCopyRequest {
    platform::WindowHandle window = nullptr; // the Basic page window
    std::string demoDir;
    int expectedDrives = 0; // the job count of the ISP run: one drive per device
};

// One drive found for the run.
struct DemoDrive {
    std::int32_t order = 0; // 0-based place in the scan; the drive's "device" number
    platform::WindowHandle window = nullptr;
    std::string demoDir;
    std::string root; // "D:\"
};

using DemoDriveTable = std::array<DemoDrive, kDemoDriveTableSize>;

// The outside calls the demo copy makes; RealDemoCopyLibrary binds them to KestrelCopyLib's
// copydir and Kestrellib's global counter and CloseAllDevice.
struct DemoCopyLibrary {
    std::function<int(void* window, const char16_t* source, const char16_t* root)> copyDir;
    std::function<void()> resetRunning;    // Reset_global_val
    std::function<void()> increaseRunning; // Increase_global_val
    std::function<void()> decreaseRunning; // Decrease_global_val
    std::function<int()> running;          // Getglobal_val
    std::function<void(void* window)> closeAllDevice;
};

DemoCopyLibrary RealDemoCopyLibrary();

// dir and name joined by one path separator: none is added when dir already ends with one.
std::string JoinDemoPath(const std::string& dir, const std::string& name);

// The number of entries that are not directories in the tree below dir, "." and ".." not
// followed, links not followed, kDemoMaxDepth levels at most; 0 when dir cannot be listed.
// Each call counts from 0.
int CountFiles(const std::string& dir);

// Scans D: to Z: once and fills table entries 0 ... n-1 with the ready removable drives;
// returns n.
int ScanDemoDrives(platform::WindowHandle window, const std::string& dir, DemoDriveTable& table);

// Scans every kDemoDrivePollMs until the scan finds exactly `expected` drives (waiting after
// the matching scan too) and returns that number. Returns -1 when stop is set, or when
// pollLimit scans found another number (the last scan's count is then in *lastFound).
int FindDemoDrives(platform::WindowHandle window, const std::string& dir, int expected,
                   DemoDriveTable& table, const std::atomic<bool>& stop,
                   int pollLimit = kDemoDrivePollLimit, int* lastFound = nullptr);

// Copies the demo directory onto one drive: event 816, copydir, then 817 when it reports
// success or 818 when it reports failure or a path does not fit its 256-unit buffer; then
// lowers the running-copy counter, and the last copy to end closes all devices and posts 513.
int DemoCopyDriveProc(const DemoDrive& drive, const DemoCopyLibrary& library);

// Starts one drive's thread; false when it could not be started.
using DemoDriveStarter = std::function<bool(const DemoDrive& drive)>;

// The master: finds the drives, counts the files, posts code 4 and code 1 (drives × files, a
// plain number), resets the counter, raises it once per drive and then starts one thread per
// drive (all drives are counted first, so no copy can end the run while drives remain to be
// started). A drive whose thread cannot be started is reported failed (818) and counted as
// ended at once. Returns 0.
int DemoCopyMasterProc(const DemoCopyRequest& request, DemoDriveTable& table,
                       const DemoCopyLibrary& library, const DemoDriveStarter& startDrive,
                       const std::atomic<bool>& stop);

// One program-wide demo-copy run with its master and drive threads. The threads post to the
// request's window, which must outlive Stop (or the destructor).
class DemoCopyRun {
public:
    explicit DemoCopyRun(DemoCopyLibrary library = RealDemoCopyLibrary());
    ~DemoCopyRun(); // Stop()
    DemoCopyRun(const DemoCopyRun&) = delete;
    DemoCopyRun& operator=(const DemoCopyRun&) = delete;

    // Starts the master on a new thread. False, doing nothing, while a run is under way or when
    // the thread cannot be started.
    bool Start(DemoCopyRequest request);
    // Whether a master or drive thread of the run is still working.
    bool UnderWay() const { return active_.load(std::memory_order_acquire) != 0; }
    // Ends the polling and waits for every thread; a copy in progress is finished first.
    void Stop();
    // Ends the polling at the next scan without waiting; copies in progress go on.
    void RequestStop() { stop_.store(true, std::memory_order_release); }

    const DemoDriveTable& Table() const { return table_; }

private:
    bool StartDrive(const DemoDrive& drive);
    void JoinAll();

    const DemoCopyLibrary library_;
    DemoCopyRequest request_;
    DemoDriveTable table_{};
    std::atomic<bool> stop_{false};
    std::atomic<int> active_{0};
    std::mutex threadsLock_;
    std::thread master_;
    std::vector<std::thread> drives_;
};

} // namespace kestrel::station
