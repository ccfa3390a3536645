#include "platform/devices/devices.h"

#include "platform/devices/usbstor_path.h"

#include <atomic>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace kestrel::platform::devices {
// Process-wide state. It exists once per process because it lives only in KestrelPlatform, the
// shared library every module calls into; the accessor itself is not exported.
namespace detail {

// Lock order: monitorLock, then a backend's own locks (a backend may call Dispatch while holding
// them), then dispatchLock, then lock. So the layer never calls into a backend while it holds
// lock or dispatchLock, and the dispatch thread never takes monitorLock.
struct DevicesState {
    // Starting and stopping monitors, so that a monitor change and the subscriber set that asked
    // for it stay one step.
    std::mutex monitorLock;
    std::mutex lock; // backend, handles, nextHandle, subscribers, monitorBackend
    std::shared_ptr<Backend> backend;
    std::unordered_map<std::uintptr_t, std::shared_ptr<Connection>> handles;
    std::unordered_set<std::uintptr_t> gone; // open handles whose device vanished
    // Handle values start high and step by 4 like Windows handles; they are never reused.
    std::uintptr_t nextHandle = 0x1000;
    std::map<std::uint64_t, HotplugCallback> subscribers;
    std::uint64_t nextSubscriber = 1;
    std::shared_ptr<Backend> monitorBackend; // backend whose monitor runs, or null
    BackendFactory defaultFactory = &MakeSystemBackend;

    // Held while callbacks run, so that unsubscribing waits for a running callback.
    std::mutex dispatchLock;
    std::atomic<std::thread::id> dispatchThread{};
};

DevicesState& DevicesStateInstance() {
    static DevicesState state;
    return state;
}

} // namespace detail

namespace {

detail::DevicesState& State() {
    return detail::DevicesStateInstance();
}

std::shared_ptr<Backend> BackendLocked(detail::DevicesState& s) {
    if (!s.backend) {
        s.backend = s.defaultFactory();
    }
    return s.backend;
}

void Dispatch(std::uint32_t event, const std::string& path) {
    // Notifications name the interface in upper case, as device notifications do on Windows
    // ("\\?\USBSTOR#DISK&..."); the device set's checks of the name rely on that.
    const auto record = MakeInterfaceBroadcast(ToUpperAscii(path));
    auto& s = State();
    std::lock_guard dispatching(s.dispatchLock);
    s.dispatchThread.store(std::this_thread::get_id());
    std::map<std::uint64_t, HotplugCallback> subscribers;
    {
        std::lock_guard guard(s.lock);
        subscribers = s.subscribers;
    }
    for (auto& [id, callback] : subscribers) {
        {
            // A subscriber that left while an earlier one ran is not called.
            std::lock_guard guard(s.lock);
            if (s.subscribers.find(id) == s.subscribers.end()) {
                continue;
            }
        }
        callback(event, record.data());
    }
    s.dispatchThread.store(std::thread::id{});
}

bool OnDispatchThread(const detail::DevicesState& s) {
    return s.dispatchThread.load() == std::this_thread::get_id();
}

// Starts the monitor of the current backend unless it runs. Called with s.monitorLock held and
// s.lock not held: the backend takes its own locks, under which it calls Dispatch.
bool EnsureMonitor(detail::DevicesState& s) {
    std::shared_ptr<Backend> backend;
    {
        std::lock_guard guard(s.lock);
        backend = BackendLocked(s);
        if (s.monitorBackend == backend) {
            return true;
        }
    }
    if (!backend->StartMonitor(&Dispatch)) {
        return false;
    }
    std::lock_guard guard(s.lock);
    s.monitorBackend = backend;
    return true;
}

} // namespace

