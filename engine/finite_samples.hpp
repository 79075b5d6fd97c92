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

// Samples scanned for non-finite values at a time: a run that may hold one is rewritten whole.
constexpr std::size_t kNonFiniteRun = 64;

// [any] Whether one of kNonFiniteRun samples may be an infinity or NaN. A sum is non-finite once
// one of its terms is, so one add per vector finds it; finite samples that overflow the sum only
// cost a needless rewrite of their run.
inline bool runMayHoldNonFinite(const float* run) noexcept {
    __m128 a = _mm_loadu_ps(run);
    __m128 b = _mm_loadu_ps(run + 4);
    __m128 c = _mm_loadu_ps(run + 8);
    __m128 d = _mm_loadu_ps(run + 12);
    for (std::size_t k = 16; k < kNonFiniteRun; k += 16) {
        a = _mm_add_ps(a, _mm_loadu_ps(run + k));
        b = _mm_add_ps(b, _mm_loadu_ps(run + k + 4));
        c = _mm_add_ps(c, _mm_loadu_ps(run + k + 8));
        d = _mm_add_ps(d, _mm_loadu_ps(run + k + 12));
    }
    const __m128 sum = _mm_add_ps(_mm_add_ps(a, b), _mm_add_ps(c, d));
    // x - x is 0 for a finite x and NaN for any other.
    const __m128 difference = _mm_sub_ps(sum, sum);
    return _mm_movemask_ps(_mm_cmpunord_ps(difference, difference)) != 0;
}

// [any] One run made finite. Rare, so both widths of the scan share this four-wide form.
inline void clearNonFiniteRun(float* run) noexcept {
    for (std::size_t k = 0; k < kNonFiniteRun; k += 4) {
        _mm_storeu_ps(run + k, finiteOrZero(_mm_loadu_ps(run + k)));
    }
}

// [any] As clearNonFinite. Decoded files nearly always hold only finite samples, so a
// read-only scan of one add a vector looks for the rare run of 64 that does not, and only such a
// run is rewritten: the common case stores nothing.
inline void narrowClearNonFiniteRuns(float* samples, std::size_t count) noexcept {
    std::size_t i = 0;
    for (; i + kNonFiniteRun <= count; i += kNonFiniteRun) {
        if (runMayHoldNonFinite(samples + i)) {
            clearNonFiniteRun(samples + i);
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
