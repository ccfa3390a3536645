// The Windows backend's real system calls: SetupAPI for the disk interfaces, CreateFile and
// DeviceIoControl for the device, and a message-only window on a thread of its own for the
// device-change notifications of the disk interface class.

#include "platform/devices/windows_backend.h"

#include <windows.h>

#include <dbt.h>
#include <devguid.h>
#include <initguid.h>
#include <ntddscsi.h>
#include <setupapi.h>
#include <winioctl.h>

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>
#include <vector>

namespace kestrel::platform::devices {

static_assert(sizeof(PassThroughDirect) == sizeof(SCSI_PASS_THROUGH_DIRECT));
static_assert(offsetof(PassThroughDirect, dataBuffer) ==
              offsetof(SCSI_PASS_THROUGH_DIRECT, DataBuffer));
static_assert(offsetof(PassThroughDirect, senseInfoOffset) ==
              offsetof(SCSI_PASS_THROUGH_DIRECT, SenseInfoOffset));
static_assert(offsetof(PassThroughDirect, cdb) == offsetof(SCSI_PASS_THROUGH_DIRECT, Cdb));
static_assert(kIoctlScsiPassThroughDirect == IOCTL_SCSI_PASS_THROUGH_DIRECT);
static_assert(kIoctlStorageQueryProperty == IOCTL_STORAGE_QUERY_PROPERTY);
static_assert(offsetof(StorageAdapterDescriptor, alignmentMask) ==
              offsetof(STORAGE_ADAPTER_DESCRIPTOR, AlignmentMask));

namespace {

// GUID_DEVINTERFACE_DISK, the class of kDiskInterfaceClass.
constexpr GUID kDiskInterface = {
    0x53f56307, 0xb6bf, 0x11d0, {0x94, 0xf2, 0x00, 0xa0, 0xc9, 0x1e, 0xfb, 0x8b}};

bool ListDisks(std::vector<WindowsDiskInterface>& disks, std::uint32_t& error) {
    HDEVINFO set = ::SetupDiGetClassDevsA(&kDiskInterface, nullptr, nullptr,
                                          DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) {
        error = ::GetLastError();
        return false;
    }
    SP_DEVICE_INTERFACE_DATA item{};
    item.cbSize = sizeof item;
    for (DWORD index = 0;
         ::SetupDiEnumDeviceInterfaces(set, nullptr, &kDiskInterface, index, &item); ++index) {
        DWORD needed = 0;
        ::SetupDiGetDeviceInterfaceDetailA(set, &item, nullptr, 0, &needed, nullptr);
        if (needed < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
            continue;
        }
        std::vector<unsigned char> buffer(needed);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof device;
        if (!::SetupDiGetDeviceInterfaceDetailA(set, &item, detail, needed, nullptr, &device)) {
            continue;
        }
        WindowsDiskInterface disk;
        disk.path = detail->DevicePath;
        char name[256] = {};
        if (::SetupDiGetDeviceRegistryPropertyA(set, &device, SPDRP_FRIENDLYNAME, nullptr,
                                                reinterpret_cast<BYTE*>(name), sizeof name - 1,
                                                nullptr)) {
            disk.friendlyName = name;
        }
        disks.push_back(std::move(disk));
    }
    const DWORD last = ::GetLastError();
    ::SetupDiDestroyDeviceInfoList(set);
    if (last != ERROR_NO_MORE_ITEMS && last != ERROR_SUCCESS) {
        error = last;
        return false;
    }
    return true;
}

NativeHandle CreateDeviceFile(const std::string& path, std::uint32_t& error) {
    HANDLE handle = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        error = ::GetLastError();
        return -1;
    }
    return reinterpret_cast<NativeHandle>(handle);
}

void CloseDeviceFile(NativeHandle handle) {
    ::CloseHandle(reinterpret_cast<HANDLE>(handle));
}

bool IoControl(NativeHandle handle, std::uint32_t code, void* in, std::uint32_t inSize, void* out,
               std::uint32_t outSize, std::uint32_t& returned, std::uint32_t& error) {
    DWORD count = 0;
    if (!::DeviceIoControl(reinterpret_cast<HANDLE>(handle), code, in, inSize, out, outSize, &count,
                           nullptr)) {
        error = ::GetLastError();
        return false;
    }
    returned = count;
    return true;
}

// The notification window: a message-only window on its own thread, registered for the disk
// interface class. Stopping closes the window from its thread and joins it.
class NotificationWindow {
public:
    bool Start(BackendEventSink sink) {
        std::unique_lock guard(lock_);
        if (thread_.joinable()) {
            return true;
        }
        sink_ = std::move(sink);
        state_ = State::kStarting;
        thread_ = std::thread([this] { Run(); });
        started_.wait(guard, [this] { return state_ != State::kStarting; });
        if (state_ == State::kFailed) {
            guard.unlock();
            thread_.join();
            return false;
        }
        return true;
    }

