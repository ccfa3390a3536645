#include "kestrellib/program/shared_counters.h"

#include <atomic>
#include <cstdint>
#include <mutex>

namespace {

// Spin count of the platform lock; the top bit asks for a pre-allocated wait event.
constexpr unsigned kLockSpinCount = 0x80000000u | 1024u;

struct Counters {
    std::mutex lock;
    // Atomic so that the lock-free readers see one whole aligned 32-bit value.
    std::atomic<std::int32_t> surplus{0};
    std::atomic<std::int32_t> shared{0};
    std::atomic<bool> initialised{false};
};

Counters& State() {
    static Counters counters;
    return counters;
}

template <typename Change>
void Modify(std::atomic<std::int32_t>& counter, Change change) {
    std::lock_guard guard(State().lock);
    counter.store(change(counter.load(std::memory_order_relaxed)), std::memory_order_relaxed);
}

std::int32_t DecrementUnlessZero(std::int32_t v) {
    return v != 0 ? v - 1 : 0;
}

} // namespace

KESTREL_EXPORT int Init_Surplus_redboot_count(void) {
    static_assert(kLockSpinCount == 0x80000400u);
    State().initialised.store(true);
    return 1;
}

KESTREL_EXPORT void Free_Surplus_redboot_count(void) {
    State().initialised.store(false);
}

KESTREL_EXPORT int Get_Surplus_redboot_count(void) {
    return State().surplus.load(std::memory_order_relaxed);
}

KESTREL_EXPORT void Reset_Surplus_redboot_count(void) {
    Modify(State().surplus, [](std::int32_t) { return 0; });
}

KESTREL_EXPORT void Increase_Surplus_redboot_count(void) {
    Modify(State().surplus, [](std::int32_t v) { return v + 1; });
}

KESTREL_EXPORT void Decrease_Surplus_redboot_count(void) {
    Modify(State().surplus, DecrementUnlessZero);
}

KESTREL_EXPORT void Reset_global_val(void) {
    Modify(State().shared, [](std::int32_t) { return 0; });
}

KESTREL_EXPORT void Seset_global_val(int value) {
    Modify(State().shared, [value](std::int32_t) { return value; });
}

KESTREL_EXPORT void Increase_global_val(void) {
    Modify(State().shared, [](std::int32_t v) { return v + 1; });
}

KESTREL_EXPORT void Decrease_global_val(void) {
    Modify(State().shared, DecrementUnlessZero);
}

KESTREL_EXPORT int Getglobal_val(void) {
    return State().shared.load(std::memory_order_relaxed);
}
