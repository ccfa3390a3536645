#include "app/station/demo_copy.h"

#include "kestrel/isp_job.h"
#include "kestrellib/device/device_exports.h"
#include "kestrellib/program/shared_counters.h"
#include "outside/kestrel_copy/kestrel_copy.h"
#include "platform/clock/clock.h"
#include "platform/drives/drives.h"
#include "platform/files/files.h"
#include "platform/message_box/message_box.h"
#include "platform/text/text.h"

#include <cstdio>
#include <system_error>
#include <utility>

namespace kestrel::station {
namespace {

bool EndsWithSeparator(const std::string& dir) {
    return !dir.empty() && (dir.back() == platform::kPathSeparator || dir.back() == '/');
}

int CountInto(const std::string& dir, int depth) {
    platform::DirectoryReader reader;
    if (reader.Open(dir) != 0) {
        return 0;
    }
    int count = 0;
    std::string name;
    int error = 0;
    while (reader.Next(&name, &error)) {
        platform::EntryStatus status;
        const bool examined = reader.Examine(name, &status) == 0;
        if (examined && status.kind == platform::EntryKind::kDirectory) {
            if (depth < kDemoMaxDepth) {
                count += CountInto(JoinDemoPath(dir, name), depth + 1);
            }
        } else {
            ++count;
        }
    }
    return count;
}

// text as UTF-16 with its NUL in a buffer of kDemoPathUnits units; false when it does not fit.
bool ToUtf16Buffer(const std::string& text, std::u16string& buffer) {
    buffer = platform::AnsiToUtf16(text);
    if (buffer.size() >= kDemoPathUnits || buffer.find(u'\0') != std::u16string::npos) {
        return false;
    }
    buffer.push_back(u'\0');
    return true;
}

// The end of one drive's copy, also for a drive whose thread never started.
void DriveCopyEnded(platform::WindowHandle window, const DemoCopyLibrary& library) {
    library.decreaseRunning();
    if (library.running() == 0) {
        library.closeAllDevice(window);
        platform::PostWindowMessage(window, WM_ISP_STATUS, kStatusPhaseEnded, 0);
    }
}

} // namespace

DemoCopyLibrary RealDemoCopyLibrary() {
    DemoCopyLibrary library;
    library.copyDir = [](void* window, const char16_t* source, const char16_t* root) {
        return copydir(window, source, root);
    };
    library.resetRunning = [] { Reset_global_val(); };
    library.increaseRunning = [] { Increase_global_val(); };
    library.decreaseRunning = [] { Decrease_global_val(); };
    library.running = [] { return Getglobal_val(); };
    library.closeAllDevice = [](void* window) { CloseAllDevice(window); };
    return library;
}

std::string JoinDemoPath(const std::string& dir, const std::string& name) {
    return EndsWithSeparator(dir) ? dir + name : dir + platform::kPathSeparator + name;
}

int CountFiles(const std::string& dir) {
    return CountInto(dir, 0);
}

int ScanDemoDrives(platform::WindowHandle window, const std::string& dir, DemoDriveTable& table) {
    int found = 0;
    for (char letter = platform::drives::kFirstLetter; letter <= platform::drives::kLastLetter;
         ++letter) {
        const std::string root = platform::drives::RootOf(letter);
        if (platform::drives::DriveType(root) == platform::drives::kDriveRemovable &&
            platform::drives::DiskFreeSpace(root, nullptr) && found < kDemoDriveTableSize) {
            table[static_cast<std::size_t>(found)] = DemoDrive{found, window, dir, root};
            ++found;
        }
    }
    return found;
}

int FindDemoDrives(platform::WindowHandle window, const std::string& dir, int expected,
                   DemoDriveTable& table, const std::atomic<bool>& stop, int pollLimit,
                   int* lastFound) {
    int found = 0;
    for (int scan = 0; scan < pollLimit; ++scan) {
        if (stop.load(std::memory_order_acquire)) {
            break;
        }
        found = ScanDemoDrives(window, dir, table);
        platform::Sleep(kDemoDrivePollMs);
        if (found == expected) {
            return found;
        }
    }
    if (lastFound != nullptr) {
        *lastFound = found;
    }
    return -1;
}

int DemoCopyDriveProc(const DemoDrive& drive, const DemoCopyLibrary& library) {
    platform::PostWindowMessage(drive.window, WM_ISP_EVENT, kEventDemoBegin, drive.order);
    std::u16string source;
    std::u16string root;
    bool copied = false;
    if (ToUtf16Buffer(drive.demoDir, source) && ToUtf16Buffer(drive.root, root)) {
        copied = library.copyDir(drive.window, source.c_str(), root.c_str()) != 0;
    }
    platform::PostWindowMessage(drive.window, WM_ISP_EVENT,
                                copied ? kEventDemoSucceeded : kEventDemoFailed, drive.order);
    DriveCopyEnded(drive.window, library);
    return 0;
}

int DemoCopyMasterProc(const DemoCopyRequest& request, DemoDriveTable& table,
                       const DemoCopyLibrary& library, const DemoDriveStarter& startDrive,
                       const std::atomic<bool>& stop) {
    int lastFound = 0;
    const int n = FindDemoDrives(request.window, request.demoDir, request.expectedDrives, table,
                                 stop, kDemoDrivePollLimit, &lastFound);
    if (n < 0) {
        if (!stop.load(std::memory_order_acquire)) {
            char text[160];
            std::snprintf(text, sizeof text, kDemoDrivesMissingText, lastFound,
                          request.expectedDrives);
            platform::ShowMessageBox(text);
            platform::PostWindowMessage(request.window, WM_ISP_STATUS, kStatusPhaseEnded, 0);
        }
        return 0;
    }
    const int files = CountFiles(request.demoDir);
    platform::PostWindowMessage(request.window, WM_ISP_STATUS, kStatusRunStart, 0);
    platform::PostWindowMessage(request.window, WM_ISP_STATUS, kStatusProgressRange,
                                static_cast<std::intptr_t>(n) * files);
    library.resetRunning();
    // Every drive is counted before the first thread starts: a first copy that ends before the
    // last drive was counted would otherwise find the counter at 0 and end the run early.
    for (int i = 0; i < n; ++i) {
        library.increaseRunning();
    }
    for (int i = 0; i < n; ++i) {
        const DemoDrive& drive = table[static_cast<std::size_t>(i)];
        if (!startDrive(drive)) {
            platform::PostWindowMessage(drive.window, WM_ISP_EVENT, kEventDemoFailed, drive.order);
            DriveCopyEnded(drive.window, library);
        }
    }
    return 0;
}

DemoCopyRun::DemoCopyRun(DemoCopyLibrary library) : library_(std::move(library)) {}

DemoCopyRun::~DemoCopyRun() {
    Stop();
}

bool DemoCopyRun::Start(DemoCopyRequest request) {
    if (UnderWay()) {
        return false;
    }
    JoinAll(); // the threads of the previous run have ended
    stop_.store(false, std::memory_order_release);
    request_ = std::move(request);
    active_.fetch_add(1, std::memory_order_acq_rel);
    try {
        std::lock_guard guard(threadsLock_);
        master_ = std::thread([this] {
            DemoCopyMasterProc(
                request_, table_, library_,
                [this](const DemoDrive& drive) { return StartDrive(drive); }, stop_);
            active_.fetch_sub(1, std::memory_order_acq_rel);
        });
    } catch (const std::system_error&) {
        active_.fetch_sub(1, std::memory_order_acq_rel);
        return false;
    }
    return true;
}

bool DemoCopyRun::StartDrive(const DemoDrive& drive) {
    active_.fetch_add(1, std::memory_order_acq_rel);
    try {
        std::lock_guard guard(threadsLock_);
        drives_.emplace_back([this, drive] {
            DemoCopyDriveProc(drive, library_);
            active_.fetch_sub(1, std::memory_order_acq_rel);
        });
    } catch (const std::system_error&) {
        active_.fetch_sub(1, std::memory_order_acq_rel);
        return false;
    }
    return true;
}

void DemoCopyRun::Stop() {
    stop_.store(true, std::memory_order_release);
    JoinAll();
}

void DemoCopyRun::JoinAll() {
    // The master adds drive threads until it ends, so it is joined first.
    std::thread master;
    {
        std::lock_guard guard(threadsLock_);
        master = std::move(master_);
    }
    if (master.joinable()) {
        master.join();
    }
    std::vector<std::thread> drives;
    {
        std::lock_guard guard(threadsLock_);
        drives.swap(drives_);
    }
    for (std::thread& drive : drives) {
        drive.join();
    }
}

} // namespace kestrel::station
