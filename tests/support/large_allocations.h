#pragma once
// For tests of what a parser allocates: a program that links large_allocations.cpp replaces the
// scalar forms of operator new (the libraries' allocations resolve to them), and while a
// RefuseLargeAllocations guard lives every allocation of 1 MiB or more fails with
// std::bad_alloc, as it would where memory is short. A parser that sizes its buffers by what an
// input really holds, rather than by what a header claims, goes on working under the guard.

#include <cstddef>

namespace kestrel::test {

inline constexpr std::size_t kLargeAllocation = std::size_t{1} << 20;

class RefuseLargeAllocations {
public:
    RefuseLargeAllocations();
    ~RefuseLargeAllocations();
    RefuseLargeAllocations(const RefuseLargeAllocations&) = delete;
    RefuseLargeAllocations& operator=(const RefuseLargeAllocations&) = delete;
};

} // namespace kestrel::test
