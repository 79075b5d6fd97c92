#include "hosting/vst3_block_objects.hpp"

namespace velkaphon::rack {

using namespace vst3;

// [any]
ValueQueue::ValueQueue() noexcept = default;

tresult ValueQueue::getPoint(int32 index, int32& sampleOffset, ParamValue& value) {
    if (index != 0 || pointCount_ == 0) {
        return kInvalidArgument;
    }
    sampleOffset = sampleOffset_;
    value = value_;
    return kResultOk;
}

tresult ValueQueue::addPoint(int32 sampleOffset, ParamValue value, int32& index) {
    set(id_, value, sampleOffset);
    index = 0;
    return kResultOk;
}

IParamValueQueue* Changes::getParameterData(int32 index) {
    return index >= 0 && index < count ? &queues[static_cast<std::size_t>(index)] : nullptr;
}

void Changes::index(const ParameterIndex& parameters) {
    parameters_ = &parameters;
    started_.assign(parameters.size(), Started{});
}

std::optional<std::size_t> Changes::placeOf(ParamID id) const noexcept {
    const std::optional<std::size_t> place =
        parameters_ != nullptr ? parameters_->find(id) : std::nullopt;
    return place && *place < started_.size() ? place : std::nullopt;
}

IParamValueQueue* Changes::addParameterData(const ParamID& id, int32& index) {
    const std::optional<std::size_t> place = placeOf(id);
    if (place && started_[*place].block == block_) {
        index = started_[*place].queue;
        return &queues[static_cast<std::size_t>(index)];
    }
    // An id no parameter has is looked for among this block's queues: the walk grows with what
    // the processor reports beyond its list, not with the list.
    if (!place) {
        for (index = 0; index < count; ++index) {
            if (queues[static_cast<std::size_t>(index)].getParameterId() == id) {
                return &queues[static_cast<std::size_t>(index)];
            }
        }
    }
    if (count >= kCapacity) {
        index = -1;
        return nullptr;
    }
    index = count++;
    ValueQueue& queue = queues[static_cast<std::size_t>(index)];
    queue.start(id, place);
    if (place) {
        started_[*place] = {block_, index};
    }
    return &queue;
}

tresult VstEvents::getEvent(int32 index, Event& event) {
    if (index < 0 || index >= count) {
        return kInvalidArgument;
    }
    event = events[static_cast<std::size_t>(index)];
    return kResultOk;
}

tresult VstEvents::addEvent(Event& event) {
    if (count >= kCapacity) {
        return kResultFalse;
    }
    events[static_cast<std::size_t>(count++)] = event;
    return kResultOk;
}

} // namespace velkaphon::rack
