#pragma once

#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace velkaphon::rack {

// [any] An allocator whose growth leaves new elements default-initialised, so a buffer that
// is about to be overwritten by a read or a decode is not zero-filled first.
template <typename T>
struct UninitializedAllocator : std::allocator<T> {
    using value_type = T;
    // Spelled out: std::allocator's own rebind, where a library still has it, would lose this type.
    template <typename U>
    struct rebind {
        using other = UninitializedAllocator<U>;
    };

    UninitializedAllocator() noexcept = default;
    template <typename U>
    UninitializedAllocator(const UninitializedAllocator<U>&) noexcept {}

    template <typename U>
    void construct(U* at) noexcept {
        ::new (static_cast<void*>(at)) U;
    }
    template <typename U, typename... Args>
    void construct(U* at, Args&&... args) {
        ::new (static_cast<void*>(at)) U(std::forward<Args>(args)...);
    }
};

// Decoded audio, interleaved; resize leaves the new samples' values unspecified.
using SampleVector = std::vector<float, UninitializedAllocator<float>>;

} // namespace velkaphon::rack
