#pragma once

// The module's class factory: one class, the rack as an audio effect.

#include "abi/vst3/factory.hpp"

namespace velkaphon::rack {

// The rack's class id in this platform's byte order (COM's on Windows).
inline constexpr vst3::Uid kRackProcessorClassId =
    vst3::makeUid(0x56454C4B, 0x4150484F, 0x4E524143, 0x4B000101);

// [control] The process-wide factory, made on the first call; the first call hands
// out its initial reference, every later one adds a reference. The pointer is cleared when the
// host releases the last reference, so a later call makes a new factory.
vst3::IPluginFactory* rackPluginFactory();

// [control] A new RackProcessor as its IComponent, carrying its initial reference;
// an exception of the constructor passes on.
vst3::FUnknown* createRackProcessor(void* context);

} // namespace velkaphon::rack