std::vector<unsigned char> MakeInterfaceBroadcast(const std::string& interfaceName) {
    // The class identifier in its binary form, as the Windows record carries it.
    static constexpr unsigned char kClassId[16] = {0x07, 0x63, 0xF5, 0x53, 0xBF, 0xB6, 0xD0, 0x11,
                                                   0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B};
    std::vector<unsigned char> record(kBroadcastNameOffset + interfaceName.size() + 1, 0);
    const auto size = static_cast<std::uint32_t>(record.size());
    const std::uint32_t type = kDeviceTypeInterface;
    std::memcpy(record.data(), &size, 4);
    std::memcpy(record.data() + 4, &type, 4);
    std::memcpy(record.data() + 12, kClassId, sizeof kClassId);
    std::memcpy(record.data() + kBroadcastNameOffset, interfaceName.data(), interfaceName.size());
    return record;
}

bool Enumerate(std::vector<InterfaceInfo>& interfaces) {
    std::shared_ptr<Backend> backend;
    {
        std::lock_guard guard(State().lock);
        backend = BackendLocked(State());
    }
    interfaces.clear();
    return backend->Enumerate(interfaces);
}

DeviceHandle Open(const std::string& path, int* error) {
    std::shared_ptr<Backend> backend;
    {
        std::lock_guard guard(State().lock);
        backend = BackendLocked(State());
    }
    int code = 0;
    std::unique_ptr<Connection> connection = backend->Open(path, code);
    if (!connection) {
        if (error != nullptr) {
            *error = code != 0 ? code : kErrorFileNotFound;
        }
        return nullptr;
    }
    auto& s = State();
    std::lock_guard guard(s.lock);
    const std::uintptr_t value = s.nextHandle;
    s.nextHandle += 4;
    s.handles.emplace(value, std::shared_ptr<Connection>(std::move(connection)));
    if (error != nullptr) {
        *error = 0;
    }
    return reinterpret_cast<DeviceHandle>(value);
}

bool Close(DeviceHandle handle) {
    if (handle == nullptr) {
        return false;
    }
    std::shared_ptr<Connection> connection;
    {
        auto& s = State();
        std::lock_guard guard(s.lock);
        auto it = s.handles.find(reinterpret_cast<std::uintptr_t>(handle));
        if (it == s.handles.end()) {
            return false;
        }
        connection = std::move(it->second);
        s.handles.erase(it);
        s.gone.erase(reinterpret_cast<std::uintptr_t>(handle));
    }
    // The device closes here, or when a command still in flight on another thread ends.
    return true;
}

int Send(DeviceHandle handle, const ScsiRequest& request) {
    if (request.cdb == nullptr || request.cdbLength < 6 || request.cdbLength > 16 ||
        (request.direction != Direction::kNone && request.length != 0 &&
         request.buffer == nullptr)) {
        return kErrorInvalidParameter;
    }
    std::shared_ptr<Connection> connection;
    {
        auto& s = State();
        std::lock_guard guard(s.lock);
        auto it = s.handles.find(reinterpret_cast<std::uintptr_t>(handle));
        if (it == s.handles.end()) {
            return kErrorInvalidHandle;
        }
        if (s.gone.count(it->first) != 0) {
            return kErrorNotConnected;
        }
        connection = it->second;
    }
    const int error = connection->Send(request);
    if (error != 0 && connection->IsGoneError(error)) {
        auto& s = State();
        std::lock_guard guard(s.lock);
        if (s.handles.count(reinterpret_cast<std::uintptr_t>(handle)) != 0) {
            s.gone.insert(reinterpret_cast<std::uintptr_t>(handle));
        }
    }
    return error;
}

bool IsGone(DeviceHandle handle) {
    auto& s = State();
    std::lock_guard guard(s.lock);
    const auto value = reinterpret_cast<std::uintptr_t>(handle);
    return s.handles.count(value) == 0 || s.gone.count(value) != 0;
}

std::vector<AccessProblem> InaccessibleDevices() {
    std::shared_ptr<Backend> backend;
    {
        auto& s = State();
        std::lock_guard guard(s.lock);
        backend = BackendLocked(s);
    }
    return backend->AccessProblems();
}

