#pragma once

// The host context of one hosted VST3 instance: what its component and controller talk back to,
// and everything the instance needs from the rack (its interfaces, buses, buffers, and the
// table through which parameter edits cross threads).

#include "abi/vst3/component.hpp"
#include "abi/vst3/controller.hpp"
#include "abi/vst3/host_application.hpp"
#include "abi/vst3/interface_ptr.hpp"
#include "abi/vst3/processor.hpp"
#include "abi/vst3/view.hpp"
#include "engine/module.hpp"
#include "hosting/parameter_index.hpp"
#include "hosting/parameter_values.hpp"
#include "hosting/plugin_fault.hpp"
#include "hosting/plugin_limits.hpp"
#include "hosting/vst3_block_objects.hpp"
#include "hosting/vst3_library.hpp"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

namespace velkaphon::rack {

// What waits for the controller of one parameter: raised once the value is stored; the control
// thread clears it with an exchange and only then reads the value.
struct ParameterSlot {
    std::atomic<bool> pendingForController{false};
};

namespace VstHostImpl {

inline constexpr std::uint32_t kFaultFlag = 1;

// Not reference counted: the plug-in's release calls leave it alone. Its owner destroys it on
// the UI thread, after the instance is shut down.
class Host final : public vst3::HostApplication,
                   public vst3::IComponentHandler,
                   public vst3::IPlugFrame {
public:
    Host() = default;
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;
    ~Host() = default;

    // Every side: IComponentHandler and IPlugFrame here, the rest from HostApplication.
    vst3::tresult VELKAPHON_VST3_CALL queryInterface(const vst3::TUID iid, void** object) override;
    vst3::uint32 VELKAPHON_VST3_CALL addRef() override { return 1; }
    vst3::uint32 VELKAPHON_VST3_CALL release() override { return 1; }

    vst3::tresult VELKAPHON_VST3_CALL getName(vst3::String128 name) override;

    // [any]
    vst3::tresult VELKAPHON_VST3_CALL beginEdit(vst3::ParamID id) override;
    vst3::tresult VELKAPHON_VST3_CALL performEdit(vst3::ParamID id,
                                                  vst3::ParamValue valueNormalized) override;
    vst3::tresult VELKAPHON_VST3_CALL endEdit(vst3::ParamID id) override;
    vst3::tresult VELKAPHON_VST3_CALL restartComponent(vst3::int32 flags) override;

    // [control] Accepted only on the editor's thread.
    vst3::tresult VELKAPHON_VST3_CALL resizeView(vst3::IPlugView* view,
                                                 vst3::ViewRect* newSize) override;

    std::shared_ptr<LoadedModule> library;
    vst3::InterfacePtr<vst3::IComponent> component;
    vst3::InterfacePtr<vst3::IAudioProcessor> processor;
    // The component itself when it is its own controller.
    vst3::InterfacePtr<vst3::IEditController> controller;
    vst3::InterfacePtr<vst3::IConnectionPoint> componentConnection;
    vst3::InterfacePtr<vst3::IConnectionPoint> controllerConnection;

    bool separateController = false;
    bool componentInitialized = false;
    bool controllerInitialized = false;
    bool componentConnected = false;
    bool controllerConnected = false;
    bool active = false;
    bool processing = false;

    vst3::InterfacePtr<vst3::IPlugView> view;
    NativeWindowHandle childWindow = nullptr;
    // No thread until an editor opens.
    std::thread::id editorThread;
    bool attached = false;
    // Keeps a resize that the view's own onSize asks for from running inside the first.
    bool resizing = false;

    double sampleRate = 48000.0;
    std::uint32_t maxBlockSize = 512;
    std::int32_t inputBusCount = 0;
    std::int32_t outputBusCount = 0;
    bool use64Bit = false;
    bool prefer64Bit = false;
    // All zero: the library's default class.
    vst3::Uid requestedClass{};

    std::vector<PortSpec> inputBuses;
    std::vector<PortSpec> outputBuses;
    std::array<vst3::AudioBusBuffers, kMaxPluginBuses> inputBuffers{};
    std::array<vst3::AudioBusBuffers, kMaxPluginBuses> outputBuffers{};
    // Entry bus x 64 + channel.
    std::array<float*, kMaxPluginBuses * kMaxPluginBusChannels> inputChannels32{};
    std::array<float*, kMaxPluginBuses * kMaxPluginBusChannels> outputChannels32{};
    std::array<double*, kMaxPluginBuses * kMaxPluginBusChannels> inputChannels64{};
    std::array<double*, kMaxPluginBuses * kMaxPluginBusChannels> outputChannels64{};
    std::vector<float> inputStorage32;
    std::vector<float> outputStorage32;
    std::vector<double> inputStorage64;
    std::vector<double> outputStorage64;

    std::vector<HostedParameter> parameters;
    // The ParameterInfo flags, one a parameter.
    std::vector<std::uint32_t> parameterFlags;
    ParameterValues parameterValues;
    std::vector<ParameterSlot> parameterSlots;
    ParameterIndex parameterIndex;
    Changes changes;
    // What the processor reports back in a block: meters, read-only values, its own changes.
    Changes outputChanges;

    // The restart flags the plug-in asked for, and kFaultFlag from the audio thread.
    std::atomic<std::uint32_t> restartFlags{0};
    // The controller's values changed by themselves; the control thread reads them again.
    std::atomic<bool> parameterValuesChanged{false};
    // Why kFaultFlag was raised.
    PluginFault fault;
    std::uint32_t latency = 0;
};

} // namespace VstHostImpl

// [control] Orders the parameters by id for vstParameterIndex and the processor's own changes,
// once the list is read.
void indexVstParameters(VstHostImpl::Host& host);

// [any] No lock, no allocation. The parameter's place in the list, none for an id no parameter
// has. A binary search: the audio thread asks for every value the processor reports.
std::optional<std::size_t> vstParameterIndex(const VstHostImpl::Host& host,
                                             std::uint32_t id) noexcept;

// [control] The current value, when a rack edit or the processor's own value waits for the
// controller.
std::optional<double> takeControllerValue(VstHostImpl::Host& host, std::size_t index) noexcept;

// [any] No lock, no allocation. Refuses a value that is not finite, an
// id no parameter has and a read-only parameter; clamps the rest to 0..1.
bool queueParameterEdit(VstHostImpl::Host& host, std::uint32_t id, double value,
                        bool fromController) noexcept;

} // namespace velkaphon::rack
