#pragma once

// The life of one hosted VST3 instance in its host context: creation, buses, activation for a
// sample rate and block size, and the ordered teardown. Every step is [control], raises one
// sentence and records in the host's flags what it did, so that the teardown undoes exactly that.

#include "hosting/vst3_host.hpp"

#include <cstdint>
#include <memory>

namespace velkaphon::rack {

// The component of the requested class (the library's default when none is requested), its
// processor, and its controller when it has one, connected to it.
void createVstInstance(VstHostImpl::Host& host, std::shared_ptr<LoadedModule> library);

// The audio buses as ports: id the bus index, name the bus name, the bus's channel count.
void readVstBuses(VstHostImpl::Host& host);

// Sample size, buses and their buffers, processing set-up, the parameter list, then active and
// processing; the latency is read and the restart flags cleared.
void activateVstProcessing(VstHostImpl::Host& host, double sampleRate, std::uint32_t maxBlock);

// The controller's current values into the parameter slots, except where a rack edit is still
// on its way to the processor. Needs a controller.
void readVstParameterValues(VstHostImpl::Host& host);

// Harmless when no editor is open.
void closeVstEditor(VstHostImpl::Host& host) noexcept;

// Undoes what the flags record, in order: editor, processing, activation, connections,
// controller, processor, component, library reference. Never throws.
void shutdownVstInstance(VstHostImpl::Host& host) noexcept;

// Shuts the instance down before the host context goes.
struct VstHostDeleter {
    void operator()(VstHostImpl::Host* host) const noexcept;
};
using VstHostPtr = std::unique_ptr<VstHostImpl::Host, VstHostDeleter>;

} // namespace velkaphon::rack
