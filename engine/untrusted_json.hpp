#pragma once

// Every JSON text that comes from outside the process (page messages, project files and the last
// rack, the plug-in state) is read here. The library parses without recursion but copies,
// compares and dumps recursively, so nesting deep enough to exhaust the stack is refused while
// parsing, before any of that can happen.

#include <nlohmann/json.hpp>

#include <cstddef>
#include <string_view>

namespace velkaphon::rack {

// The deepest nesting of arrays and objects an untrusted text may have.
constexpr std::size_t kMaxJsonDepth = 256;

enum class JsonExtent {
    WholeText,  // anything after the value is an error
    FirstValue, // what follows the first complete value is ignored
};

// [any] Throws std::runtime_error carrying tooDeep for nesting deeper than kMaxJsonDepth,
// and the library's parse error for text that is not JSON.
nlohmann::json readUntrustedJson(std::string_view text, JsonExtent extent, const char* tooDeep);

} // namespace velkaphon::rack
