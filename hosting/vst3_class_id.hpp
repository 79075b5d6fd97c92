#pragma once

#include "abi/vst3/base.hpp"

#include <string>
#include <string_view>

namespace velkaphon::rack {

// 32 upper-case hexadecimal digits, byte 0 first.
std::string vstClassIdText(const vst3::Uid& classId);

// Exactly 32 hexadecimal digits of either case, two a byte; raises "VST3 classId must be 32 hex
// characters." for another length and "Invalid classId." for any other character.
vst3::Uid parseVstClassId(std::string_view text);

} // namespace velkaphon::rack
