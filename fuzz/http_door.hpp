#pragma once

#include <string>
#include <string_view>

namespace velkaphon::rack {

// Any thread, one at a time. Sends the bytes to the loopback page server, with this run's token
// and port in place of "/token/" and "127.0.0.1:1" in the request's head, and returns its answer
// as far as it came.
std::string loopbackRequest(std::string_view bytes);

} // namespace velkaphon::rack
