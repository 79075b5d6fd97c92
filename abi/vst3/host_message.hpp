#pragma once

// The message and attribute list objects a host makes for plug-ins whose component and
// controller talk through IConnectionPoint. Reference counted: the plug-in owns what it makes.

#include "abi/vst3/component.hpp"

namespace velkaphon::rack::vst3 {

// Each returns a new object holding one reference, or null when memory runs out.
IAttributeList* createHostAttributeList() noexcept;
IMessage* createHostMessage() noexcept;

} // namespace velkaphon::rack::vst3
