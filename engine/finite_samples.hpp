#pragma once

#include "engine/wide_vectors.hpp"

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

// [any] The largest magnitude's upper half among 64 samples: a sample is non-finite when its
// upper half, sign cleared, reaches 0x7f80 (all exponent bits set). The lower halves are masked to
// 0, so a signed 16-bit max over both halves sees only the upper ones.
inline __m128i widestUpperHalf(const float* samples) noexcept {
    const __m128i magnitudeHigh = _mm_set1_epi32(0x7fff0000);
    const auto half = [&](std::size_t k) {
        return _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(samples + 4 * k)),
                             magnitudeHigh);
    };
    const auto widest = [&](std::size_t k) {
        return _mm_max_epi16(_mm_max_epi16(half(k), half(k + 4)),
                             _mm_max_epi16(half(k + 8), half(k + 12)));
    };
    return _mm_max_epi16(_mm_max_epi16(widest(0), widest(1)), _mm_max_epi16(widest(2), widest(3)));
}

// [any] As clearNonFinite. Decoded files nearly always hold only finite samples, so a
// read-only scan of few integer operations a sample looks for the rare run of 64 that does not,
// and only such a run is rewritten: the common case stores nothing.
inline void narrowClearNonFiniteRuns(float* samples, std::size_t count) noexcept {
    constexpr std::size_t kRun = 64;
    const __m128i finiteLimit = _mm_set1_epi32(0x7f7f0000);
    std::size_t i = 0;
    for (; i + kRun <= count; i += kRun) {
        if (_mm_movemask_epi8(_mm_cmpgt_epi16(widestUpperHalf(samples + i), finiteLimit)) != 0) {
            for (std::size_t k = i; k < i + kRun; k += 4) {
                _mm_storeu_ps(samples + k, finiteOrZero(_mm_loadu_ps(samples + k)));
            }
        }
    }
    clearNonFinite(samples + i, count - i);
}

// [any] The same eight samples a step. Only when kWideVectors holds.
void wideClearNonFiniteRuns(float* samples, std::size_t count) noexcept;

// [any] Infinities and NaNs in place become 0, by the narrow or the wide scan.
inline void clearNonFiniteRuns(float* samples, std::size_t count) noexcept {
    if (kWideVectors) {
        wideClearNonFiniteRuns(samples, count);
    } else {
        narrowClearNonFiniteRuns(samples, count);
    }
}

} // namespace velkaphon::rack
