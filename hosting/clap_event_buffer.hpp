#pragma once

#include "abi/clap/events.hpp"

#include <array>
#include <cstddef>
#include <cstdint>

namespace velkaphon::rack {

// The events of one process call in fixed slots, readable by the plug-in as clap_input_events
// and writable as clap_output_events. No heap memory; used only on the audio thread, inside one
// process call. Its list records point at it, so it never moves.
class ClapEventBuffer {
public:
    static constexpr std::uint32_t kCapacity = 512;
    static constexpr std::uint32_t kSlotBytes = 56;

    ClapEventBuffer() noexcept;
    ClapEventBuffer(const ClapEventBuffer&) = delete;
    ClapEventBuffer& operator=(const ClapEventBuffer&) = delete;

    const clap_input_events* input() const noexcept { return &input_; }
    const clap_output_events* output() const noexcept { return &output_; }

    // [audio] Copies the event's header size in bytes. False for a null event, a size
    // outside 16..56 bytes, or a full buffer.
    bool push(const clap_event_header* event) noexcept;

    // [audio]
    std::uint32_t size() const noexcept { return count_; }
    // [audio] Null when index is not below the count.
    const clap_event_header* get(std::uint32_t index) const noexcept;
    void clear() noexcept { count_ = 0; }

private:
    struct alignas(8) Slot {
        std::byte bytes[kSlotBytes];
    };

    std::array<Slot, kCapacity> slots_{};
    std::uint32_t count_ = 0;
    clap_input_events input_;
    clap_output_events output_;
};

} // namespace velkaphon::rack
