// Test-only control over the global allocator: makes the N-th next allocation
// on any thread throw std::bad_alloc, to drive out-of-memory paths for real.
#pragma once

#include <cstddef>

class AllocationFailure {
public:
    // Allocations before the failing one; the guard disarms on destruction.
    explicit AllocationFailure(long allowedAllocations);
    ~AllocationFailure();
    AllocationFailure(const AllocationFailure&) = delete;
    AllocationFailure& operator=(const AllocationFailure&) = delete;

    bool triggered() const;
};
