// The replaced operator new of programs that test allocation sizes (large_allocations.h).
// ThreadSanitizer's run-time library defines these operators itself; such programs are not
// built with it.
#include "support/large_allocations.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<bool> refuseLarge{false};

void* Allocate(std::size_t n) {
    if (n >= kestrel::test::kLargeAllocation && refuseLarge.load()) {
        return nullptr;
    }
    return std::malloc(n == 0 ? 1 : n);
}

} // namespace

namespace kestrel::test {

RefuseLargeAllocations::RefuseLargeAllocations() {
    refuseLarge = true;
}

RefuseLargeAllocations::~RefuseLargeAllocations() {
    refuseLarge = false;
}

} // namespace kestrel::test

// Allocate takes its memory from malloc, so the replaced deletes give it back with free. GCC
// sees a pointer of operator new reach free once these inline into one another.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

void* operator new(std::size_t n) {
    if (void* p = Allocate(n)) {
        return p;
    }
    throw std::bad_alloc();
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
    return Allocate(n);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
