#include "tests/support/allocation_counter.hpp"

#include <cstdlib>
#include <new>

namespace velkaphon::rack::testing {
namespace {

thread_local std::size_t allocationCount = 0;
thread_local bool counting = false;

void* allocate(std::size_t size) {
    if (counting) {
        ++allocationCount;
    }
    void* memory = std::malloc(size == 0 ? 1 : size);
    if (memory == nullptr) {
        throw std::bad_alloc();
    }
    return memory;
}

void* allocateAligned(std::size_t size, std::align_val_t alignment) {
    if (counting) {
        ++allocationCount;
    }
    const auto align = static_cast<std::size_t>(alignment);
    const std::size_t rounded = (size + align - 1) / align * align;
#ifdef _WIN32
    void* memory = _aligned_malloc(rounded == 0 ? align : rounded, align);
#else
    void* memory = std::aligned_alloc(align, rounded == 0 ? align : rounded);
#endif
    if (memory == nullptr) {
        throw std::bad_alloc();
    }
    return memory;
}

void releaseAligned(void* memory) {
#ifdef _WIN32
    _aligned_free(memory);
#else
    std::free(memory);
#endif
}

} // namespace

AllocationCounter::AllocationCounter() : startCount_(allocationCount), wasCounting_(counting) {
    counting = true;
}

AllocationCounter::~AllocationCounter() {
    counting = wasCounting_;
}

std::size_t AllocationCounter::allocations() const {
    return allocationCount - startCount_;
}

} // namespace velkaphon::rack::testing

using velkaphon::rack::testing::allocate;
using velkaphon::rack::testing::allocateAligned;
using velkaphon::rack::testing::releaseAligned;

void* operator new(std::size_t size) {
    return allocate(size);
}
void* operator new[](std::size_t size) {
    return allocate(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new(std::size_t size, std::align_val_t alignment) {
    return allocateAligned(size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
    return allocateAligned(size, alignment);
}
void operator delete(void* memory) noexcept {
    std::free(memory);
}
void operator delete[](void* memory) noexcept {
    std::free(memory);
}
void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}
void operator delete[](void* memory, std::size_t) noexcept {
    std::free(memory);
}
void operator delete(void* memory, std::align_val_t) noexcept {
    releaseAligned(memory);
}
void operator delete[](void* memory, std::align_val_t) noexcept {
    releaseAligned(memory);
}
void operator delete(void* memory, std::size_t, std::align_val_t) noexcept {
    releaseAligned(memory);
}
void operator delete[](void* memory, std::size_t, std::align_val_t) noexcept {
    releaseAligned(memory);
}
