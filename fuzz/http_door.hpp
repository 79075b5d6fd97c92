#pragma once

#include <string_view>

namespace velkaphon::rack {

// Any thread, one at a time. Sends the bytes as they stand to the loopback page server and reads
// its answer to the end.
void loopbackRequest(std::string_view bytes);

} // namespace velkaphon::rack
