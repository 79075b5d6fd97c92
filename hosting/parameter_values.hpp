#pragma once

#include <atomic>
#include <bit>
#include <cstdint>
#include <memory>
#include <optional>

namespace velkaphon::rack {

// A hosted plug-in's parameter values as the rack sets them and as the plug-in reports them back.
//
// Every rack store takes a number from one clock. When a block takes its values, the thread
// running blocks notes the clock; a value the plug-in reports in that block stands only over
// stores numbered up to that note, so an edit stored at any moment during the block wins over it.
// A value the control thread reads from the plug-in stands likewise over stores numbered up to
// the clock when the read began. The values are kept apart: neither the plug-in's report nor a
// read writes over an edit, however threads interleave.
// Waiting edits are bits, so that a block finds them without visiting every parameter.
class ParameterValues {
public:
    // [control] Not while blocks run. Every value 0, no edit waiting.
    void reset(std::size_t count);
    std::size_t size() const noexcept { return count_; }

    // [any] A rack edit: the current value, sent to the plug-in when a block next takes values.
    void edit(std::size_t place, double value) noexcept;
    // [any] The clock, read before asking the plug-in for a value to hold.
    std::uint64_t clock() const noexcept { return clock_.load(std::memory_order_acquire); }
    // [control] A value the plug-in held when asked at the clock readSince: the current value
    // unless a rack store came since, sent nowhere.
    void hold(std::size_t place, double value, std::uint64_t readSince) noexcept;

    // [audio, or control while no block runs] When a block takes its values: each waiting edit to
    // take(place, value), in place order. Where take answers false, that edit and the rest wait
    // for the next block.
    template <class Take>
    void takeEdits(Take take) noexcept;
    // [audio, or control while no block runs] What the plug-in reported in the block since
    // takeEdits; false, and not kept, while a rack edit waits or one was stored since.
    bool report(std::size_t place, double value) noexcept;

    // [any] The newest of the last rack edit and what the plug-in reported or held after it.
    double current(std::size_t place) const noexcept;
    // [any] An edit waits for the plug-in.
    bool editPending(std::size_t place) const noexcept;

private:
    static constexpr std::size_t kBitsPerWord = 64;

    struct Value {
        std::atomic<double> stored{0.0};
        std::atomic<double> reported{0.0};
        std::atomic<double> held{0.0};
        // The clock's number of the last store, and the last numbers the plug-in's report and
        // held value are newer than.
        std::atomic<std::uint64_t> storedAt{0};
        std::atomic<std::uint64_t> reportedAfter{0};
        std::atomic<std::uint64_t> heldAfter{0};
    };

    std::unique_ptr<Value[]> values_;
    std::unique_ptr<std::atomic<std::uint64_t>[]> waiting_;
    std::size_t count_ = 0;
    std::size_t words_ = 0;
    std::atomic<std::uint64_t> clock_{0};
    // Only the thread running blocks uses it.
    std::uint64_t clockAtBlock_ = 0;
};

template <class Take>
void ParameterValues::takeEdits(Take take) noexcept {
    clockAtBlock_ = clock_.load(std::memory_order_acquire);
    for (std::size_t word = 0; word < words_; ++word) {
        if (waiting_[word].load(std::memory_order_relaxed) == 0) {
            continue;
        }
        std::uint64_t bits = waiting_[word].exchange(0, std::memory_order_acq_rel);
        while (bits != 0) {
            const std::size_t place =
                word * kBitsPerWord + static_cast<std::size_t>(std::countr_zero(bits));
            if (!take(place, values_[place].stored.load(std::memory_order_relaxed))) {
                waiting_[word].fetch_or(bits, std::memory_order_release);
                return;
            }
            bits &= bits - 1;
        }
    }
}

// [any] Between an edit's value and its publication. Does nothing: tests replace it at link time
// to run a block inside an edit.
void parameterEditStored() noexcept;

} // namespace velkaphon::rack
