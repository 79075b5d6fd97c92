#include "hosting/parameter_values.hpp"

#include <algorithm>

namespace velkaphon::rack {

void ParameterValues::reset(std::size_t count) {
    count_ = count;
    words_ = (count + kBitsPerWord - 1) / kBitsPerWord;
    values_ = std::make_unique<Value[]>(count);
    // Value-initialised: no edit waits.
    waiting_ = std::make_unique<std::atomic<std::uint64_t>[]>(words_);
}

void ParameterValues::edit(std::size_t place, double value) noexcept {
    values_[place].stored.store(value, std::memory_order_relaxed);
    parameterEditStored();
    // Raised before the clock moves: a block that sees this store's number sees the edit waiting.
    waiting_[place / kBitsPerWord].fetch_or(std::uint64_t{1} << (place % kBitsPerWord),
                                            std::memory_order_release);
    // Of two threads storing at once, the later number stays.
    const std::uint64_t number = clock_.fetch_add(1, std::memory_order_acq_rel) + 1;
    std::atomic<std::uint64_t>& storedAt = values_[place].storedAt;
    std::uint64_t previous = storedAt.load(std::memory_order_relaxed);
    while (previous < number &&
           !storedAt.compare_exchange_weak(previous, number, std::memory_order_release,
                                           std::memory_order_relaxed)) {
    }
}

void ParameterValues::hold(std::size_t place, double value, std::uint64_t readSince) noexcept {
    Value& entry = values_[place];
    entry.held.store(value, std::memory_order_relaxed);
    entry.heldAfter.store(readSince, std::memory_order_release);
    // So that what the plug-in reports in a block that starts now is newer.
    clock_.fetch_add(1, std::memory_order_acq_rel);
}

bool ParameterValues::report(std::size_t place, double value) noexcept {
    Value& entry = values_[place];
    if (editPending(place) || entry.storedAt.load(std::memory_order_acquire) > clockAtBlock_) {
        return false;
    }
    entry.reported.store(value, std::memory_order_relaxed);
    entry.reportedAfter.store(clockAtBlock_, std::memory_order_release);
    return true;
}

double ParameterValues::current(std::size_t place) const noexcept {
    const Value& entry = values_[place];
    const std::uint64_t storedAt = entry.storedAt.load(std::memory_order_acquire);
    const std::uint64_t reportedAfter = entry.reportedAfter.load(std::memory_order_acquire);
    const std::uint64_t heldAfter = entry.heldAfter.load(std::memory_order_acquire);
    if (std::max(reportedAfter, heldAfter) < storedAt) {
        return entry.stored.load(std::memory_order_relaxed);
    }
    return (heldAfter >= reportedAfter ? entry.held : entry.reported)
        .load(std::memory_order_relaxed);
}

bool ParameterValues::editPending(std::size_t place) const noexcept {
    return (waiting_[place / kBitsPerWord].load(std::memory_order_acquire) &
            (std::uint64_t{1} << (place % kBitsPerWord))) != 0;
}

} // namespace velkaphon::rack
