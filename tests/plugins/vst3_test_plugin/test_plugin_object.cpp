#include "tests/plugins/vst3_test_plugin/test_plugin_object.hpp"

#include "abi/vst3/text.hpp"
#include "tests/plugins/vst3_test_plugin/plugin_log.hpp"
#include "tests/plugins/vst3_test_plugin/test_view.hpp"
#include "tests/plugins/vst3_test_plugin/vst3_test_plugin_probe.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <string>

namespace velkaphon::rack::testing {

Vst3TestProbe& testProbe();
void rememberHandler(vst3::IComponentHandler* handler);
void rememberView(TestView* view);
void rememberController(TestPluginObject* controller);
void forgetController(TestPluginObject* controller);

using namespace vst3;

namespace {

constexpr char kStateMagic[4] = {'V', 'K', 'T', 'S'};
constexpr char kViewMagic[4] = {'V', 'K', 'T', 'V'};

std::string roleName(TestPluginObject::Role role, const TestBehaviour& behaviour) {
    return role == TestPluginObject::Role::Controller ? "Test Controller" : behaviour.name;
}

std::string sizeName(int32 size) {
    return size == kSample64 ? "64" : "32";
}

void recordBlock(const ProcessData& data) {
    Vst3TestBlock& block = testProbe().lastBlock;
    block = Vst3TestBlock{};
    block.sampleSize = data.symbolicSampleSize;
    block.frames = data.numSamples;
    block.numInputs = data.numInputs;
    block.numOutputs = data.numOutputs;
    if (data.numInputs > 0) {
        const AudioBusBuffers& bus = data.inputs[0];
        block.inputSilence = bus.silenceFlags;
        for (int32 c = 0; c < bus.numChannels && c < 2; ++c) {
            for (int32 i = 0; i < data.numSamples && i < 4; ++i) {
                block.inputSamples[c][i] = data.symbolicSampleSize == kSample64
                                               ? bus.channelBuffers64[c][i]
                                               : bus.channelBuffers32[c][i];
            }
        }
    }
    if (data.processContext != nullptr) {
        block.context = *data.processContext;
    }
    if (IParameterChanges* changes = data.inputParameterChanges) {
        block.changeCount = changes->getParameterCount();
        for (int32 i = 0; i < block.changeCount && i < Vst3TestBlock::kKept; ++i) {
            IParamValueQueue* queue = changes->getParameterData(i);
            block.changeIds[i] = queue->getParameterId();
            queue->getPoint(0, block.changeOffsets[i], block.changeValues[i]);
        }
    }
    if (IEventList* events = data.inputEvents) {
        block.eventCount = events->getEventCount();
        for (int32 i = 0; i < block.eventCount && i < Vst3TestBlock::kKept; ++i) {
            Event& event = block.events[i];
            events->getEvent(i, event);
            if (event.type == Event::kDataEvent) {
                block.sysExCodes[i] = event.data.size == 7 ? event.data.bytes[5] : 0;
                // The bytes are the host's, valid only during this call.
                event.data.bytes = nullptr;
            }
        }
    }
}

} // namespace

// True when the tests asked this step to fail; throws instead when they asked for that.
bool failsAt(Vst3TestStep step) {
    Vst3TestProbe& probe = testProbe();
    if (probe.failAt.load() != step) {
        return false;
    }
    if (probe.throwOnFailure.load()) {
        throw std::runtime_error("The test plug-in failed on purpose.");
    }
    return true;
}

namespace {

bool readExactly(IBStream* stream, void* buffer, int32 size) {
    int32 read = 0;
    return stream->read(buffer, size, &read) == kResultOk && read == size;
}

bool writeExactly(IBStream* stream, const void* buffer, int32 size) {
    int32 written = 0;
    return stream->write(const_cast<void*>(buffer), size, &written) == kResultOk && written == size;
}

} // namespace

TestPluginObject::TestPluginObject(Role role, const TestBehaviour& behaviour)
    : role_(role), behaviour_(behaviour),
      values_(new std::atomic<double>[static_cast<std::size_t>(behaviour.parameterCount)]) {
    for (int32 i = 0; i < behaviour_.parameterCount; ++i) {
        values_[static_cast<std::size_t>(i)].store(0.5);
    }
    testProbe().liveObjects.fetch_add(1);
    if (role_ == Role::Controller) {
        rememberController(this);
    }
    writePluginLog("create " + roleName(role_, behaviour_));
}

TestPluginObject::~TestPluginObject() {
    if (role_ == Role::Controller) {
        forgetController(this);
    }
    writePluginLog("destroy " + roleName(role_, behaviour_));
    testProbe().liveObjects.fetch_sub(1);
}

tresult TestPluginObject::queryInterface(const TUID iid, void** object) {
    if (object == nullptr) {
        return kInvalidArgument;
    }
    *object = nullptr;
    if (sameUid(iid, FUnknown::iid)) {
        *object = static_cast<IEditController*>(this);
    } else if (sameUid(iid, IPluginBase::iid)) {
        *object = static_cast<IEditController*>(this);
    } else if (sameUid(iid, IComponent::iid) && isComponent()) {
        *object = static_cast<IComponent*>(this);
    } else if (sameUid(iid, IAudioProcessor::iid) && isComponent()) {
        *object = static_cast<IAudioProcessor*>(this);
    } else if (sameUid(iid, IEditController::iid) && isController()) {
        *object = static_cast<IEditController*>(this);
    } else if (sameUid(iid, IConnectionPoint::iid) && !behaviour_.singleComponent) {
        *object = static_cast<IConnectionPoint*>(this);
    } else {
        return kNoInterface;
    }
    addRef();
    return kResultOk;
}

uint32 TestPluginObject::addRef() {
    return references_.fetch_add(1) + 1;
}

uint32 TestPluginObject::release() {
    const uint32 left = references_.fetch_sub(1) - 1;
    if (left == 0) {
        delete this;
    }
    return left;
}

tresult TestPluginObject::initialize(FUnknown* context) {
    if (context == nullptr) {
        return kInvalidArgument;
    }
    if (failsAt(role_ == Role::Component ? Vst3TestStep::InitializeComponent
                                         : Vst3TestStep::InitializeController)) {
        return kResultFalse;
    }
    writePluginLog("initialize " + roleName(role_, behaviour_));
    return kResultOk;
}

tresult TestPluginObject::terminate() {
    writePluginLog("terminate " + roleName(role_, behaviour_));
    return kResultOk;
}

tresult TestPluginObject::getControllerClassId(TUID classId) {
    if (classId == nullptr) {
        return kInvalidArgument;
    }
    if (!behaviour_.separateController) {
        return kResultFalse;
    }
    const Uid controller = vst3TestClassId(kVst3TestControllerIndex);
    std::memcpy(classId, controller.data(), controller.size());
    return kResultOk;
}

tresult TestPluginObject::setIoMode(IoMode) {
    return kResultOk;
}

int32 TestPluginObject::getBusCount(MediaType type, BusDirection direction) {
    if (type == kEvent) {
        return behaviour_.echoesEvents ? 1 : 0;
    }
    return direction == kInput ? behaviour_.audioInputs : behaviour_.audioOutputs;
}

tresult TestPluginObject::getBusInfo(MediaType type, BusDirection direction, int32 index,
                                     BusInfo& bus) {
    if (index < 0 || index >= getBusCount(type, direction)) {
        return kInvalidArgument;
    }
    bus.mediaType = type;
    bus.direction = direction;
    bus.channelCount = type == kEvent ? 16 : behaviour_.channels;
    const std::string name = std::string(type == kEvent ? "Events " : "Audio ") +
                             (direction == kInput ? "In " : "Out ") + std::to_string(index);
    copyText(bus.name, name);
    bus.busType = index == 0 ? kMain : kAux;
    bus.flags = BusInfo::kDefaultActive;
    return kResultOk;
}

tresult TestPluginObject::getRoutingInfo(RoutingInfo&, RoutingInfo&) {
    return kNotImplemented;
}

tresult TestPluginObject::activateBus(MediaType type, BusDirection direction, int32 index, TBool) {
    if (type == kAudio && failsAt(Vst3TestStep::ActivateBus)) {
        return kResultFalse;
    }
    return index >= 0 && index < getBusCount(type, direction) ? kResultOk : kInvalidArgument;
}

tresult TestPluginObject::setActive(TBool state) {
    if (state && failsAt(Vst3TestStep::SetActive)) {
        return kResultFalse;
    }
    writePluginLog(std::string(state ? "activate " : "deactivate ") + roleName(role_, behaviour_));
    return kResultOk;
}

tresult TestPluginObject::setState(IBStream* state) {
    if (state == nullptr) {
        return kInvalidArgument;
    }
    if (!isComponent()) {
        return failsAt(Vst3TestStep::SetControllerState) ? kResultFalse : readViewZoom(state);
    }
    writePluginLog("setState " + roleName(role_, behaviour_));
    if (behaviour_.rejectsState || failsAt(Vst3TestStep::SetState)) {
        return kResultFalse;
    }
    return readValues(state);
}

tresult TestPluginObject::getState(IBStream* state) {
    if (state == nullptr) {
        return kInvalidArgument;
    }
    if (!isComponent()) {
        const double zoom = viewZoom_.load();
        return !failsAt(Vst3TestStep::GetControllerState) && writeExactly(state, kViewMagic, 4) &&
                       writeExactly(state, &zoom, 8)
                   ? kResultOk
                   : kResultFalse;
    }
    if (behaviour_.stateNotImplemented) {
        return kNotImplemented;
    }
    const int32 count = behaviour_.parameterCount;
    if (!writeExactly(state, kStateMagic, 4) || !writeExactly(state, &count, 4)) {
        return kResultFalse;
    }
    for (int32 i = 0; i < count; ++i) {
        const double value = values_[static_cast<std::size_t>(i)].load();
        if (!writeExactly(state, &value, 8)) {
            return kResultFalse;
        }
    }
    return kResultOk;
}

// An empty stream keeps the defaults; anything else must be a whole blob of this class.
tresult TestPluginObject::readValues(IBStream* state) {
    char magic[4] = {};
    int32 read = 0;
    if (state->read(magic, 4, &read) != kResultOk || read == 0) {
        return read == 0 ? kResultOk : kResultFalse;
    }
    int32 count = 0;
    if (read != 4 || std::memcmp(magic, kStateMagic, 4) != 0 || !readExactly(state, &count, 4) ||
        count != behaviour_.parameterCount) {
        return kResultFalse;
    }
    for (int32 i = 0; i < count; ++i) {
        double value = 0.0;
        if (!readExactly(state, &value, 8)) {
            return kResultFalse;
        }
        values_[static_cast<std::size_t>(i)].store(value);
    }
    return kResultOk;
}

tresult TestPluginObject::readViewZoom(IBStream* state) {
    char magic[4] = {};
    double zoom = 0.0;
    if (!readExactly(state, magic, 4) || std::memcmp(magic, kViewMagic, 4) != 0 ||
        !readExactly(state, &zoom, 8)) {
        return kResultFalse;
    }
    viewZoom_.store(zoom);
    writePluginLog("setState Test Controller " + std::to_string(zoom));
    return kResultOk;
}

tresult TestPluginObject::setBusArrangements(SpeakerArrangement*, int32, SpeakerArrangement*,
                                             int32) {
    return kResultFalse;
}

tresult TestPluginObject::getBusArrangement(BusDirection direction, int32 index,
                                            SpeakerArrangement& arrangement) {
    if (index < 0 || index >= getBusCount(kAudio, direction)) {
        return kInvalidArgument;
    }
    arrangement = behaviour_.channels == 1 ? SpeakerArr::kMono : SpeakerArr::kStereo;
    return kResultOk;
}

tresult TestPluginObject::canProcessSampleSize(int32 size) {
    if (size == kSample32) {
        return behaviour_.supports32 ? kResultOk : kResultFalse;
    }
    if (size == kSample64) {
        return behaviour_.supports64 ? kResultOk : kResultFalse;
    }
    return kResultFalse;
}

uint32 TestPluginObject::getLatencySamples() {
    const uint32 latency = testProbe().latencyOverride.load();
    if (latency != 0) {
        return latency;
    }
    if (behaviour_.latencyParameter >= 0) {
        return static_cast<uint32>(
            std::lround(values_[static_cast<std::size_t>(behaviour_.latencyParameter)] * 960.0));
    }
    return behaviour_.latency;
}

tresult TestPluginObject::setupProcessing(ProcessSetup& setup) {
    writePluginLog("setupProcessing " + roleName(role_, behaviour_) + " " +
                   sizeName(setup.symbolicSampleSize) + " " +
                   std::to_string(setup.maxSamplesPerBlock));
    if (failsAt(Vst3TestStep::SetupProcessing)) {
        return kResultFalse;
    }
    return canProcessSampleSize(setup.symbolicSampleSize);
}

tresult TestPluginObject::setProcessing(TBool state) {
    if (state && failsAt(Vst3TestStep::SetProcessing)) {
        return kResultFalse;
    }
    writePluginLog(std::string(state ? "processing on " : "processing off ") +
                   roleName(role_, behaviour_));
    return testProbe().processingNotImplemented.load() ? kNotImplemented : kResultOk;
}

bool TestPluginObject::applyParameterChanges(IParameterChanges* changes) {
    bool programSent = false;
    if (changes == nullptr) {
        return programSent;
    }
    for (int32 i = 0; i < changes->getParameterCount(); ++i) {
        IParamValueQueue* queue = changes->getParameterData(i);
        const int32 index = queue != nullptr ? parameterIndex(queue->getParameterId()) : -1;
        const int32 points = queue != nullptr ? queue->getPointCount() : 0;
        int32 offset = 0;
        double value = 0.0;
        if (index >= 0 && points > 0 && queue->getPoint(points - 1, offset, value) == kResultOk) {
            values_[static_cast<std::size_t>(index)].store(value);
            programSent = programSent || (behaviour_.programs && index == 2);
        }
    }
    return programSent;
}

void TestPluginObject::moveOwnValue(ProcessData& data) {
    Vst3TestProbe& probe = testProbe();
    if (probe.duringProcess != nullptr) {
        probe.duringProcess();
    }
    int32 index = 0;
    if (probe.ownValue < 0.0 || behaviour_.parameterCount == 0 ||
        data.outputParameterChanges == nullptr) {
        return;
    }
    values_[0].store(probe.ownValue);
    if (IParamValueQueue* queue =
            data.outputParameterChanges->addParameterData(vst3TestParameterId(0), index)) {
        queue->addPoint(0, probe.ownValue, index);
    }
}

// Loads the program (every other value back to 0.5) whenever the program change is sent, the
// same value included, and tells the host what moved.
void TestPluginObject::followPrograms(ProcessData& data, bool programSent, uint32 latencyBefore) {
    if (programSent) {
        for (int32 i = 0; i < behaviour_.parameterCount; ++i) {
            if (i != 2) {
                values_[static_cast<std::size_t>(i)].store(0.5);
            }
        }
        handler_->restartComponent(kParamValuesChanged);
    }
    if (getLatencySamples() != latencyBefore) {
        handler_->restartComponent(kLatencyChanged);
    }
    double peak = 0.0;
    if (data.numInputs > 0 && data.inputs[0].numChannels > 0) {
        for (int32 i = 0; i < data.numSamples; ++i) {
            peak = std::max(peak, std::abs(data.symbolicSampleSize == kSample64
                                               ? data.inputs[0].channelBuffers64[0][i]
                                               : double{data.inputs[0].channelBuffers32[0][i]}));
        }
    }
    int32 index = 0;
    if (IParamValueQueue* meter =
            data.outputParameterChanges != nullptr
                ? data.outputParameterChanges->addParameterData(vst3TestParameterId(1), index)
                : nullptr) {
        meter->addPoint(0, 1.0, index);
        meter->addPoint(data.numSamples - 1, std::min(peak, 1.0), index);
    }
}

// Output bus 0 gets input bus 0 times twice parameter 0 (so 0.5 is unity); other outputs are
// silent.
template <class Sample>
void TestPluginObject::renderGain(ProcessData& data) {
    const auto channelsOf = [](AudioBusBuffers& bus) {
        if constexpr (sizeof(Sample) == 4) {
            return bus.channelBuffers32;
        } else {
            return bus.channelBuffers64;
        }
    };
    const double gain = behaviour_.parameterCount > 0 ? 2.0 * values_[0].load() : 1.0;
    for (int32 o = 0; o < data.numOutputs; ++o) {
        AudioBusBuffers& out = data.outputs[o];
        for (int32 c = 0; c < out.numChannels; ++c) {
            Sample* target = channelsOf(out)[c];
            const bool hasSource = o == 0 && data.numInputs > 0 && c < data.inputs[0].numChannels;
            const Sample* source = hasSource ? channelsOf(data.inputs[0])[c] : nullptr;
            for (int32 i = 0; i < data.numSamples; ++i) {
                target[i] = source != nullptr ? static_cast<Sample>(source[i] * gain) : Sample(0);
            }
        }
    }
}

tresult TestPluginObject::process(ProcessData& data) {
    testProbe().processCalls.fetch_add(1);
    if (failsAt(Vst3TestStep::Process)) {
        return kResultFalse;
    }
    if (behaviour_.throwsInProcess) {
        throw std::runtime_error("The test plug-in failed on purpose.");
    }
    recordBlock(data);
    const uint32 latencyBefore = getLatencySamples();
    const bool programSent = applyParameterChanges(data.inputParameterChanges);
    moveOwnValue(data);
    if (behaviour_.programs) {
        followPrograms(data, programSent, latencyBefore);
    }
    if (data.symbolicSampleSize == kSample64) {
        renderGain<double>(data);
    } else {
        renderGain<float>(data);
    }
    if (behaviour_.echoesEvents && data.inputEvents != nullptr && data.outputEvents != nullptr) {
        for (int32 i = 0; i < data.inputEvents->getEventCount(); ++i) {
            Event event{};
            if (data.inputEvents->getEvent(i, event) == kResultOk) {
                data.outputEvents->addEvent(event);
            }
        }
        if (testProbe().addOutputEvent) {
            data.outputEvents->addEvent(testProbe().outputEvent);
        }
    }
    return kResultOk;
}

uint32 TestPluginObject::getTailSamples() {
    return kNoTail;
}

tresult TestPluginObject::setComponentState(IBStream* state) {
    if (state == nullptr) {
        return kInvalidArgument;
    }
    writePluginLog("setComponentState " + roleName(role_, behaviour_));
    return readValues(state);
}

int32 TestPluginObject::getParameterCount() {
    return behaviour_.parameterCount;
}

tresult TestPluginObject::getParameterInfo(int32 index, ParameterInfo& info) {
    if (index < 0 || index >= behaviour_.parameterCount) {
        return kInvalidArgument;
    }
    if (failsAt(Vst3TestStep::ParameterInfo)) {
        return kResultFalse;
    }
    info.id = vst3TestParameterId(static_cast<uint32>(index));
    copyText(info.title, index == 0   ? "Gain"
                         : index == 1 ? "Meter"
                                      : "Parameter " + std::to_string(index));
    copyText(info.shortTitle, "");
    copyText(info.units, index == 0 ? "x" : "");
    info.stepCount = 0;
    info.defaultNormalizedValue = 0.5;
    info.unitId = kRootUnitId;
    info.flags = parameterFlags(index);
    return kResultOk;
}

tresult TestPluginObject::getParamStringByValue(ParamID id, ParamValue value, String128 string) {
    if (parameterIndex(id) < 0 || string == nullptr) {
        return kInvalidArgument;
    }
    const std::string text = std::to_string(value);
    for (std::size_t i = 0; i <= text.size() && i < 128; ++i) {
        string[i] = i < text.size() ? static_cast<char16_t>(text[i]) : u'\0';
    }
    return kResultOk;
}

tresult TestPluginObject::getParamValueByString(ParamID, TChar*, ParamValue&) {
    return kNotImplemented;
}

ParamValue TestPluginObject::normalizedParamToPlain(ParamID, ParamValue value) {
    return value;
}

ParamValue TestPluginObject::plainParamToNormalized(ParamID, ParamValue value) {
    return value;
}

ParamValue TestPluginObject::getParamNormalized(ParamID id) {
    const int32 index = parameterIndex(id);
    return index < 0 ? 0.0 : values_[static_cast<std::size_t>(index)].load();
}

tresult TestPluginObject::setParamNormalized(ParamID id, ParamValue value) {
    const int32 index = parameterIndex(id);
    if (index < 0) {
        return kInvalidArgument;
    }
    values_[static_cast<std::size_t>(index)].store(value);
    if (behaviour_.restartsOnEdit && index == 0 && handler_ != nullptr) {
        handler_->restartComponent(kLatencyChanged);
    }
    return kResultOk;
}

tresult TestPluginObject::setComponentHandler(IComponentHandler* handler) {
    writePluginLog(std::string(handler != nullptr ? "handler set " : "handler cleared ") +
                   roleName(role_, behaviour_));
    if (handler != nullptr && failsAt(Vst3TestStep::SetHandler)) {
        return kResultFalse;
    }
    handler_ = handler;
    rememberHandler(handler);
    return kResultOk;
}

IPlugView* TestPluginObject::createView(FIDString name) {
    if (!behaviour_.hasEditor || name == nullptr || std::strcmp(name, "editor") != 0) {
        return nullptr;
    }
    auto* view = new TestView();
    rememberView(view);
    return view;
}

tresult TestPluginObject::connect(IConnectionPoint* other) {
    if (other == nullptr) {
        return kInvalidArgument;
    }
    if (failsAt(isComponent() ? Vst3TestStep::ConnectComponent : Vst3TestStep::ConnectController)) {
        return kResultFalse;
    }
    peer_ = other;
    writePluginLog("connect " + roleName(role_, behaviour_));
    return kResultOk;
}

tresult TestPluginObject::disconnect(IConnectionPoint* other) {
    if (other == nullptr || other != peer_) {
        return kInvalidArgument;
    }
    peer_ = nullptr;
    writePluginLog("disconnect " + roleName(role_, behaviour_));
    return kResultOk;
}

tresult TestPluginObject::notify(IMessage* message) {
    return message != nullptr ? kResultOk : kInvalidArgument;
}

int32 TestPluginObject::parameterFlags(int32 index) const {
    if (index == 1) {
        return ParameterInfo::kIsReadOnly;
    }
    if (behaviour_.programs && index == 2) {
        return ParameterInfo::kIsProgramChange | ParameterInfo::kIsList;
    }
    if (behaviour_.programs && index >= 4) {
        return ParameterInfo::kIsHidden;
    }
    return ParameterInfo::kCanAutomate;
}

int32 TestPluginObject::parameterIndex(ParamID id) const {
    const int64 index = static_cast<int64>(id) - vst3TestParameterId(0);
    return index >= 0 && index < behaviour_.parameterCount ? static_cast<int32>(index) : -1;
}

} // namespace velkaphon::rack::testing
