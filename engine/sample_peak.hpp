#pragma once

#include "engine/wide_vectors.hpp"

#include <cstdint>
#include <emmintrin.h>

namespace velkaphon::rack {

namespace peak_detail {

inline const __m128 kMagnitudeMask = _mm_castsi128_ps(_mm_set1_epi32(0x7fffffff));

inline float widest(__m128 a, __m128 b, __m128 c, __m128 d) noexcept {
    __m128 m = _mm_max_ps(_mm_max_ps(a, b), _mm_max_ps(c, d));
    m = _mm_max_ps(m, _mm_movehl_ps(m, m));
    m = _mm_max_ps(m, _mm_shuffle_ps(m, m, 1));
    return _mm_cvtss_f32(m);
}

inline float tailPeak(float magnitude, float peak) noexcept {
    // A NaN compares false, so it leaves the peak as it is.
    return magnitude > peak ? magnitude : peak;
}

inline float magnitudeOf(float sample) noexcept {
    return _mm_cvtss_f32(_mm_and_ps(_mm_set_ss(sample), kMagnitudeMask));
}

} // namespace peak_detail

// [audio] The largest absolute sample over count channels, starting from peak (never NaN).
// Four independent accumulators, carried from channel to channel and reduced once, keep the max
// chain off the critical path; they start from 0 and meet the given peak only at the end, so a
// call need not wait for the previous call's result. MAXPS returns its second operand when the
// first is NaN, so a NaN sample leaves the peak as it is.
inline float narrowChannelsPeak(const float* const* channels, std::uint32_t count,
                                std::uint32_t frames, float peak) noexcept {
    using namespace peak_detail;
    __m128 a = _mm_setzero_ps();
    __m128 b = a;
    __m128 c = a;
    __m128 d = a;
    for (std::uint32_t channel = 0; channel < count; ++channel) {
        const float* samples = channels[channel];
        std::uint32_t i = 0;
        for (; i + 16 <= frames; i += 16) {
            a = _mm_max_ps(_mm_and_ps(_mm_loadu_ps(samples + i), kMagnitudeMask), a);
            b = _mm_max_ps(_mm_and_ps(_mm_loadu_ps(samples + i + 4), kMagnitudeMask), b);
            c = _mm_max_ps(_mm_and_ps(_mm_loadu_ps(samples + i + 8), kMagnitudeMask), c);
            d = _mm_max_ps(_mm_and_ps(_mm_loadu_ps(samples + i + 12), kMagnitudeMask), d);
        }
        for (; i + 4 <= frames; i += 4) {
            a = _mm_max_ps(_mm_and_ps(_mm_loadu_ps(samples + i), kMagnitudeMask), a);
        }
        for (; i < frames; ++i) {
            peak = tailPeak(magnitudeOf(samples[i]), peak);
        }
    }
    return tailPeak(widest(a, b, c, d), peak);
}

// [audio] Writes store(sample) for frames samples and returns the peak of the samples read,
// as channelPeak would, in one pass. store takes and returns either one float or four.
template <typename Store>
inline float copyWithPeak(const float* source, float* destination, std::uint32_t frames, float peak,
                          Store store) noexcept {
    using namespace peak_detail;
    __m128 a = _mm_setzero_ps();
    __m128 b = a;
    __m128 c = a;
    __m128 d = a;
    const auto step = [&](std::uint32_t at, __m128& accumulator) {
        const __m128 x = _mm_loadu_ps(source + at);
        _mm_storeu_ps(destination + at, store(x));
        accumulator = _mm_max_ps(_mm_and_ps(x, kMagnitudeMask), accumulator);
    };
    std::uint32_t i = 0;
    for (; i + 16 <= frames; i += 16) {
        step(i, a);
        step(i + 4, b);
        step(i + 8, c);
        step(i + 12, d);
    }
    for (; i + 4 <= frames; i += 4) {
        step(i, a);
    }
    for (; i < frames; ++i) {
        destination[i] = store(source[i]);
        peak = tailPeak(magnitudeOf(source[i]), peak);
    }
    return tailPeak(widest(a, b, c, d), peak);
}

// [audio] The narrow kernels' results, eight samples a step. Only when kWideVectors holds.
float wideChannelsPeak(const float* const* channels, std::uint32_t count, std::uint32_t frames,
                       float peak) noexcept;
float wideCopyWithPeak(const float* source, float* destination, std::uint32_t frames,
                       float peak) noexcept;
float wideCopyFiniteWithPeak(const float* source, float* destination, std::uint32_t frames,
                             float peak) noexcept;

// [audio] The largest absolute sample over count channels, starting from peak (never NaN);
// a NaN sample leaves the peak as it is.
inline float channelsPeak(const float* const* channels, std::uint32_t count, std::uint32_t frames,
                          float peak) noexcept {
    return kWideVectors ? wideChannelsPeak(channels, count, frames, peak)
                        : narrowChannelsPeak(channels, count, frames, peak);
}

// [audio] The same for one channel.
inline float channelPeak(const float* samples, std::uint32_t frames, float peak) noexcept {
    return channelsPeak(&samples, 1, frames, peak);
}

// [audio] Copies frames samples and returns their peak as channelPeak would, in one pass.
inline float copyWithPeak(const float* source, float* destination, std::uint32_t frames,
                          float peak) noexcept {
    return kWideVectors ? wideCopyWithPeak(source, destination, frames, peak)
                        : copyWithPeak(source, destination, frames, peak,
                                       [](auto sample) { return sample; });
}

} // namespace velkaphon::rack