std::size_t OpenHandleCount() {
    std::lock_guard guard(State().lock);
    return State().handles.size();
}

Subscription::~Subscription() {
    Reset();
}

Subscription::Subscription(Subscription&& other) noexcept : id_(std::exchange(other.id_, 0)) {}

Subscription& Subscription::operator=(Subscription&& other) noexcept {
    if (this != &other) {
        Reset();
        id_ = std::exchange(other.id_, 0);
    }
    return *this;
}

void Subscription::Reset() {
    if (id_ == 0) {
        return;
    }
    auto& s = State();
    if (OnDispatchThread(s)) {
        // A callback unsubscribing: the dispatcher skips removed subscribers, and the monitor
        // keeps running until the next change of backend or subscription.
        std::lock_guard guard(s.lock);
        s.subscribers.erase(std::exchange(id_, 0));
        return;
    }
    {
        std::lock_guard monitor(s.monitorLock);
        std::shared_ptr<Backend> toStop;
        {
            std::lock_guard guard(s.lock);
            s.subscribers.erase(std::exchange(id_, 0));
            if (s.subscribers.empty()) {
                toStop = std::exchange(s.monitorBackend, nullptr);
            }
        }
        if (toStop) {
            toStop->StopMonitor();
        }
    }
    // Wait for a callback that may be running on the monitor thread.
    std::lock_guard waitForDispatch(s.dispatchLock);
}

// Makes the subscriptions this layer hands out (Subscription's constructor from an id is private).
struct SubscriptionAccess {
    static Subscription Make(std::uint64_t id) { return Subscription(id); }
};

Subscription Subscribe(HotplugCallback callback) {
    if (!callback) {
        return Subscription();
    }
    auto& s = State();
    std::unique_lock<std::mutex> monitor;
    // Inside a callback the monitor runs already, and monitorLock must not be taken there.
    if (!OnDispatchThread(s)) {
        monitor = std::unique_lock(s.monitorLock);
        if (!EnsureMonitor(s)) {
            return Subscription();
        }
    }
    std::lock_guard guard(s.lock);
    const std::uint64_t id = s.nextSubscriber++;
    s.subscribers.emplace(id, std::move(callback));
    return SubscriptionAccess::Make(id);
}

Subscription SubscribeWindow(WindowHandle window) {
    if (window == nullptr) {
        return Subscription();
    }
    return Subscribe([window](std::uint32_t event, const void* record) {
        std::uint32_t size = 0;
        std::memcpy(&size, record, 4);
        PostWindowMessageCopy(window, kDeviceChangeMessage, event, record, size);
    });
}

std::shared_ptr<Backend> CurrentBackend() {
    std::lock_guard guard(State().lock);
    return BackendLocked(State());
}

void SetDefaultBackendFactory(BackendFactory factory) {
    auto& s = State();
    std::lock_guard guard(s.lock);
    s.defaultFactory = factory != nullptr ? factory : &MakeSystemBackend;
}

void UseBackend(std::shared_ptr<Backend> backend) {
    auto& s = State();
    std::lock_guard monitor(s.monitorLock);
    // The backend replaced is released only after s.lock: it may be the last reference, and a
    // backend's destructor takes the backend's own locks (stopping its monitor), which come
    // before s.lock in the lock order.
    std::shared_ptr<Backend> replaced;
    std::shared_ptr<Backend> toStop;
    bool subscribed = false;
    {
        std::lock_guard guard(s.lock);
        replaced = std::exchange(s.backend, std::move(backend));
        toStop = std::exchange(s.monitorBackend, nullptr);
        subscribed = !s.subscribers.empty();
    }
    if (toStop) {
        toStop->StopMonitor();
    }
    if (subscribed) {
        EnsureMonitor(s);
    }
}

} // namespace kestrel::platform::devices
