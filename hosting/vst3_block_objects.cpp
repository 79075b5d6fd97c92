#include "hosting/vst3_block_objects.hpp"

namespace velkaphon::rack {

using namespace vst3;

// [any]
ValueQueue::ValueQueue() noexcept = default;

tresult ValueQueue::getPoint(int32 index, int32& sampleOffset, ParamValue& value) {
    if (index != 0) {
        return kInvalidArgument;
    }
    sampleOffset = sampleOffset_;
    value = value_;
    return kResultOk;
}

tresult ValueQueue::addPoint(int32, ParamValue, int32&) {
    return kNotImplemented;
}

IParamValueQueue* Changes::getParameterData(int32 index) {
    return index >= 0 && index < count ? &queues[static_cast<std::size_t>(index)] : nullptr;
}

IParamValueQueue* Changes::addParameterData(const ParamID&, int32& index) {
    index = -1;
    return nullptr;
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
