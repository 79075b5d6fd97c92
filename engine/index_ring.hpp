#pragma once

// The two indices of a ring between one producer thread and one consumer thread; the slots
// belong to the ring's owner, who also fixes their count and the ring's capacity.
//
// Indices run free: each side only adds to its own, and the integer's wrap is harmless because
// index n lives in slot n & (slots - 1) for a power-of-two slot count that divides the
// integer's range. write - read is the fill, which the producer keeps within a capacity of at
// most the slot count.
//
// Memory ordering, the one argument every ring in the tree relies on:
// - the producer fills slots from its write index on, then stores the new write index with
//   release; the consumer loads the write index with acquire, so every slot before it is seen
//   whole;
// - the consumer is done with slots before it stores the new read index with release; the
//   producer loads the read index with acquire, so it refills a slot only after the consumer's
//   last use of it;
// - each side's own index changes on its own thread only: it loads that one relaxed.

#include <atomic>
#include <cstddef>
#include <type_traits>

namespace velkaphon::rack {

template <typename Index>
struct IndexRing {
    static_assert(std::is_unsigned_v<Index>, "free-running indices wrap as unsigned integers");

    // Both indices as one side loaded them.
    struct View {
        Index read;
        Index write;

        Index fill() const noexcept { return write - read; }
    };

    // Each index on a cache line of its own, so that one side's stores do not slow the other.
    alignas(64) std::atomic<Index> writeIndex{0};
    alignas(64) std::atomic<Index> readIndex{0};

    // [producer] The slots from write up to read plus the capacity are free to fill.
    View producerView() const noexcept {
        return {readIndex.load(std::memory_order_acquire),
                writeIndex.load(std::memory_order_relaxed)};
    }
    // [producer] The slots before write are filled; the consumer may take them.
    void publish(Index write) noexcept { writeIndex.store(write, std::memory_order_release); }

    // [consumer] The slots from read up to write are filled.
    View consumerView() const noexcept {
        return {readIndex.load(std::memory_order_relaxed),
                writeIndex.load(std::memory_order_acquire)};
    }
    // [consumer] The slots before read are done with; the producer may refill them.
    void release(Index read) noexcept { readIndex.store(read, std::memory_order_release); }

    // [any] A snapshot. The read index is loaded first, so the fill never comes out
    // below zero when neither side is the caller.
    Index fill() const noexcept {
        const Index read = readIndex.load(std::memory_order_acquire);
        return writeIndex.load(std::memory_order_acquire) - read;
    }

    // [control] Set-up only, while neither side uses the ring.
    void resetIndices(Index read, Index write) noexcept {
        readIndex.store(read, std::memory_order_relaxed);
        writeIndex.store(write, std::memory_order_relaxed);
    }

private:
    // Keeps a derived ring's fields off the read index's line: a base's tail padding is reused.
    [[maybe_unused]] std::byte padding_[64 - sizeof(std::atomic<Index>)]{};
};

} // namespace velkaphon::rack
