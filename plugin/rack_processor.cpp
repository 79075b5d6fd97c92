#include "plugin/rack_processor.hpp"

#include "abi/vst3/text.hpp"
#include "engine/graph_limits.hpp"
#include "plugin/rack_view.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <string>

namespace velkaphon::rack {

namespace {

vst3::BusInfo busInfo(vst3::MediaType media, vst3::BusDirection direction, std::int32_t channels,
                      const std::string& name, vst3::BusType type, std::uint32_t flags) {
    vst3::BusInfo info{};
    info.mediaType = media;
    info.direction = direction;
    info.channelCount = channels;
    vst3::copyText(info.name, name);
    info.busType = type;
    info.flags = flags;
    return info;
}

template <class Call>
vst3::tresult guarded(Call call) noexcept {
    try {
        return call();
    } catch (...) {
        return vst3::kResultFalse;
    }
}

// [control] Reads one blob and gives it to apply; kResultFalse for a blob that is refused.
template <class Apply>
vst3::tresult withBlob(vst3::IBStream* state, Apply apply) noexcept {
    if (state == nullptr) {
        return vst3::kResultFalse;
    }
    return guarded([&] {
        const std::optional<RackPluginState> blob = readRackPluginState(*state);
        if (!blob) {
            return vst3::kResultFalse;
        }
        apply(*blob);
        return vst3::kResultOk;
    });
}

} // namespace

RackProcessor::RackProcessor() : app_(true) {
    inputChannelCounts_.fill(2);
    outputChannelCounts_.fill(2);
    inputChannelTotal_ = 2 * kRackBusCount;
    outputChannelTotal_ = 2 * kRackBusCount;
    contextRequirements_ = vst3::IProcessContextRequirements::kNeedTempo |
                           vst3::IProcessContextRequirements::kNeedTransportState;
    app_.onLatencyChanged = [this] {
        reportLatencyChange();
    };
}

RackProcessor::~RackProcessor() {
    app_.onLatencyChanged = nullptr;
    try {
        app_.closeHostedEditors();
        app_.stop();
    } catch (...) {
        // The rack goes either way.
    }
}

vst3::tresult VELKAPHON_VST3_CALL RackProcessor::queryInterface(const vst3::TUID iid,
                                                                void** object) {
    if (object == nullptr) {
        return vst3::kInvalidArgument;
    }
    void* found = nullptr;
    if (vst3::sameUid(iid, vst3::FUnknown::iid) || vst3::sameUid(iid, vst3::IComponent::iid) ||
        vst3::sameUid(iid, vst3::IPluginBase::iid)) {
        found = static_cast<vst3::IComponent*>(this);
    } else if (vst3::sameUid(iid, vst3::IAudioProcessor::iid)) {
        found = static_cast<vst3::IAudioProcessor*>(this);
    } else if (vst3::sameUid(iid, vst3::IEditController::iid)) {
        found = static_cast<vst3::IEditController*>(this);
    } else if (vst3::sameUid(iid, vst3::IConnectionPoint::iid)) {
        found = static_cast<vst3::IConnectionPoint*>(this);
    } else if (vst3::sameUid(iid, vst3::IProcessContextRequirements::iid)) {
        found = static_cast<vst3::IProcessContextRequirements*>(this);
    }
    *object = found;
    if (found == nullptr) {
        return vst3::kNoInterface;
    }
    addRef();
    return vst3::kResultOk;
}

vst3::uint32 VELKAPHON_VST3_CALL RackProcessor::addRef() {
    return ++references_;
}

vst3::uint32 VELKAPHON_VST3_CALL RackProcessor::release() {
    const vst3::uint32 left = --references_;
    if (left == 0) {
        delete this;
    }
    return left;
}

vst3::tresult VELKAPHON_VST3_CALL RackProcessor::initialize(vst3::FUnknown* context) {
    if (initialized_) {
        return vst3::kResultFalse;
    }
    return guarded([&] {
        if (context != nullptr) {
            context->addRef();
            hostContext_ = vst3::InterfacePtr<vst3::FUnknown>::adopt(context);
        }
        for (std::uint32_t i = 0; i < kRackBusCount; ++i) {
            const bool main = i == 0;
            const std::string suffix = main ? "" : " " + std::to_string(i);
            const vst3::BusType type = main ? vst3::kMain : vst3::kAux;
            const std::uint32_t flags = main ? std::uint32_t{vst3::BusInfo::kDefaultActive} : 0u;
            audioInputs_.push_back(
                {busInfo(vst3::kAudio, vst3::kInput, 2, main ? "Main input" : "Aux input" + suffix,
                         type, flags),
                 vst3::SpeakerArr::kStereo});
            audioOutputs_.push_back(
                {busInfo(vst3::kAudio, vst3::kOutput, 2,
                         main ? "Main output" : "Aux output" + suffix, type, flags),
                 vst3::SpeakerArr::kStereo});
            inputBusActive_[i] = main;
            outputBusActive_[i] = main;
        }
        eventInputs_.push_back({busInfo(vst3::kEvent, vst3::kInput, 16, "Notes", vst3::kMain,
                                        vst3::BusInfo::kDefaultActive),
                                vst3::SpeakerArr::kEmpty});
        bypassInfo_ = {};
        bypassInfo_.id = kBypassParameter;
        vst3::copyText(bypassInfo_.title, "Bypass");
        bypassInfo_.stepCount = 1;
        bypassInfo_.defaultNormalizedValue = 0.0;
        bypassInfo_.unitId = vst3::kRootUnitId;
        bypassInfo_.flags = vst3::ParameterInfo::kCanAutomate | vst3::ParameterInfo::kIsBypass;
        initialized_ = true;
        return vst3::kResultOk;
    });
}

vst3::tresult VELKAPHON_VST3_CALL RackProcessor::terminate() {
    return guarded([&] {
        app_.closeHostedEditors();
        app_.stop();
        audioInputs_.clear();
        audioOutputs_.clear();
        eventInputs_.clear();
        componentHandler_.reset();
        hostContext_.reset();
        initialized_ = false;
        return vst3::kResultOk;
    });
}

vst3::tresult VELKAPHON_VST3_CALL RackProcessor::getControllerClassId(vst3::TUID /*classId*/) {
    return vst3::kNotImplemented;
}

vst3::tresult VELKAPHON_VST3_CALL RackProcessor::setIoMode(vst3::IoMode /*mode*/) {
    return vst3::kNotImplemented;
}

vst3::int32 VELKAPHON_VST3_CALL RackProcessor::getBusCount(vst3::MediaType type,
                                                           vst3::BusDirection direction) {
    if (type == vst3::kAudio) {
        return static_cast<vst3::int32>(direction == vst3::kInput ? audioInputs_.size()
                                                                  : audioOutputs_.size());
    }
    if (type == vst3::kEvent && direction == vst3::kInput) {
        return static_cast<vst3::int32>(eventInputs_.size());
    }
    return 0;
}

vst3::tresult VELKAPHON_VST3_CALL RackProcessor::getBusInfo(vst3::MediaType type,
                                                            vst3::BusDirection direction,
                                                            vst3::int32 index, vst3::BusInfo& bus) {
    const vst3::int32 count = getBusCount(type, direction);
    if (index < 0 || index >= count) {
        return vst3::kInvalidArgument;
    }
    if (type == vst3::kEvent) {
        bus = eventInputs_[static_cast<std::size_t>(index)].info;
    } else {
        bus = (direction == vst3::kInput ? audioInputs_
                                         : audioOutputs_)[static_cast<std::size_t>(index)]
                  .info;
    }
    return vst3::kResultOk;
}

vst3::tresult VELKAPHON_VST3_CALL RackProcessor::getRoutingInfo(vst3::RoutingInfo& /*inInfo*/,
                                                                vst3::RoutingInfo& /*outInfo*/) {
    return vst3::kNotImplemented;
}

vst3::tresult VELKAPHON_VST3_CALL RackProcessor::activateBus(vst3::MediaType type,
                                                             vst3::BusDirection direction,
                                                             vst3::int32 index, vst3::TBool state) {
    const vst3::int32 count = getBusCount(type, direction);
    if (index < 0 || index >= count) {
        return vst3::kInvalidArgument;
    }
    // The rack takes the host's notes whether their bus is active or not.
    if (type == vst3::kAudio) {
        (direction == vst3::kInput ? inputBusActive_
                                   : outputBusActive_)[static_cast<std::size_t>(index)] =
            state != 0;
    }
    return vst3::kResultOk;
}

vst3::tresult VELKAPHON_VST3_CALL RackProcessor::setActive(vst3::TBool state) {
    if (state == 0) {
        processing_ = false;
        // Deactivation succeeds even when the stop fails part way.
        guarded([&] {
            app_.stop();
            return vst3::kResultOk;
        });
    }
    return vst3::kResultOk;
}

vst3::tresult VELKAPHON_VST3_CALL
RackProcessor::setBusArrangements(vst3::SpeakerArrangement* inputs, vst3::int32 numIns,
                                  vst3::SpeakerArrangement* outputs, vst3::int32 numOuts) {
    if (processing_ || numIns < 1 || numIns > static_cast<vst3::int32>(kRackBusCount) ||
        numOuts < 1 || numOuts > static_cast<vst3::int32>(kRackBusCount) || inputs == nullptr ||
        outputs == nullptr) {
        return vst3::kResultFalse;
    }
    const auto arrangementAt = [](vst3::SpeakerArrangement* given, vst3::int32 count,
                                  std::uint32_t bus) {
        return bus < static_cast<std::uint32_t>(count) ? given[bus] : vst3::SpeakerArr::kStereo;
    };
    std::array<std::uint32_t, kRackBusCount> inputCounts{};
    std::array<std::uint32_t, kRackBusCount> outputCounts{};
    std::uint32_t inputTotal = 0;
    std::uint32_t outputTotal = 0;
    for (std::uint32_t bus = 0; bus < kRackBusCount; ++bus) {
        inputCounts[bus] =
            static_cast<std::uint32_t>(std::popcount(arrangementAt(inputs, numIns, bus)));
        outputCounts[bus] =
            static_cast<std::uint32_t>(std::popcount(arrangementAt(outputs, numOuts, bus)));
        inputTotal += inputCounts[bus];
        outputTotal += outputCounts[bus];
    }
    if (inputCounts[0] == 0 || outputCounts[0] == 0 || inputTotal > kRackChannelLimit ||
        outputTotal > kRackChannelLimit) {
        return vst3::kResultFalse;
    }
    for (std::uint32_t bus = 0; bus < kRackBusCount; ++bus) {
        if (bus < audioInputs_.size()) {
            audioInputs_[bus].arrangement = arrangementAt(inputs, numIns, bus);
            audioInputs_[bus].info.channelCount = static_cast<vst3::int32>(inputCounts[bus]);
        }
        if (bus < audioOutputs_.size()) {
            audioOutputs_[bus].arrangement = arrangementAt(outputs, numOuts, bus);
            audioOutputs_[bus].info.channelCount = static_cast<vst3::int32>(outputCounts[bus]);
        }
    }
    inputChannelCounts_ = inputCounts;
    outputChannelCounts_ = outputCounts;
    inputChannelTotal_ = inputTotal;
    outputChannelTotal_ = outputTotal;
    return vst3::kResultOk;
}

vst3::tresult VELKAPHON_VST3_CALL RackProcessor::getBusArrangement(
    vst3::BusDirection direction, vst3::int32 index, vst3::SpeakerArrangement& arrangement) {
    const std::vector<Bus>& buses = direction == vst3::kInput ? audioInputs_ : audioOutputs_;
    if (index < 0 || static_cast<std::size_t>(index) >= buses.size()) {
        return vst3::kInvalidArgument;
    }
    arrangement = buses[static_cast<std::size_t>(index)].arrangement;
    return vst3::kResultOk;
}

vst3::tresult VELKAPHON_VST3_CALL RackProcessor::canProcessSampleSize(vst3::int32 size) {
    return size == vst3::kSample32 || size == vst3::kSample64 ? vst3::kResultTrue
                                                              : vst3::kResultFalse;
}

vst3::uint32 VELKAPHON_VST3_CALL RackProcessor::getLatencySamples() {
    return app_.latency();
}

vst3::tresult VELKAPHON_VST3_CALL RackProcessor::setupProcessing(vst3::ProcessSetup& setup) {
    const bool rateValid = std::isfinite(setup.sampleRate) && setup.sampleRate >= 8000.0 &&
                           setup.sampleRate <= 384000.0;
    if (processing_ || !rateValid || setup.maxSamplesPerBlock < 1 ||
        (setup.symbolicSampleSize != vst3::kSample32 &&
         setup.symbolicSampleSize != vst3::kSample64)) {
        return vst3::kInvalidArgument;
    }
    return guarded([&] {
        // Larger host blocks are rendered in slices of the rack's largest block.
        const auto frames = static_cast<std::uint32_t>(setup.maxSamplesPerBlock);
        const std::uint32_t slice = std::min(frames, kMaxBlockFrames);
        // The buffers come first, so that sliceFrames never exceeds them.
        std::vector<float> inputs(static_cast<std::size_t>(slice) * kRackChannelLimit, 0.0f);
        std::vector<float> outputs(static_cast<std::size_t>(slice) * kRackChannelLimit, 0.0f);
        app_.configure({setup.sampleRate, slice});
        inputScratch_ = std::move(inputs);
        outputScratch_ = std::move(outputs);
        blockFrames_ = frames;
        sliceFrames_ = slice;
        samplePosition_ = 0;
        lastProjectTime_ = 0;
        lastBlockFrames_ = 0;
        wasPlaying_ = false;
        return vst3::kResultOk;
    });
}

vst3::tresult VELKAPHON_VST3_CALL RackProcessor::setProcessing(vst3::TBool state) {
    if (state != 0 && blockFrames_ == 0) {
        return vst3::kResultFalse;
    }
    processing_ = state != 0;
    if (state == 0) {
        // This may be the host's audio thread: the full stop waits for the control side.
        app_.requestStop();
    }
    return vst3::kResultOk;
}

vst3::uint32 VELKAPHON_VST3_CALL RackProcessor::getTailSamples() {
    return vst3::kInfiniteTail;
}

// The controller holds only the Bypass value: the patch is the component's, and hosts hand the
// controller bytes of their own (a getState while audio runs) that must not rebuild it.
vst3::tresult VELKAPHON_VST3_CALL RackProcessor::setComponentState(vst3::IBStream* state) {
    return withBlob(state, [&](const RackPluginState& blob) { takeBypass(blob.bypass); });
}

vst3::tresult RackProcessor::readState(vst3::IBStream* state) {
    return withBlob(state, [&](const RackPluginState& blob) {
        // As the page's restore while audio runs: the new graph is handed over, and a recording
        // in progress refuses.
        app_.restoreProject(blob.project);
        takeBypass(blob.bypass);
        reportLatencyChange();
    });
}

void RackProcessor::takeBypass(bool bypassed) {
    bypass_ = bypassed;
    bypassNormalized_ = bypassed ? 1.0 : 0.0;
}

vst3::tresult RackProcessor::writeState(vst3::IBStream* state) {
    if (state == nullptr) {
        return vst3::kInvalidArgument;
    }
    return guarded([&] { return writeRackPluginState(*state, {app_.projectDocument(), bypass_}); });
}

vst3::int32 VELKAPHON_VST3_CALL RackProcessor::getParameterCount() {
    return initialized_ ? 1 : 0;
}

vst3::tresult VELKAPHON_VST3_CALL RackProcessor::getParameterInfo(vst3::int32 index,
                                                                  vst3::ParameterInfo& info) {
    if (index != 0 || !initialized_) {
        return vst3::kResultFalse;
    }
    info = bypassInfo_;
    return vst3::kResultOk;
}

vst3::tresult VELKAPHON_VST3_CALL RackProcessor::getParamStringByValue(
    vst3::ParamID id, vst3::ParamValue valueNormalized, vst3::String128 string) {
    if (id != kBypassParameter || string == nullptr) {
        return vst3::kResultFalse;
    }
    vst3::copyText(string, 128, valueNormalized > 0.5 ? "On" : "Off");
    return vst3::kResultOk;
}

vst3::tresult VELKAPHON_VST3_CALL RackProcessor::getParamValueByString(
    vst3::ParamID id, vst3::TChar* string, vst3::ParamValue& valueNormalized) {
    if (id != kBypassParameter || string == nullptr) {
        return vst3::kResultFalse;
    }
    const std::u16string_view text(string);
    if (text == u"On" || text == u"Off") {
        valueNormalized = text == u"On" ? 1.0 : 0.0;
        return vst3::kResultOk;
    }
    return vst3::kResultFalse;
}

vst3::ParamValue VELKAPHON_VST3_CALL
RackProcessor::normalizedParamToPlain(vst3::ParamID /*id*/, vst3::ParamValue valueNormalized) {
    return std::min(1.0, std::floor(valueNormalized * 2.0));
}

vst3::ParamValue VELKAPHON_VST3_CALL RackProcessor::plainParamToNormalized(vst3::ParamID /*id*/,
                                                                           vst3::ParamValue plain) {
    return plain;
}

vst3::ParamValue VELKAPHON_VST3_CALL RackProcessor::getParamNormalized(vst3::ParamID id) {
    return id == kBypassParameter ? bypassNormalized_ : 0.0;
}

vst3::tresult VELKAPHON_VST3_CALL RackProcessor::setParamNormalized(vst3::ParamID id,
                                                                    vst3::ParamValue value) {
    if (id != kBypassParameter || !std::isfinite(value)) {
        return vst3::kInvalidArgument;
    }
    bypass_.exchange(value >= 0.5);
    bypassNormalized_ = std::clamp(value, 0.0, 1.0);
    return vst3::kResultOk;
}

vst3::tresult VELKAPHON_VST3_CALL
RackProcessor::setComponentHandler(vst3::IComponentHandler* handler) {
    if (handler == componentHandler_.get()) {
        return vst3::kResultOk;
    }
    if (handler != nullptr) {
        handler->addRef();
    }
    componentHandler_ = vst3::InterfacePtr<vst3::IComponentHandler>::adopt(handler);
    return vst3::kResultOk;
}

vst3::IPlugView* VELKAPHON_VST3_CALL RackProcessor::createView(vst3::FIDString name) {
    if (name == nullptr || std::strcmp(name, "editor") != 0) {
        return nullptr;
    }
    try {
        return createRackView(*this);
    } catch (...) {
        return nullptr;
    }
}

vst3::tresult VELKAPHON_VST3_CALL RackProcessor::connect(vst3::IConnectionPoint* other) {
    return other != nullptr ? vst3::kResultOk : vst3::kInvalidArgument;
}

vst3::tresult VELKAPHON_VST3_CALL RackProcessor::disconnect(vst3::IConnectionPoint* other) {
    return other != nullptr ? vst3::kResultOk : vst3::kInvalidArgument;
}

vst3::tresult VELKAPHON_VST3_CALL RackProcessor::notify(vst3::IMessage* /*message*/) {
    return vst3::kResultFalse;
}

vst3::uint32 VELKAPHON_VST3_CALL RackProcessor::getProcessContextRequirements() {
    return contextRequirements_;
}

void RackProcessor::reportLatencyChange() {
    const std::uint32_t latency = app_.latency();
    if (latency == reportedLatency_) {
        return;
    }
    reportedLatency_ = latency;
    if (componentHandler_) {
        componentHandler_->restartComponent(vst3::kLatencyChanged);
    }
}

} // namespace velkaphon::rack
