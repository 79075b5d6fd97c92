#pragma once

// Hands objects built on the control thread to the audio thread, and gives back the ones it
// replaces, so that only the control thread ever allocates or frees them. An object lives in
// one of three places: the pending slot (offered, not yet taken), current (in use by the audio
// thread) or the retired ring (replaced, waiting to be freed).
//
// Memory ordering:
// - offer and take exchange the pending slot with acq_rel, so the audio thread sees the object
//   it takes whole;
// - current is stored by the audio thread only, with release; other threads load it with
//   acquire;
// - the retired ring is an IndexRing that the audio thread produces and the control thread
//   consumes, so the audio thread's last use of a replaced object comes before its freeing.
// The audio thread takes a pending object only while the retired ring has room for the one it
// replaces, so it never has to free one itself; the object then stays pending. Only the control
// thread frees, so an object it visits stays alive while it does.

#include "engine/index_ring.hpp"

#include <array>
#include <atomic>
#include <bit>
#include <cstdint>
#include <memory>

namespace velkaphon::rack {

// Capacity: how many replaced objects may wait to be freed.
template <typename T, std::uint32_t Capacity>
class HandOver {
public:
    // [control] Before the audio thread sees it: initial is current from the start.
    explicit HandOver(std::unique_ptr<T> initial = nullptr) : current_(initial.release()) {}
    // [control] Once the audio thread no longer takes.
    ~HandOver() {
        delete pending_.exchange(nullptr, std::memory_order_acq_rel);
        delete current_.exchange(nullptr, std::memory_order_acq_rel);
        drainRetired();
    }
    HandOver(const HandOver&) = delete;
    HandOver& operator=(const HandOver&) = delete;

    // [control] Next waits in the pending slot until the audio thread takes it. One
    // offered earlier and never taken is freed here.
    void offer(std::unique_ptr<T> next) {
        delete pending_.exchange(next.release(), std::memory_order_acq_rel);
    }

    // [control] Frees the objects the audio thread has replaced.
    void drainRetired() {
        const auto [first, write] = retired_.consumerView();
        for (std::uint32_t read = first; read != write;) {
            T*& slot = slots_[read & kMask];
            delete slot;
            slot = nullptr;
            retired_.release(++read);
        }
    }

    // [audio] Makes the pending object current, when there is one and the retired ring
    // has room; replaced(previous) runs first for the current object it retires. False when
    // nothing was taken. Never allocates, frees, locks or throws.
    template <typename Replaced>
    bool take(Replaced&& replaced) noexcept {
        // Most blocks find nothing pending: a plain load keeps the locked exchange off their path.
        if (pending_.load(std::memory_order_acquire) == nullptr) {
            return false;
        }
        const auto [read, write] = retired_.producerView();
        if (write - read >= Capacity) {
            return false;
        }
        T* taken = pending_.exchange(nullptr, std::memory_order_acq_rel);
        if (taken == nullptr) {
            return false;
        }
        T* previous = current_.load(std::memory_order_relaxed);
        current_.store(taken, std::memory_order_release);
        if (previous != nullptr) {
            replaced(*previous);
            slots_[write & kMask] = previous;
            retired_.publish(write + 1);
        }
        return true;
    }
    // [audio] Take with nothing to do for the object it retires.
    bool take() noexcept {
        return take([](T&) noexcept {});
    }

    // [any] The object the audio thread uses, or null before the first is taken.
    T* current() const noexcept { return current_.load(std::memory_order_acquire); }
    // [any] The object waiting to be taken, or null.
    const T* pending() const noexcept { return pending_.load(std::memory_order_acquire); }

    // [control] Visits current, then pending, then the retired objects oldest first.
    template <typename Visit>
    void forEach(Visit&& visit) const {
        const T* now = current();
        if (now != nullptr) {
            visit(*now);
        }
        const T* next = pending();
        if (next != nullptr && next != now) {
            visit(*next);
        }
        const auto [read, write] = retired_.consumerView();
        for (std::uint32_t slot = read; slot != write; ++slot) {
            visit(*slots_[slot & kMask]);
        }
    }

private:
    static constexpr std::uint32_t kMask = std::bit_ceil(Capacity) - 1;

    std::atomic<T*> pending_{nullptr};
    std::atomic<T*> current_{nullptr};
    std::array<T*, kMask + 1> slots_{};
    IndexRing<std::uint32_t> retired_;
};

} // namespace velkaphon::rack
