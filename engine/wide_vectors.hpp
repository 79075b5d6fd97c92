#pragma once

namespace velkaphon::rack {

// Any thread: the processor and the system both support 256-bit vectors; fixed before main runs,
// so kernels that have a wide form choose it with one predictable test.
extern const bool kWideVectors;

} // namespace velkaphon::rack
