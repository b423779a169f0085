#include "AllocationFailure.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

// The replaced operator new has no other way to learn the budget.
std::atomic<long> remainingAllocations{-1};
std::atomic<bool> failureTriggered{false};

}  // namespace

AllocationFailure::AllocationFailure(long allowedAllocations) {
    failureTriggered = false;
    remainingAllocations = allowedAllocations;
}

AllocationFailure::~AllocationFailure() {
    remainingAllocations = -1;
}

bool AllocationFailure::triggered() const {
    return failureTriggered;
}

void* operator new(std::size_t size) {
    long remaining = remainingAllocations.load();
    while (remaining >= 0) {
        if (remaining == 0) {
            remainingAllocations = -1;
            failureTriggered = true;
            throw std::bad_alloc();
        }
        if (remainingAllocations.compare_exchange_weak(remaining, remaining - 1)) {
            break;
        }
    }
    if (void* memory = std::malloc(size == 0 ? 1 : size)) {
        return memory;
    }
    throw std::bad_alloc();
}

void operator delete(void* memory) noexcept {
    std::free(memory);
}
void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}
