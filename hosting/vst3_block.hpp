#pragma once

// One block of a hosted VST3 instance: audio, parameter changes, notes and transport in, the
// processor's process call, audio and notes out.

#include "engine/module.hpp"
#include "hosting/vst3_block_objects.hpp"
#include "hosting/vst3_host.hpp"

#include <array>
#include <cstdint>

namespace velkaphon::rack {

// Transport start and stop cross to and from the plug-in as these SysEx messages.
inline constexpr std::array<std::uint8_t, 7> kVstStartSysEx{0xF0, 0x7D, 0x56, 0x4B,
                                                            0x53, 0x01, 0xF7};
inline constexpr std::array<std::uint8_t, 7> kVstStopSysEx{0xF0, 0x7D, 0x56, 0x4B,
                                                           0x53, 0x02, 0xF7};

// [audio] Allocates nothing and takes no lock, but lets the plug-in's exceptions through
// to the caller. The block must fit the prepared maximum. A process result other than
// kResultOk leaves the outputs zeroed and marks the plug-in as faulted.
void processVstBlock(VstHostImpl::Host& host, VstEvents& inputEvents, VstEvents& outputEvents,
                     BlockContext& context);

} // namespace velkaphon::rack
