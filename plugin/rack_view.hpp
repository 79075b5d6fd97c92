#pragma once

// The plug-in's editor: the rack view as a child of the host's window.

#include "abi/vst3/view.hpp"

namespace velkaphon::rack {

class RackProcessor;

inline constexpr vst3::int32 kRackViewWidth = 1280;
inline constexpr vst3::int32 kRackViewHeight = 820;

// [control] A new detached view of the processor's rack, holding one reference on the
// processor, with its initial reference for the caller.
vst3::IPlugView* createRackView(RackProcessor& processor);

} // namespace velkaphon::rack
