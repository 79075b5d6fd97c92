// A CLAP plug-in for the tests. Each plug-in id of its factory shows one behaviour; build
// variants of this file break the entry itself (see CMakeLists.txt).

#include "abi/clap/audio_ports.hpp"
#include "abi/clap/entry.hpp"
#include "abi/clap/gui.hpp"
#include "abi/clap/latency.hpp"
#include "abi/clap/note_ports.hpp"
#include "abi/clap/params.hpp"
#include "abi/clap/state.hpp"
#include "abi/clap/thread_check.hpp"
#include "tests/plugins/clap_test_plugin/clap_test_probe.hpp"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#define VELKAPHON_TEST_EXPORT __declspec(dllexport)
#else
#define VELKAPHON_TEST_EXPORT __attribute__((visibility("default")))
#endif

#ifndef VELKAPHON_CLAP_TEST_MAJOR
#define VELKAPHON_CLAP_TEST_MAJOR 1
#endif
#ifndef VELKAPHON_CLAP_TEST_INIT_RESULT
#define VELKAPHON_CLAP_TEST_INIT_RESULT true
#endif
#ifndef VELKAPHON_CLAP_TEST_HAS_FACTORY
#define VELKAPHON_CLAP_TEST_HAS_FACTORY 1
#endif
#ifdef VELKAPHON_CLAP_TEST_BAD_ID
#define VELKAPHON_CLAP_TEST_BAD_TEXT_ID "velkaphon.test.bad-\xFF-id"
#else
#define VELKAPHON_CLAP_TEST_BAD_TEXT_ID "velkaphon.test.bad-text"
#endif
#ifndef VELKAPHON_CLAP_TEST_ENTRY_NAME
#define VELKAPHON_CLAP_TEST_ENTRY_NAME clap_entry
#endif

namespace velkaphon::rack::testing {
namespace {

ClapTestProbe probe;

void log(const std::string& line) {
    const char* path = std::getenv(kClapTestLogVariable);
    if (path == nullptr || *path == '\0') {
        return;
    }
    if (std::FILE* file = std::fopen(path, "a")) {
        std::fprintf(file, "%s\n", line.c_str());
        std::fclose(file);
    }
}

// Runs when the library is mapped and when it is unmapped.
struct LoadMarker {
    LoadMarker() { log("load"); }
    ~LoadMarker() { log("unload"); }
} loadMarker;

struct Behaviour {
    const char* id;
    const char* name;
    bool hasAudioPorts = true;
    std::uint32_t inputChannels = 2; // one input port of this width; none when 0
    std::uint32_t outputChannels = 2;
    std::uint32_t parameterCount = 0; // ids 100, 101, ...; the second is read-only
    bool hidesLastParameter = false;
    bool gain = false; // the first parameter scales the audio
    bool hasLatency = false;
    std::uint32_t latency = 0;
    std::uint32_t noteDialects = 0; // one note port each way when not 0
    bool hasState = false;
    bool rejectsState = false;
    bool hasGui = false;
    bool processFails = false;
    bool initFails = false;
    bool requestsRestart = false;
    bool echoesEvents = false; // and adds a MIDI event just past the block
    bool throwsInProcess = false;
    // Loads a preset of its own in on_main_thread and reports its read-only parameter from
    // process; keeps the call log.
    bool ownPresets = false;
};

constexpr std::uint32_t kFirstParameterId = 100;

const Behaviour kBehaviours[] = {
    {.id = "velkaphon.test.gain",
     .name = "Test Gain",
     .parameterCount = 1,
     .gain = true,
     .hasLatency = true,
     .hasState = true},
    {.id = "velkaphon.test.latency", .name = "Test Latency", .hasLatency = true, .latency = 64},
    {.id = "velkaphon.test.note-echo",
     .name = "Test Note Echo",
     .inputChannels = 0,
     .noteDialects = CLAP_NOTE_DIALECT_CLAP,
     .echoesEvents = true},
    {.id = "velkaphon.test.midi-echo",
     .name = "Test MIDI Echo",
     .inputChannels = 0,
     .noteDialects = CLAP_NOTE_DIALECT_CLAP | CLAP_NOTE_DIALECT_MIDI,
     .echoesEvents = true},
    {.id = "velkaphon.test.many-params",
     .name = "Test Many Parameters",
     .parameterCount = 600,
     .hidesLastParameter = true},
    {.id = "velkaphon.test.rejects-state",
     .name = "Test Rejects State",
     .hasState = true,
     .rejectsState = true},
    {.id = "velkaphon.test.gui", .name = "Test Editor", .hasGui = true},
    {.id = "velkaphon.test.process-error", .name = "Test Process Error", .processFails = true},
    {.id = "velkaphon.test.requests-restart",
     .name = "Test Requests Restart",
     .requestsRestart = true},
    {.id = "velkaphon.test.no-audio-ports", .name = "Test No Audio Ports", .hasAudioPorts = false},
    {.id = "velkaphon.test.throws", .name = "Test Throws", .throwsInProcess = true},
    {.id = "velkaphon.test.init-fails", .name = "Test Init Fails", .initFails = true},
    {.id = "velkaphon.test.own-presets",
     .name = "Test Own Presets",
     .parameterCount = 2,
     .noteDialects = CLAP_NOTE_DIALECT_MIDI,
     .hasState = true,
     .ownPresets = true},
    // A text that is not UTF-8, as careless plug-ins hand over.
    {.id = VELKAPHON_CLAP_TEST_BAD_TEXT_ID, .name = "Bad \xFF\xC3 Name \xE2\x82"},
};
constexpr std::uint32_t kBehaviourCount = sizeof(kBehaviours) / sizeof(kBehaviours[0]);

const char* const kFeatures[] = {"audio-effect", nullptr};

struct Descriptors {
    clap_plugin_descriptor list[kBehaviourCount];

