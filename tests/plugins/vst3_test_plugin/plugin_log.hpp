#pragma once

#include <string_view>

namespace velkaphon::rack::testing {

// Appends one line to the log file the tests named, if they named one.
void writePluginLog(std::string_view line);

} // namespace velkaphon::rack::testing
