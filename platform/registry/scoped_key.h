#pragma once
// An open registry key that closes itself. Close() closes it early and returns the status of
// closing (kErrorInvalidHandle when nothing was open).

#include "platform/registry/registry.h"

#include <utility>

namespace kestrel::platform::registry {

class ScopedKey {
public:
    ScopedKey() = default;
    ~ScopedKey() { Close(); }
    ScopedKey(const ScopedKey&) = delete;
    ScopedKey& operator=(const ScopedKey&) = delete;
    ScopedKey(ScopedKey&& other) noexcept : key_(std::exchange(other.key_, nullptr)) {}
    ScopedKey& operator=(ScopedKey&& other) noexcept {
        if (this != &other) {
            Close();
            key_ = std::exchange(other.key_, nullptr);
        }
        return *this;
    }

    HKEY Get() const { return key_; }
    bool IsOpen() const { return key_ != nullptr; }
    // For the open and create calls: closes what is held and hands out the slot to fill.
    HKEY* Receive() {
        Close();
        return &key_;
    }
    LONG Close() {
        if (key_ == nullptr) {
            return kErrorInvalidHandle;
        }
        return CloseKey(std::exchange(key_, nullptr));
    }

private:
    HKEY key_ = nullptr;
};

} // namespace kestrel::platform::registry