    Descriptors() {
        for (std::uint32_t i = 0; i < kBehaviourCount; ++i) {
            list[i] = {kClapVersion,
                       kBehaviours[i].id,
                       kBehaviours[i].name,
                       "VELKAPHON Tests",
                       "",
                       "",
                       "",
                       "1.0.0",
                       "",
                       kFeatures};
        }
    }
} descriptors;

#ifdef VELKAPHON_CLAP_TEST_PLUGIN_COUNT
constexpr std::uint32_t kPluginCount = VELKAPHON_CLAP_TEST_PLUGIN_COUNT;
#else
constexpr std::uint32_t kPluginCount = kBehaviourCount + 1;
#endif

// The variant whose first plug-in is the one with the text id starts the behaviours there.
#ifdef VELKAPHON_CLAP_TEST_TEXT_ID_FIRST
constexpr std::uint32_t kFirstBehaviour = kBehaviourCount - 1;
#else
constexpr std::uint32_t kFirstBehaviour = 0;
#endif

// The factory lists the behaviours in order with a null slot before the last one, so that a scan
// must go on past it. Variants of a given count repeat the behaviours instead.
const clap_plugin_descriptor* descriptorAt(std::uint32_t index) {
    if (index >= kPluginCount) {
        return nullptr;
    }
    if (kPluginCount != kBehaviourCount + 1) {
        return &descriptors.list[(index + kFirstBehaviour) % kBehaviourCount];
    }
    const std::uint32_t last = kBehaviourCount - 1;
    if (index == last) {
        return nullptr;
    }
    return &descriptors.list[index < last ? index : last];
}

struct Instance {
    clap_plugin plugin{};
    const Behaviour* behaviour = nullptr;
    const clap_host* host = nullptr;
    std::vector<double> values;
    bool active = false;
    bool processing = false;
    std::int64_t nextSteadyTime = 0;
    std::thread::id processThread;
};

Instance& instanceOf(const clap_plugin* plugin) {
    return *static_cast<Instance*>(plugin->plugin_data);
}

const Behaviour& behaviourOf(const clap_plugin* plugin) {
    return *instanceOf(plugin).behaviour;
}

const clap_host_thread_check* threadCheckOf(const Instance& instance) {
    return static_cast<const clap_host_thread_check*>(
        instance.host->get_extension(instance.host, CLAP_EXT_THREAD_CHECK));
}

double defaultValue(const Behaviour& behaviour) {
    return behaviour.gain ? 1.0 : 0.5;
}

int parameterIndex(const Instance& instance, clap_id id) {
    if (id < kFirstParameterId || id - kFirstParameterId >= instance.values.size()) {
        return -1;
    }
    return static_cast<int>(id - kFirstParameterId);
}

// Parameters.

std::uint32_t parameterCount(const clap_plugin* plugin) {
    return behaviourOf(plugin).parameterCount;
}

bool parameterInfo(const clap_plugin* plugin, std::uint32_t index, clap_param_info* info) {
    const Behaviour& behaviour = behaviourOf(plugin);
    if (index >= behaviour.parameterCount) {
        return false;
    }
    *info = {};
    info->id = kFirstParameterId + index;
    info->flags = CLAP_PARAM_IS_AUTOMATABLE | (index == 1 ? CLAP_PARAM_IS_READONLY : 0);
    if (behaviour.hidesLastParameter && index + 1 == behaviour.parameterCount) {
        info->flags |= CLAP_PARAM_IS_HIDDEN;
    }
    const std::string name = behaviour.gain ? "Gain" : "Parameter " + std::to_string(index);
    std::snprintf(info->name, sizeof(info->name), "%s", name.c_str());
    info->min_value = 0.0;
    info->max_value = behaviour.gain ? 2.0 : 1.0;
    info->default_value = defaultValue(behaviour);
    return true;
}

bool parameterValue(const clap_plugin* plugin, clap_id id, double* value) {
    const Instance& instance = instanceOf(plugin);
    const int index = parameterIndex(instance, id);
    if (index < 0) {
        return false;
    }
    *value = instance.values[static_cast<std::size_t>(index)];
    return true;
}

bool noText(const clap_plugin*, clap_id, double, char*, std::uint32_t) {
    return false;
}

bool noValue(const clap_plugin*, clap_id, const char*, double*) {
    return false;
}

void applyParameterEvents(Instance& instance, const clap_input_events* in) {
    for (std::uint32_t i = 0; i < in->size(in); ++i) {
        const clap_event_header* header = in->get(in, i);
        if (header->space_id != CLAP_CORE_EVENT_SPACE_ID ||
            header->type != CLAP_EVENT_PARAM_VALUE) {
            continue;
        }
        const auto* event = reinterpret_cast<const clap_event_param_value*>(header);
        const int index = parameterIndex(instance, event->param_id);
        if (index >= 0) {
            instance.values[static_cast<std::size_t>(index)] = event->value;
        }
    }
}

bool onAudioThread(const Instance& instance) {
    const clap_host_thread_check* check = threadCheckOf(instance);
    return check != nullptr && check->is_audio_thread(instance.host);
}

// The call log counts every parameter event and note the plug-in is handed.
void logInputEvents(const clap_input_events* in) {
    for (std::uint32_t i = 0; i < in->size(in); ++i) {
        const std::uint16_t type = in->get(in, i)->type;
        if (type == CLAP_EVENT_PARAM_VALUE) {
            ++probe.parameterEventsSeen;
        } else if (type == CLAP_EVENT_MIDI || type == CLAP_EVENT_NOTE_ON ||
                   type == CLAP_EVENT_NOTE_OFF) {
            ++probe.notesSeen;
        }
    }
}

void flushParameters(const clap_plugin* plugin, const clap_input_events* in,
                     const clap_output_events*) {
    Instance& instance = instanceOf(plugin);
    if (instance.behaviour->ownPresets) {
        ++probe.flushCalls;
        probe.flushWhileProcessing = probe.flushWhileProcessing || instance.processing;
        probe.flushWhileActiveOffAudioThread =
            probe.flushWhileActiveOffAudioThread || (instance.active && !onAudioThread(instance));
        logInputEvents(in);
    }
    applyParameterEvents(instance, in);
}

constexpr clap_plugin_params kParams{parameterCount, parameterInfo, parameterValue,
                                     noText,         noValue,       flushParameters};

// Audio and note ports.

std::uint32_t audioPortCount(const clap_plugin* plugin, bool isInput) {
    const Behaviour& behaviour = behaviourOf(plugin);
    return (isInput ? behaviour.inputChannels : behaviour.outputChannels) != 0 ? 1 : 0;
}

bool audioPort(const clap_plugin* plugin, std::uint32_t index, bool isInput,
               clap_audio_port_info* info) {
    if (index >= audioPortCount(plugin, isInput)) {
        return false;
    }
    const Behaviour& behaviour = behaviourOf(plugin);
    *info = {};
    info->id = 0;
    std::snprintf(info->name, sizeof(info->name), "%s", isInput ? "Main In" : "Main Out");
    info->flags = CLAP_AUDIO_PORT_IS_MAIN;
    info->channel_count = isInput ? behaviour.inputChannels : behaviour.outputChannels;
    info->port_type = info->channel_count == 2 ? CLAP_PORT_STEREO : nullptr;
    info->in_place_pair = CLAP_INVALID_ID;
    return true;
}

constexpr clap_plugin_audio_ports kAudioPorts{audioPortCount, audioPort};

std::uint32_t notePortCount(const clap_plugin*, bool) {
    return 1;
}

bool notePort(const clap_plugin* plugin, std::uint32_t index, bool isInput,
              clap_note_port_info* info) {
    if (index != 0) {
        return false;
    }
    const std::uint32_t dialects = behaviourOf(plugin).noteDialects;
    *info = {};
    info->supported_dialects = dialects;
    info->preferred_dialect =
        (dialects & CLAP_NOTE_DIALECT_MIDI) != 0 ? CLAP_NOTE_DIALECT_MIDI : CLAP_NOTE_DIALECT_CLAP;
    std::snprintf(info->name, sizeof(info->name), "%s", isInput ? "Notes In" : "Notes Out");
    return true;
}

constexpr clap_plugin_note_ports kNotePorts{notePortCount, notePort};

// Latency and state.

std::uint32_t latencyOf(const clap_plugin* plugin) {
    return behaviourOf(plugin).latency;
}

constexpr clap_plugin_latency kLatency{latencyOf};

// The state is the parameter values, 8 bytes each.
bool saveState(const clap_plugin* plugin, const clap_ostream* stream) {
    const Instance& instance = instanceOf(plugin);
    const auto size = static_cast<std::uint64_t>(instance.values.size() * sizeof(double));
    return size == 0 ||
           stream->write(stream, instance.values.data(), size) == static_cast<std::int64_t>(size);
}

bool loadState(const clap_plugin* plugin, const clap_istream* stream) {
    Instance& instance = instanceOf(plugin);
    if (instance.behaviour->rejectsState) {
        return false;
    }
    std::vector<double> values(instance.values.size());
    const auto size = static_cast<std::int64_t>(values.size() * sizeof(double));
    if (size != 0 &&
        stream->read(stream, values.data(), static_cast<std::uint64_t>(size)) != size) {
        return false;
    }
    instance.values = values;
    return true;
}

constexpr clap_plugin_state kState{saveState, loadState};

// An embedded editor that exists only as counters.

bool embeddedWin32(const clap_plugin*, const char* api, bool isFloating) {
    return api != nullptr && std::strcmp(api, CLAP_WINDOW_API_WIN32) == 0 && !isFloating;
}

bool preferredApi(const clap_plugin*, const char** api, bool* isFloating) {
    *api = CLAP_WINDOW_API_WIN32;
    *isFloating = false;
    return true;
}

bool createGui(const clap_plugin* plugin, const char* api, bool isFloating) {
    if (!embeddedWin32(plugin, api, isFloating)) {
        return false;
    }
    ++probe.guiCreated;
    return true;
}

void destroyGui(const clap_plugin*) {
    ++probe.guiDestroyed;
}

bool guiSize(const clap_plugin*, std::uint32_t* width, std::uint32_t* height) {
    *width = 320;
    *height = 200;
    return true;
}

bool refuseScale(const clap_plugin*, double) {
    return false;
}

bool cannot(const clap_plugin*) {
    return false;
}

bool noHints(const clap_plugin*, clap_gui_resize_hints*) {
    return false;
}

bool noAdjust(const clap_plugin*, std::uint32_t*, std::uint32_t*) {
    return false;
}

bool noResize(const clap_plugin*, std::uint32_t, std::uint32_t) {
    return false;
}

bool attach(const clap_plugin*, const clap_window* window) {
    ++probe.guiParentSets;
    return window != nullptr && window->api != nullptr &&
           std::strcmp(window->api, CLAP_WINDOW_API_WIN32) == 0;
}

bool noTransient(const clap_plugin*, const clap_window*) {
    return false;
}

void ignoreTitle(const clap_plugin*, const char*) {}

bool showGui(const clap_plugin*) {
    ++probe.guiShown;
    return true;
}

bool hideGui(const clap_plugin*) {
    ++probe.guiHidden;
    return true;
}

constexpr clap_plugin_gui kGui{embeddedWin32, preferredApi, createGui,   destroyGui, refuseScale,
                               guiSize,       cannot,       noHints,     noAdjust,   noResize,
                               attach,        noTransient,  ignoreTitle, showGui,    hideGui};

// The instance.

bool initPlugin(const clap_plugin* plugin) {
    Instance& instance = instanceOf(plugin);
    if (const clap_host_thread_check* check = threadCheckOf(instance)) {
        probe.initOnMainThread = check->is_main_thread(instance.host);
    }
    if (instance.behaviour->ownPresets) {
        const auto* params = static_cast<const clap_host_params*>(
            instance.host->get_extension(instance.host, CLAP_EXT_PARAMS));
        params->request_flush(instance.host);
    }
    return !instance.behaviour->initFails;
}

void destroyPlugin(const clap_plugin* plugin) {
    ++probe.pluginsDestroyed;
    delete &instanceOf(plugin);
}

bool activate(const clap_plugin* plugin, double sampleRate, std::uint32_t,
              std::uint32_t maxFrames) {
    Instance& instance = instanceOf(plugin);
    instance.active = true;
    instance.nextSteadyTime = 0;
    ++probe.activateCalls;
    probe.lastActivateSampleRate = sampleRate;
    probe.lastActivateMaxFrames = maxFrames;
    return true;
}

void deactivate(const clap_plugin* plugin) {
    instanceOf(plugin).active = false;
    ++probe.deactivateCalls;
}

bool startProcessing(const clap_plugin* plugin) {
    instanceOf(plugin).processing = true;
    ++probe.startProcessingCalls;
    return true;
}

void stopProcessing(const clap_plugin* plugin) {
    Instance& instance = instanceOf(plugin);
    instance.processing = false;
    ++probe.stopProcessingCalls;
    if (!onAudioThread(instance) || std::this_thread::get_id() != instance.processThread) {
        ++probe.stopProcessingOffAudioThread;
    }
}

void reset(const clap_plugin*) {}

void renderAudio(const Instance& instance, const clap_process* process) {
    const double gain = instance.behaviour->gain ? instance.values[0] : 1.0;
    for (std::uint32_t port = 0; port < process->audio_outputs_count; ++port) {
        const clap_audio_buffer& output = process->audio_outputs[port];
        const clap_audio_buffer* input =
            port < process->audio_inputs_count ? &process->audio_inputs[port] : nullptr;
        for (std::uint32_t channel = 0; channel < output.channel_count; ++channel) {
            const bool hasInput = input != nullptr && channel < input->channel_count;
            for (std::uint32_t frame = 0; frame < process->frames_count; ++frame) {
                const double sample = hasInput ? input->data32[channel][frame] : 0.0;
                output.data32[channel][frame] = static_cast<float>(sample * gain);
            }
        }
    }
}

void recordInputEvents(const clap_input_events* in) {
    for (std::uint32_t i = 0; i < in->size(in) && i < 8; ++i) {
        const clap_event_header* header = in->get(in, i);
        probe.lastEventTypes[i] = header->type;
        probe.lastEventTimes[i] = header->time;
        if (header->type == CLAP_EVENT_MIDI) {
            const auto* midi = reinterpret_cast<const clap_event_midi*>(header);
            std::memcpy(probe.lastMidiBytes[i], midi->data, 3);
        } else if (header->type == CLAP_EVENT_NOTE_ON || header->type == CLAP_EVENT_NOTE_OFF) {
            const auto* note = reinterpret_cast<const clap_event_note*>(header);
            probe.lastNoteKeys[i] = note->key;
            probe.lastNoteVelocities[i] = note->velocity;
        }
    }
}

// Tells the host the parameter's new value, which the plug-in set by itself.
void reportValue(const clap_process* process, clap_id id, double value) {
    clap_event_param_value report{};
    report.header = {sizeof(report), 0, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_PARAM_VALUE, 0};
    report.param_id = id;
    report.note_id = -1;
    report.port_index = -1;
    report.channel = -1;
    report.key = -1;
    report.value = value;
    process->out_events->try_push(process->out_events, &report.header);
}

constexpr double kPresetValue = 0.25;
constexpr double kReportedValue = 0.125;

// The call log's part of process; asks for on_main_thread once, as a preset browser would, and
// reports a new value of the read-only parameter once.
void runOwnPresets(Instance& instance, const clap_process* process) {
    logInputEvents(process->in_events);
    instance.processThread = std::this_thread::get_id();
    probe.steadyTimeWentBack =
        probe.steadyTimeWentBack || process->steady_time < instance.nextSteadyTime;
    instance.nextSteadyTime = process->steady_time + process->frames_count;
    if (instance.values[1] == kReportedValue) {
        return;
    }
    instance.values[1] = kReportedValue;
    reportValue(process, kFirstParameterId + 1, kReportedValue);
    instance.host->request_callback(instance.host);
}

// The probe's run during process, and its own value for the first parameter.
void moveOwnValue(Instance& instance, const clap_process* process) {
    if (probe.duringProcess != nullptr) {
        probe.duringProcess();
    }
    if (probe.ownValue < 0.0 || instance.values.empty()) {
        return;
    }
    instance.values[0] = probe.ownValue;
    reportValue(process, kFirstParameterId, probe.ownValue);
}

// Notes go back with their velocity narrowed to float, as a plug-in that keeps it in float
// sends it.
void echoEvents(const clap_process* process) {
    for (std::uint32_t i = 0; i < probe.lastInputEventCount; ++i) {
        const clap_event_header* header = process->in_events->get(process->in_events, i);
        if (header->type == CLAP_EVENT_NOTE_ON || header->type == CLAP_EVENT_NOTE_OFF) {
            clap_event_note note = *reinterpret_cast<const clap_event_note*>(header);
            note.velocity = static_cast<float>(note.velocity);
            process->out_events->try_push(process->out_events, &note.header);
        } else {
            process->out_events->try_push(process->out_events, header);
        }
    }
    clap_event_midi late{};
    late.header = {sizeof(late), process->frames_count, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_MIDI,
                   0};
    late.data[0] = 0x90;
    late.data[1] = 1;
    late.data[2] = 1;
    process->out_events->try_push(process->out_events, &late.header);
}

clap_process_status process(const clap_plugin* plugin, const clap_process* process) {
    Instance& instance = instanceOf(plugin);
    ++probe.processCalls;
    probe.lastFrames = process->frames_count;
    probe.lastSteadyTime = process->steady_time;
    probe.lastTransportFlags = process->transport != nullptr ? process->transport->flags : 0;
    probe.lastTempo = process->transport != nullptr ? process->transport->tempo : 0.0;
    probe.lastInputEventCount = process->in_events->size(process->in_events);
    probe.lastSongPosBeats = process->transport != nullptr ? process->transport->song_pos_beats : 0;
    probe.lastSongPosSeconds =
        process->transport != nullptr ? process->transport->song_pos_seconds : 0;
    probe.lastFirstInputSample = process->audio_inputs_count > 0 &&
                                         process->audio_inputs[0].channel_count > 0 &&
                                         process->frames_count > 0
                                     ? process->audio_inputs[0].data32[0][0]
                                     : -1.0f;
    recordInputEvents(process->in_events);
    if (instance.behaviour->throwsInProcess) {
        throw std::runtime_error("The CLAP test plug-in failed on purpose.");
    }
    if (const clap_host_thread_check* check = threadCheckOf(instance)) {
        probe.processOnAudioThread = check->is_audio_thread(instance.host);
    }
    if (instance.behaviour->requestsRestart) {
        instance.host->request_restart(instance.host);
    }
    if (instance.behaviour->processFails) {
        return CLAP_PROCESS_ERROR;
    }
    applyParameterEvents(instance, process->in_events);
    moveOwnValue(instance, process);
    if (instance.behaviour->ownPresets) {
        runOwnPresets(instance, process);
    }
    if (instance.behaviour->echoesEvents) {
        echoEvents(process);
    }
    renderAudio(instance, process);
    return CLAP_PROCESS_CONTINUE;
}

const void* pluginExtension(const clap_plugin* plugin, const char* id) {
    const Behaviour& behaviour = behaviourOf(plugin);
    const auto is = [id](const char* name) {
        return std::strcmp(id, name) == 0;
    };
    if (is(CLAP_EXT_AUDIO_PORTS) && behaviour.hasAudioPorts) {
        return &kAudioPorts;
    }
    if (is(CLAP_EXT_PARAMS) && behaviour.parameterCount != 0) {
        return &kParams;
    }
    if (is(CLAP_EXT_LATENCY) && behaviour.hasLatency) {
        return &kLatency;
    }
    if (is(CLAP_EXT_NOTE_PORTS) && behaviour.noteDialects != 0) {
        return &kNotePorts;
    }
    if (is(CLAP_EXT_STATE) && behaviour.hasState) {
        return &kState;
    }
    if (is(CLAP_EXT_GUI) && behaviour.hasGui) {
        return &kGui;
    }
    return nullptr;
}

// The preset-loading plug-in loads its preset here and tells the host its values changed.
void onMainThread(const clap_plugin* plugin) {
    ++probe.mainThreadCalls;
    Instance& instance = instanceOf(plugin);
    if (!instance.behaviour->ownPresets) {
        return;
    }
    instance.values[0] = kPresetValue;
    const auto* params = static_cast<const clap_host_params*>(
        instance.host->get_extension(instance.host, CLAP_EXT_PARAMS));
    if (params != nullptr) {
        params->rescan(instance.host, CLAP_PARAM_RESCAN_VALUES);
    }
}

// The factory.

std::uint32_t pluginCount(const clap_plugin_factory*) {
    return kPluginCount;
}

const clap_plugin_descriptor* pluginDescriptor(const clap_plugin_factory*, std::uint32_t index) {
    return descriptorAt(index);
}

const clap_plugin* createPlugin(const clap_plugin_factory*, const clap_host* host,
                                const char* pluginId) {
    for (std::uint32_t i = 0; i < kBehaviourCount; ++i) {
        if (std::strcmp(pluginId, kBehaviours[i].id) != 0) {
            continue;
        }
        auto* instance = new Instance;
        instance->behaviour = &kBehaviours[i];
        instance->host = host;
        instance->values.assign(kBehaviours[i].parameterCount, defaultValue(kBehaviours[i]));
        instance->plugin = {
            &descriptors.list[i], instance,        initPlugin,     destroyPlugin, activate,
            deactivate,           startProcessing, stopProcessing, reset,         process,
            pluginExtension,      onMainThread};
        ++probe.pluginsCreated;
        return &instance->plugin;
    }
    return nullptr;
}

constexpr clap_plugin_factory kFactory{pluginCount, pluginDescriptor, createPlugin};

// The entry.

bool initEntry(const char* path) {
    ++probe.initCalls;
    log(std::string("init ") + path);
    return VELKAPHON_CLAP_TEST_INIT_RESULT;
}

void deinitEntry() {
    // Slow, as real plug-ins are, so that a host that lets a new init overtake it is caught.
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ++probe.deinitCalls;
    log("deinit");
}

const void* entryFactory(const char* id) {
    log(std::string("factory ") + id);
    if (VELKAPHON_CLAP_TEST_HAS_FACTORY && std::strcmp(id, CLAP_PLUGIN_FACTORY_ID) == 0) {
        return &kFactory;
    }
    return nullptr;
}

} // namespace
} // namespace velkaphon::rack::testing

extern "C" {

VELKAPHON_TEST_EXPORT extern const velkaphon::rack::clap_plugin_entry
    VELKAPHON_CLAP_TEST_ENTRY_NAME;
const velkaphon::rack::clap_plugin_entry VELKAPHON_CLAP_TEST_ENTRY_NAME = {
    {VELKAPHON_CLAP_TEST_MAJOR, 2, 10},
    velkaphon::rack::testing::initEntry,
    velkaphon::rack::testing::deinitEntry,
    velkaphon::rack::testing::entryFactory,
};

VELKAPHON_TEST_EXPORT velkaphon::rack::testing::ClapTestProbe* velkaphon_clap_test_probe() {
    return &velkaphon::rack::testing::probe;
}
}
