#pragma once

// One block of a hosted CLAP instance: audio, parameter changes, notes and transport in, the
// plug-in's process call, audio, notes and the plug-in's own parameter values out.

#include "abi/clap/audio_ports.hpp"
#include "abi/clap/plugin.hpp"
#include "engine/module.hpp"
#include "hosting/clap_event_buffer.hpp"
#include "hosting/clap_parameters.hpp"
#include "hosting/parameter_index.hpp"
#include "hosting/parameter_values.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace velkaphon::rack {

// The ports of one side, their storage of maxFrames floats a channel, and the buffers that
// name it.
struct ClapSide {
    std::vector<PortSpec> ports;
    std::vector<clap_audio_buffer> buffers;
    std::vector<std::vector<float>> storage;
    std::vector<std::vector<float*>> pointers;

    // [control]
    void allocate(std::uint32_t maxFrames);

    // [audio] Null outside the ports.
    float* channel(std::size_t port, std::uint32_t c) const {
        return port < ports.size() && c < ports[port].channels ? pointers[port][c] : nullptr;
    }
};

// What the audio path of one activated instance works on.
struct ClapBlock {
    const clap_plugin* plugin = nullptr;
    ClapSide inputs;
    ClapSide outputs;
    std::unique_ptr<ClapParameterSlot[]> slots;
    std::uint32_t parameterCount = 0;
    ParameterIndex parameterIndex;
    ParameterValues values;
    bool clapNoteDialect = false;
    double sampleRate = 48000.0;
    // Frames processed since activation; never goes back while active.
    std::uint64_t steadyTime = 0;
    ClapEventBuffer inputEvents;
    ClapEventBuffer outputEvents;
    clap_event_transport transport{};
};

// [audio] Allocates nothing and takes no lock, but lets the plug-in's exceptions through
// to the caller. The block must fit the activated maximum. False, with the outputs zeroed, when
// the plug-in answers CLAP_PROCESS_ERROR.
bool processClapBlock(ClapBlock& block, BlockContext& context);

// [control, audio] The page's pending parameter changes into the input events.
void queueParameterEvents(ClapBlock& block) noexcept;

// [control, audio] The values the plug-in reported in its output events into their slots.
void storeOutputValues(ClapBlock& block) noexcept;

// [any] No lock, no allocation. The place of the parameter with the id, or none.
std::optional<std::size_t> clapParameterPlace(const ClapBlock& block, clap_id id) noexcept;

} // namespace velkaphon::rack
