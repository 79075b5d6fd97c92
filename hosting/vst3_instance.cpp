#include "hosting/vst3_instance.hpp"

#include "abi/vst3/text.hpp"
#include "hosting/editor_window.hpp"
#include "hosting/plugin_failure.hpp"
#include "hosting/plugin_limits.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>
#include <utility>

namespace velkaphon::rack {

using namespace vst3;
using VstHostImpl::Host;

namespace {

constexpr std::uint32_t kMaximumEventBusCount = 16;
constexpr std::uint32_t kMaximumBlock = 8192;

FUnknown* contextOf(Host& host) {
    return static_cast<IHostApplication*>(&host);
}

template <class Interface>
InterfacePtr<Interface> createClass(IPluginFactory& factory, const Uid& classId) {
    void* object = nullptr;
    if (factory.createInstance(tuidOf(classId), tuidOf(Interface::iid), &object) != kResultOk ||
        object == nullptr) {
        return {};
    }
    return InterfacePtr<Interface>::adopt(static_cast<Interface*>(object));
}

bool isZero(const Uid& uid) {
    return std::all_of(uid.begin(), uid.end(), [](std::uint8_t byte) { return byte == 0; });
}

void createController(Host& host) {
    host.controller = queryInterfacePtr<IEditController>(host.component.get());
    if (host.controller) {
        return;
    }
    TUID controllerClass{};
    if (host.component->getControllerClassId(controllerClass) != kResultOk ||
        isZero(uidFrom(controllerClass))) {
        return;
    }
    host.controller =
        createClass<IEditController>(*host.library->factory, uidFrom(controllerClass));
    if (!host.controller) {
        fail("VST3 controller creation failed.");
    }
    host.separateController = true;
    if (host.controller->initialize(contextOf(host)) != kResultOk) {
        fail("VST3 controller initialization failed.");
    }
    host.controllerInitialized = true;
}

void connectController(Host& host) {
    if (host.controller->setComponentHandler(static_cast<IComponentHandler*>(&host)) != kResultOk) {
        fail("VST3 controller rejected host handler.");
    }
    host.componentConnection = queryInterfacePtr<IConnectionPoint>(host.component.get());
    host.controllerConnection = queryInterfacePtr<IConnectionPoint>(host.controller.get());
    if (!host.separateController || !host.componentConnection || !host.controllerConnection) {
        return;
    }
    if (host.componentConnection->connect(host.controllerConnection.get()) != kResultOk) {
        fail("VST3 processor connection failed.");
    }
    host.componentConnected = true;
    if (host.controllerConnection->connect(host.componentConnection.get()) != kResultOk) {
        fail("VST3 controller connection failed.");
    }
    host.controllerConnected = true;
}

std::uint32_t busCount(Host& host, MediaType type, BusDirection direction, std::uint32_t maximum,
                       const char* tooMany) {
    const auto count = static_cast<std::uint32_t>(host.component->getBusCount(type, direction));
    if (count > maximum) {
        fail(tooMany);
    }
    return count;
}

std::vector<PortSpec> readBuses(Host& host, BusDirection direction) {
    const std::uint32_t count =
        busCount(host, kAudio, direction, kMaxPluginBuses, "VST3 bus count exceeds 64.");
    std::vector<PortSpec> ports;
    for (std::uint32_t index = 0; index < count; ++index) {
        BusInfo info{};
        if (host.component->getBusInfo(kAudio, direction, static_cast<int32>(index), info) !=
                kResultOk ||
            info.channelCount < 1 || std::cmp_greater(info.channelCount, kMaxPluginBusChannels)) {
            fail("VST3 port has unsupported width (1..64).");
        }
        ports.push_back({std::to_string(index), utf8FromField(info.name, 128),
                         static_cast<std::uint32_t>(info.channelCount)});
    }
    return ports;
}

std::size_t totalChannels(const std::vector<PortSpec>& buses) {
    std::size_t total = 0;
    for (const PortSpec& bus : buses) {
        total += bus.channels;
    }
    return total;
}

void chooseSampleSize(Host& host) {
    host.use64Bit =
        host.prefer64Bit || host.processor->canProcessSampleSize(kSample32) != kResultOk;
    if (host.use64Bit && host.processor->canProcessSampleSize(kSample64) != kResultOk) {
        fail("Plugin does not support float32 or float64.");
    }
}

// Points each bus's buffers at its channels' storage, channels numbered on across buses, and
// activates the bus.
template <class Sample>
void pointBuses(Host& host, const std::vector<PortSpec>& buses, AudioBusBuffers* buffers,
                Sample** table, std::vector<Sample>& storage) {
    std::size_t channel = 0;
    for (std::size_t bus = 0; bus < buses.size(); ++bus) {
        buffers[bus].numChannels = static_cast<int32>(buses[bus].channels);
        Sample** row = table + bus * kMaxPluginBusChannels;
        for (std::uint32_t c = 0; c < buses[bus].channels; ++c, ++channel) {
            row[c] = storage.data() + channel * host.maxBlockSize;
        }
        if constexpr (sizeof(Sample) == 4) {
            buffers[bus].channelBuffers32 = row;
        } else {
            buffers[bus].channelBuffers64 = row;
        }
    }
}

void activateBuses(Host& host, BusDirection direction, std::size_t count, const char* refused) {
    for (std::size_t bus = 0; bus < count; ++bus) {
        if (host.component->activateBus(kAudio, direction, static_cast<int32>(bus), 1) !=
            kResultOk) {
            fail(refused);
        }
    }
}

void activateEventBuses(Host& host) {
    for (BusDirection direction : {kInput, kOutput}) {
        const std::uint32_t count = busCount(host, kEvent, direction, kMaximumEventBusCount,
                                             "Event bus count exceeds host bounds.");
        for (std::uint32_t bus = 0; bus < count; ++bus) {
            host.component->activateBus(kEvent, direction, static_cast<int32>(bus), 1);
        }
    }
}

void setUpBuffers(Host& host) {
    const std::size_t block = host.maxBlockSize;
    host.inputStorage32.assign(totalChannels(host.inputBuses) * block, 0.0f);
    host.outputStorage32.assign(totalChannels(host.outputBuses) * block, 0.0f);
    host.inputStorage64.assign(host.use64Bit ? host.inputStorage32.size() : 0, 0.0);
    host.outputStorage64.assign(host.use64Bit ? host.outputStorage32.size() : 0, 0.0);

    pointBuses(host, host.inputBuses, host.inputBuffers.data(), host.inputChannels32.data(),
               host.inputStorage32);
    activateBuses(host, kInput, host.inputBuses.size(), "Cannot activate plugin input.");
    pointBuses(host, host.outputBuses, host.outputBuffers.data(), host.outputChannels32.data(),
               host.outputStorage32);
    activateBuses(host, kOutput, host.outputBuses.size(), "Cannot activate plugin output.");
    activateEventBuses(host);
    if (host.use64Bit) {
        pointBuses(host, host.inputBuses, host.inputBuffers.data(), host.inputChannels64.data(),
                   host.inputStorage64);
        pointBuses(host, host.outputBuses, host.outputBuffers.data(), host.outputChannels64.data(),
                   host.outputStorage64);
    }
}

void readParameters(Host& host) {
    const int32 count = host.controller ? host.controller->getParameterCount() : 0;
    if (std::cmp_greater(count, kMaxPluginParameters)) {
        fail("Plugin parameter count exceeds 4096.");
    }
    host.parameters.clear();
    host.parameterFlags.clear();
    for (int32 index = 0; index < count; ++index) {
        ParameterInfo info{};
        if (host.controller->getParameterInfo(index, info) != kResultOk) {
            fail("Invalid parameter.");
        }
        host.parameters.push_back({info.id, utf8FromField(info.title, 128),
                                   utf8FromField(info.units, 128),
                                   host.controller->getParamNormalized(info.id),
                                   (info.flags & ParameterInfo::kIsReadOnly) != 0});
        host.parameterFlags.push_back(static_cast<std::uint32_t>(info.flags));
    }
    host.parameterSlots = std::vector<ParameterSlot>(host.parameters.size());
    host.parameterValues.reset(host.parameters.size());
    for (std::size_t i = 0; i < host.parameters.size(); ++i) {
        host.parameterValues.hold(i, host.parameters[i].value, host.parameterValues.clock());
    }
    indexVstParameters(host);
}

} // namespace

void createVstInstance(Host& host, std::shared_ptr<LoadedModule> library) {
    host.library = std::move(library);
    const Uid classId =
        isZero(host.requestedClass) ? host.library->defaultClass : host.requestedClass;
    host.component = createClass<IComponent>(*host.library->factory, classId);
    if (!host.component) {
        fail("VST3 effect creation failed.");
    }
    if (host.component->initialize(contextOf(host)) != kResultOk) {
        fail("VST3 component initialization failed.");
    }
    host.componentInitialized = true;
    host.processor = queryInterfacePtr<IAudioProcessor>(host.component.get());
    if (!host.processor) {
        fail("VST3 audio processor is absent.");
    }
    createController(host);
    if (host.controller) {
        connectController(host);
    }
}

void readVstBuses(Host& host) {
    host.inputBuses.clear();
    host.outputBuses.clear();
    host.inputBuses = readBuses(host, kInput);
    host.outputBuses = readBuses(host, kOutput);
    host.inputBusCount = static_cast<std::int32_t>(host.inputBuses.size());
    host.outputBusCount = static_cast<std::int32_t>(host.outputBuses.size());
}

void activateVstProcessing(Host& host, double sampleRate, std::uint32_t maxBlock) {
    if (!std::isfinite(sampleRate) || sampleRate < 8000.0 || sampleRate > 384000.0 ||
        maxBlock < 1 || maxBlock > kMaximumBlock) {
        fail("Invalid processing specification.");
    }
    host.sampleRate = sampleRate;
    host.maxBlockSize = maxBlock;
    chooseSampleSize(host);
    readVstBuses(host);
    if (totalChannels(host.inputBuses) > kMaxPluginSideChannels ||
        totalChannels(host.outputBuses) > kMaxPluginSideChannels) {
        fail("VST3 total channel count exceeds 512.");
    }
    setUpBuffers(host);

    ProcessSetup setup{kRealtime, host.use64Bit ? kSample64 : kSample32,
                       static_cast<int32>(maxBlock), sampleRate};
    if (host.processor->setupProcessing(setup) != kResultOk) {
        fail("VST3 processing setup failed.");
    }
    readParameters(host);
    if (host.component->setActive(1) != kResultOk) {
        fail("Plugin activation failed.");
    }
    host.active = true;
    // Plug-ins built on the SDK's effect base class answer kNotImplemented unless they override
    // setProcessing; that is not a refusal.
    const tresult processing = host.processor->setProcessing(1);
    if (processing != kResultOk && processing != kNotImplemented) {
        fail("Plugin processing failed.");
    }
    host.processing = true;
    // Cleared before the latency is read, so that a change the plug-in reports after the read
    // stays asked for.
    host.restartFlags.exchange(0);
    host.parameterValuesChanged.store(false);
    const std::uint32_t latency = host.processor->getLatencySamples();
    if (latency > kMaxPluginLatency) {
        fail("Plugin latency exceeds 10-second bound.");
    }
    host.latency = latency;
}

void readVstParameterValues(Host& host) {
    for (std::size_t i = 0; i < host.parameterValues.size(); ++i) {
        const std::uint64_t asked = host.parameterValues.clock();
        if (host.parameterValues.editPending(i)) {
            continue;
        }
        const double value = host.controller->getParamNormalized(host.parameters[i].id);
        if (std::isfinite(value)) {
            host.parameterValues.hold(i, std::clamp(value, 0.0, 1.0), asked);
        }
    }
}

void closeVstEditor(Host& host) noexcept {
    if (host.view) {
        if (host.attached) {
            callIgnoringFailure([&host] { host.view->removed(); });
        }
        host.attached = false;
        callIgnoringFailure([&host] { host.view->setFrame(nullptr); });
        callIgnoringFailure([&host] { host.view.reset(); });
    }
    if (host.childWindow != nullptr) {
        destroyEditorChildWindow(host.childWindow);
        host.childWindow = nullptr;
    }
}

void shutdownVstInstance(Host& host) noexcept {
    closeVstEditor(host);
    if (host.processing) {
        callIgnoringFailure([&host] { host.processor->setProcessing(0); });
        host.processing = false;
    }
    if (host.active) {
        callIgnoringFailure([&host] { host.component->setActive(0); });
        host.active = false;
    }
    if (host.componentConnected) {
        callIgnoringFailure(
            [&host] { host.componentConnection->disconnect(host.controllerConnection.get()); });
    }
    if (host.controllerConnected) {
        callIgnoringFailure(
            [&host] { host.controllerConnection->disconnect(host.componentConnection.get()); });
    }
    host.componentConnected = false;
    host.controllerConnected = false;
    callIgnoringFailure([&host] { host.componentConnection.reset(); });
    callIgnoringFailure([&host] { host.controllerConnection.reset(); });
    if (host.controller) {
        callIgnoringFailure([&host] { host.controller->setComponentHandler(nullptr); });
        if (host.controllerInitialized) {
            callIgnoringFailure([&host] { host.controller->terminate(); });
        }
        host.controllerInitialized = false;
        callIgnoringFailure([&host] { host.controller.reset(); });
    }
    callIgnoringFailure([&host] { host.processor.reset(); });
    if (host.component) {
        if (host.componentInitialized) {
            callIgnoringFailure([&host] { host.component->terminate(); });
        }
        host.componentInitialized = false;
        callIgnoringFailure([&host] { host.component.reset(); });
    }
    host.library.reset();
}

void VstHostDeleter::operator()(Host* host) const noexcept {
    shutdownVstInstance(*host);
    delete host;
}

} // namespace velkaphon::rack
