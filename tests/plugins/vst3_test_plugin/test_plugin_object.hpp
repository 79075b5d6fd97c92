#pragma once

#include "abi/vst3/component.hpp"
#include "abi/vst3/controller.hpp"
#include "abi/vst3/processor.hpp"
#include "tests/plugins/vst3_test_plugin/test_behaviour.hpp"

#include <atomic>
#include <memory>

namespace velkaphon::rack::testing {

// One object of the test plug-in: a component (which may be its own controller) or a separate
// controller, as its behaviour and role say.
class TestPluginObject final : public vst3::IComponent,
                               public vst3::IAudioProcessor,
                               public vst3::IEditController,
                               public vst3::IConnectionPoint {
public:
    enum class Role { Component, Controller };

    TestPluginObject(Role role, const TestBehaviour& behaviour);
    ~TestPluginObject();

    // A separate controller's own view setting, as its editor would change it.
    void setViewZoom(double zoom) { viewZoom_.store(zoom); }

    // FUnknown, on every side.
    vst3::tresult VELKAPHON_VST3_CALL queryInterface(const vst3::TUID iid, void** object) override;
    vst3::uint32 VELKAPHON_VST3_CALL addRef() override;
    vst3::uint32 VELKAPHON_VST3_CALL release() override;

    // IPluginBase, shared by the component and controller sides.
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
    // The component's state, or a separate controller's own view setting.
    vst3::tresult VELKAPHON_VST3_CALL setState(vst3::IBStream* state) override;
    vst3::tresult VELKAPHON_VST3_CALL getState(vst3::IBStream* state) override;

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
    vst3::tresult VELKAPHON_VST3_CALL setProcessing(vst3::TBool state) override;
    vst3::tresult VELKAPHON_VST3_CALL process(vst3::ProcessData& data) override;
    vst3::uint32 VELKAPHON_VST3_CALL getTailSamples() override;

    // IEditController
    vst3::tresult VELKAPHON_VST3_CALL setComponentState(vst3::IBStream* state) override;
    vst3::int32 VELKAPHON_VST3_CALL getParameterCount() override;
    vst3::tresult VELKAPHON_VST3_CALL getParameterInfo(vst3::int32 index,
                                                       vst3::ParameterInfo& info) override;
    vst3::tresult VELKAPHON_VST3_CALL getParamStringByValue(vst3::ParamID id,
                                                            vst3::ParamValue value,
                                                            vst3::String128 string) override;
    vst3::tresult VELKAPHON_VST3_CALL getParamValueByString(vst3::ParamID id, vst3::TChar* string,
                                                            vst3::ParamValue& value) override;
    vst3::ParamValue VELKAPHON_VST3_CALL normalizedParamToPlain(vst3::ParamID id,
                                                                vst3::ParamValue value) override;
    vst3::ParamValue VELKAPHON_VST3_CALL plainParamToNormalized(vst3::ParamID id,
                                                                vst3::ParamValue value) override;
    vst3::ParamValue VELKAPHON_VST3_CALL getParamNormalized(vst3::ParamID id) override;
    vst3::tresult VELKAPHON_VST3_CALL setParamNormalized(vst3::ParamID id,
                                                         vst3::ParamValue value) override;
    vst3::tresult VELKAPHON_VST3_CALL
    setComponentHandler(vst3::IComponentHandler* handler) override;
    vst3::IPlugView* VELKAPHON_VST3_CALL createView(vst3::FIDString name) override;

    // IConnectionPoint
    vst3::tresult VELKAPHON_VST3_CALL connect(vst3::IConnectionPoint* other) override;
    vst3::tresult VELKAPHON_VST3_CALL disconnect(vst3::IConnectionPoint* other) override;
    vst3::tresult VELKAPHON_VST3_CALL notify(vst3::IMessage* message) override;

private:
    bool isController() const { return role_ == Role::Controller || behaviour_.singleComponent; }
    bool isComponent() const { return role_ == Role::Component; }
    vst3::int32 parameterIndex(vst3::ParamID id) const;
    vst3::tresult readValues(vst3::IBStream* state);
    vst3::tresult readViewZoom(vst3::IBStream* state);
    vst3::int32 parameterFlags(vst3::int32 index) const;
    // True when the program change was among the changes.
    bool applyParameterChanges(vst3::IParameterChanges* changes);
    // The probe's run during process, and its own value for parameter 0.
    void moveOwnValue(vst3::ProcessData& data);
    void followPrograms(vst3::ProcessData& data, bool programSent, vst3::uint32 latencyBefore);
    template <class Sample>
    void renderGain(vst3::ProcessData& data);

    const Role role_;
    const TestBehaviour& behaviour_;
    std::atomic<vst3::uint32> references_{1};
    std::unique_ptr<std::atomic<double>[]> values_;
    std::atomic<double> viewZoom_{1.0};
    vst3::IComponentHandler* handler_ = nullptr;
    vst3::IConnectionPoint* peer_ = nullptr;
};

} // namespace velkaphon::rack::testing
