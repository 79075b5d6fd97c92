#pragma once

// The plug-in's one class: component, audio processor and edit controller in one object, with
// one RackApplication in plug-in mode inside.

#include "abi/vst3/component.hpp"
#include "abi/vst3/controller.hpp"
#include "abi/vst3/interface_ptr.hpp"
#include "abi/vst3/processor.hpp"
#include "app/rack_application.hpp"
#include "engine/event_list.hpp"
#include "plugin/rack_plugin_state.hpp"

#include <array>
#include <atomic>
#include <cstdint>
#include <vector>

namespace velkaphon::rack {

inline constexpr std::uint32_t kRackBusCount = 8;
inline constexpr std::uint32_t kRackChannelLimit = 128;
inline constexpr vst3::ParamID kBypassParameter = 0;

// A change of the "Bypass" parameter inside a block.
struct BypassPoint {
    std::uint32_t offset = 0;
    bool value = false;
};

// The component's and the controller's state calls share one signature; each side gets its own
// body through these.
class RackComponentSide : public vst3::IComponent {
public:
    vst3::tresult VELKAPHON_VST3_CALL setState(vst3::IBStream* state) final {
        return readState(state);
    }
    vst3::tresult VELKAPHON_VST3_CALL getState(vst3::IBStream* state) final {
        return writeState(state);
    }

protected:
    virtual vst3::tresult readState(vst3::IBStream* state) = 0;
    virtual vst3::tresult writeState(vst3::IBStream* state) = 0;
    ~RackComponentSide() = default;
};

// The component state carries everything; the controller keeps none of its own.
class RackControllerSide : public vst3::IEditController {
public:
    vst3::tresult VELKAPHON_VST3_CALL setState(vst3::IBStream*) final {
        return vst3::kNotImplemented;
    }
    vst3::tresult VELKAPHON_VST3_CALL getState(vst3::IBStream*) final {
        return vst3::kNotImplemented;
    }

protected:
    ~RackControllerSide() = default;
};

class RackProcessor final : public RackComponentSide,
                            public vst3::IAudioProcessor,
                            public RackControllerSide,
                            public vst3::IConnectionPoint,
                            public vst3::IProcessContextRequirements {
public:
    // [control]
    RackProcessor();
    RackProcessor(const RackProcessor&) = delete;
    RackProcessor& operator=(const RackProcessor&) = delete;

    // FUnknown
    vst3::tresult VELKAPHON_VST3_CALL queryInterface(const vst3::TUID iid, void** object) override;
    vst3::uint32 VELKAPHON_VST3_CALL addRef() override;
    vst3::uint32 VELKAPHON_VST3_CALL release() override;

    // IPluginBase, for the component and the controller alike
    vst3::tresult VELKAPHON_VST3_CALL initialize(vst3::FUnknown* context) override;
    vst3::tresult VELKAPHON_VST3_CALL terminate() override;

    // IComponent
    vst3::tresult VELKAPHON_VST3_CALL getControllerClassId(vst3::TUID classId) override;
    vst3::tresult VELKAPHON_VST3_CALL setIoMode(vst3::IoMode mode) override;
    vst3::int32 VELKAPHON_VST3_CALL getBusCount(vst3::MediaType type,
                                                vst3::BusDirection direction) override;
    vst3::tresult VELKAPHON_VST3_CALL getBusInfo(vst3::MediaType type, vst3::BusDirection direction,
                                                 vst3::int32 index, vst3::BusInfo& bus) override;
    vst3::tresult VELKAPHON_VST3_CALL getRoutingInfo(vst3::RoutingInfo& inInfo,
                                                     vst3::RoutingInfo& outInfo) override;
    vst3::tresult VELKAPHON_VST3_CALL activateBus(vst3::MediaType type,
                                                  vst3::BusDirection direction, vst3::int32 index,
                                                  vst3::TBool state) override;
    vst3::tresult VELKAPHON_VST3_CALL setActive(vst3::TBool state) override;

    // IAudioProcessor
    vst3::tresult VELKAPHON_VST3_CALL setBusArrangements(vst3::SpeakerArrangement* inputs,
                                                         vst3::int32 numIns,
                                                         vst3::SpeakerArrangement* outputs,
                                                         vst3::int32 numOuts) override;
    vst3::tresult VELKAPHON_VST3_CALL
    getBusArrangement(vst3::BusDirection direction, vst3::int32 index,
                      vst3::SpeakerArrangement& arrangement) override;
    vst3::tresult VELKAPHON_VST3_CALL canProcessSampleSize(vst3::int32 size) override;
    vst3::uint32 VELKAPHON_VST3_CALL getLatencySamples() override;
    vst3::tresult VELKAPHON_VST3_CALL setupProcessing(vst3::ProcessSetup& setup) override;
    // [control, audio] The host may call it on either.
    vst3::tresult VELKAPHON_VST3_CALL setProcessing(vst3::TBool state) override;
    // [audio] Never allocates, locks or throws.
    vst3::tresult VELKAPHON_VST3_CALL process(vst3::ProcessData& data) override;
    vst3::uint32 VELKAPHON_VST3_CALL getTailSamples() override;

    // IEditController
    vst3::tresult VELKAPHON_VST3_CALL setComponentState(vst3::IBStream* state) override;
    vst3::int32 VELKAPHON_VST3_CALL getParameterCount() override;
    vst3::tresult VELKAPHON_VST3_CALL getParameterInfo(vst3::int32 index,
                                                       vst3::ParameterInfo& info) override;
    vst3::tresult VELKAPHON_VST3_CALL getParamStringByValue(vst3::ParamID id,
                                                            vst3::ParamValue valueNormalized,
                                                            vst3::String128 string) override;
    vst3::tresult VELKAPHON_VST3_CALL getParamValueByString(
        vst3::ParamID id, vst3::TChar* string, vst3::ParamValue& valueNormalized) override;
    vst3::ParamValue VELKAPHON_VST3_CALL
    normalizedParamToPlain(vst3::ParamID id, vst3::ParamValue valueNormalized) override;
    vst3::ParamValue VELKAPHON_VST3_CALL plainParamToNormalized(vst3::ParamID id,
                                                                vst3::ParamValue plain) override;
    vst3::ParamValue VELKAPHON_VST3_CALL getParamNormalized(vst3::ParamID id) override;
    vst3::tresult VELKAPHON_VST3_CALL setParamNormalized(vst3::ParamID id,
                                                         vst3::ParamValue value) override;
    vst3::tresult VELKAPHON_VST3_CALL
    setComponentHandler(vst3::IComponentHandler* handler) override;
    vst3::IPlugView* VELKAPHON_VST3_CALL createView(vst3::FIDString name) override;

    // IConnectionPoint: component and controller are one object, so there is nothing to say.
    vst3::tresult VELKAPHON_VST3_CALL connect(vst3::IConnectionPoint* other) override;
    vst3::tresult VELKAPHON_VST3_CALL disconnect(vst3::IConnectionPoint* other) override;
    vst3::tresult VELKAPHON_VST3_CALL notify(vst3::IMessage* message) override;

    // IProcessContextRequirements
    vst3::uint32 VELKAPHON_VST3_CALL getProcessContextRequirements() override;

    // [control] The rack the editor shows.
    RackApplication& application() { return app_; }
    // [control, host] Tells the host kLatencyChanged when the latency moved.
    void reportLatencyChange();

private:
    ~RackProcessor();

    vst3::tresult readState(vst3::IBStream* state) override;
    vst3::tresult writeState(vst3::IBStream* state) override;
    // [control] The Bypass value as the audio path and the controller see it.
    void takeBypass(bool bypassed);

    // [audio] The steps of process.
    // The host's buses into the channel tables: per bus, as many of the host's channels as the
    // rack has active there.
    void bindBuses(const vst3::ProcessData& data);
    TransportInfo blockTransport(const vst3::ProcessContext* context, std::uint32_t frames);
    // The block cut at every bypass point and into slices the rack's block size holds.
    void renderSlices(std::uint32_t frames, const TransportInfo& transport, const EventList& events,
                      const BypassPoint* points, std::uint32_t pointCount);
    // One slice at offset in the block: the host's input copied in, the rack run (or bypassed),
    // 64-bit output copied out.
    void renderSlice(std::uint32_t offset, std::uint32_t frames, const TransportInfo& transport,
                     const EventList& events);
    // Silence flags, and zeros in every host output channel the rack has not rendered.
    void writeOutputs(vst3::ProcessData& data);

    struct Bus {
        vst3::BusInfo info{};
        vst3::SpeakerArrangement arrangement = vst3::SpeakerArr::kStereo;
    };

    std::atomic<vst3::uint32> references_{1};
    RackApplication app_;
    std::array<std::uint32_t, kRackBusCount> inputChannelCounts_{};
    std::array<std::uint32_t, kRackBusCount> outputChannelCounts_{};
    // Set by activateBus; a host may still pass channels for a bus it deactivated.
    std::array<std::atomic<bool>, kRackBusCount> inputBusActive_{};
    std::array<std::atomic<bool>, kRackBusCount> outputBusActive_{};
    std::array<float*, kRackChannelLimit> inputChannels_{};
    std::array<float*, kRackChannelLimit> outputChannels_{};
    std::vector<float> inputScratch_;
    std::vector<float> outputScratch_;
    std::uint32_t blockFrames_ = 0;
    // The rack's block size and the scratch rows' length: blockFrames, at most kMaxBlockFrames.
    std::uint32_t sliceFrames_ = 0;
    std::uint32_t inputChannelTotal_ = 0;
    std::uint32_t outputChannelTotal_ = 0;
    std::atomic<bool> processing_{false};
    std::atomic<bool> bypass_{false};
    std::uint32_t reportedLatency_ = 0;
    std::int64_t samplePosition_ = 0;
    std::int64_t lastProjectTime_ = 0;
    std::uint32_t lastBlockFrames_ = 0;
    bool wasPlaying_ = false;
    // Per block, flattened like the tables: the host's rows (null where the host passes none, and
    // for silenced inputs) and whether an output channel has sounded so far.
    bool wideSamples_ = false;
    std::array<const void*, kRackChannelLimit> hostInputs_{};
    std::array<double*, kRackChannelLimit> hostWideOutputs_{};
    std::array<bool, kRackChannelLimit> sounding_{};
    // Per block: how many of each host output bus's channels the rack renders.
    std::array<std::uint32_t, kRackBusCount> boundOutputChannels_{};

    // What the SDK's base would hold.
    bool initialized_ = false;
    std::vector<Bus> audioInputs_;
    std::vector<Bus> audioOutputs_;
    std::vector<Bus> eventInputs_;
    vst3::ParameterInfo bypassInfo_{};
    vst3::ParamValue bypassNormalized_ = 0.0;
    vst3::uint32 contextRequirements_ = 0;
    vst3::InterfacePtr<vst3::IComponentHandler> componentHandler_;
    vst3::InterfacePtr<vst3::FUnknown> hostContext_;
};

} // namespace velkaphon::rack
