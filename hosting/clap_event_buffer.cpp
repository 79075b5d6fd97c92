#include "hosting/clap_event_buffer.hpp"

#include <cstring>

namespace velkaphon::rack {

namespace {

const ClapEventBuffer& bufferOf(const clap_input_events* list) {
    return *static_cast<const ClapEventBuffer*>(list->ctx);
}

std::uint32_t inputSize(const clap_input_events* list) {
    return bufferOf(list).size();
}

const clap_event_header* inputEvent(const clap_input_events* list, std::uint32_t index) {
    return bufferOf(list).get(index);
}

bool tryPush(const clap_output_events* list, const clap_event_header* event) {
    return static_cast<ClapEventBuffer*>(list->ctx)->push(event);
}

} // namespace

ClapEventBuffer::ClapEventBuffer() noexcept
    : input_{this, inputSize, inputEvent}, output_{this, tryPush} {}

bool ClapEventBuffer::push(const clap_event_header* event) noexcept {
    if (event == nullptr || event->size < sizeof(clap_event_header) || event->size > kSlotBytes ||
        count_ == kCapacity) {
        return false;
    }
    std::memcpy(slots_[count_].bytes, event, event->size);
    ++count_;
    return true;
}

const clap_event_header* ClapEventBuffer::get(std::uint32_t index) const noexcept {
    if (index >= count_) {
        return nullptr;
    }
    return reinterpret_cast<const clap_event_header*>(slots_[index].bytes);
}

} // namespace velkaphon::rack