    void Stop() {
        std::unique_lock guard(lock_);
        if (!thread_.joinable()) {
            return;
        }
        if (window_ != nullptr) {
            ::PostMessageA(window_, WM_CLOSE, 0, 0);
        }
        guard.unlock();
        thread_.join();
        guard.lock();
        window_ = nullptr;
        sink_ = nullptr;
    }

private:
    enum class State { kIdle, kStarting, kRunning, kFailed };

    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self =
            reinterpret_cast<NotificationWindow*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
        if (message == WM_DEVICECHANGE && self != nullptr && lParam != 0) {
            const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
            if (header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE &&
                (wParam == DBT_DEVICEARRIVAL || wParam == DBT_DEVICEREMOVECOMPLETE)) {
                const auto* item = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_A*>(lParam);
                self->sink_(static_cast<std::uint32_t>(wParam), item->dbcc_name);
            }
            return TRUE;
        }
        if (message == WM_CLOSE) {
            ::DestroyWindow(window);
            return 0;
        }
        if (message == WM_DESTROY) {
            ::PostQuitMessage(0);
            return 0;
        }
        return ::DefWindowProcA(window, message, wParam, lParam);
    }

    void Run() {
        static const char* const kClassName = "KestrelDeviceNotifications";
        WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = &Procedure;
        windowClass.hInstance = ::GetModuleHandleA(nullptr);
        windowClass.lpszClassName = kClassName;
        ::RegisterClassA(&windowClass); // already registered by an earlier start: fine
        HWND window = ::CreateWindowExA(0, kClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                        windowClass.hInstance, nullptr);
        HDEVNOTIFY notify = nullptr;
        if (window != nullptr) {
            ::SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
            DEV_BROADCAST_DEVICEINTERFACE_A filter{};
            filter.dbcc_size = sizeof filter;
            filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
            filter.dbcc_classguid = kDiskInterface;
            notify = ::RegisterDeviceNotificationA(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
        }
        {
            std::lock_guard guard(lock_);
            if (window == nullptr || notify == nullptr) {
                if (window != nullptr) {
                    ::DestroyWindow(window);
                }
                state_ = State::kFailed;
                started_.notify_all();
                return;
            }
            window_ = window;
            state_ = State::kRunning;
        }
        started_.notify_all();
        MSG message;
        while (::GetMessageA(&message, nullptr, 0, 0) > 0) {
            ::TranslateMessage(&message);
            ::DispatchMessageA(&message);
        }
        ::UnregisterDeviceNotification(notify);
        std::lock_guard guard(lock_);
        state_ = State::kIdle;
    }

    std::mutex lock_;
    std::condition_variable started_;
    State state_ = State::kIdle;
    std::thread thread_;
    HWND window_ = nullptr;
    BackendEventSink sink_;
};

} // namespace

WindowsSystemCalls RealWindowsSystemCalls() {
    auto window = std::make_shared<NotificationWindow>();
    WindowsSystemCalls calls;
    calls.listDisks = &ListDisks;
    calls.createFile = &CreateDeviceFile;
    calls.closeHandle = &CloseDeviceFile;
    calls.deviceIoControl = &IoControl;
    calls.startNotifications = [window](BackendEventSink sink) {
        return window->Start(std::move(sink));
    };
    calls.stopNotifications = [window] { window->Stop(); };
    return calls;
}

std::shared_ptr<Backend> MakeSystemBackend() {
    return MakeWindowsBackend(RealWindowsSystemCalls());
}

} // namespace kestrel::platform::devices
