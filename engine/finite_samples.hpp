#pragma once

#include <cstddef>
#include <emmintrin.h>

namespace velkaphon::rack {

// [any] Four samples with every infinity and NaN (all exponent bits set) made 0.
inline __m128 finiteOrZero(__m128 samples) noexcept {
    const __m128i exponent = _mm_set1_epi32(0x7f800000);
    const __m128i bits = _mm_and_si128(_mm_castps_si128(samples), exponent);
    return _mm_andnot_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(bits, exponent)), samples);
}

// [any] The same for one sample.
inline float finiteOrZero(float sample) noexcept {
    return _mm_cvtss_f32(finiteOrZero(_mm_set_ss(sample)));
}

// [any] Infinities and NaNs in place become 0.
inline void clearNonFinite(float* samples, std::size_t count) noexcept {
    std::size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        _mm_storeu_ps(samples + i, finiteOrZero(_mm_loadu_ps(samples + i)));
    }
    for (; i < count; ++i) {
        samples[i] = finiteOrZero(samples[i]);
    }
}

} // namespace velkaphon::rack
