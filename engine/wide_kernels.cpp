// The sample kernels eight samples a step, for processors with 256-bit vectors. Each leaves what is
// shorter than a vector or a run to the narrow kernel.
#include "engine/finite_samples.hpp"
#include "engine/sample_peak.hpp"
#include "engine/wide_vectors.hpp"

#include <immintrin.h>

namespace velkaphon::rack {

namespace {

// [any] Clears the sign bit.
__attribute__((target("avx"))) __m256 magnitudeMask() noexcept {
    return _mm256_castsi256_ps(_mm256_set1_epi32(0x7fffffff));
}

// [audio] MAXPS returns its second operand when the first is NaN: a NaN sample leaves it as
// it is.
__attribute__((target("avx"))) __m256 widerOf(__m256 samples, __m256 peak) noexcept {
    return _mm256_max_ps(_mm256_and_ps(samples, magnitudeMask()), peak);
}

// [audio] The largest lane of four accumulators.
__attribute__((target("avx"))) float widest(__m256 a, __m256 b, __m256 c, __m256 d) noexcept {
    const __m256 m = _mm256_max_ps(_mm256_max_ps(a, b), _mm256_max_ps(c, d));
    const __m128 half = _mm256_extractf128_ps(m, 1);
    return peak_detail::widest(_mm256_castps256_ps128(m), half, half, half);
}

// [any] All ones where a sample is an infinity or NaN, a magnitude that is not below
// infinity or is unordered with it.
__attribute__((target("avx"))) __m256 isNonFiniteWide(__m256 samples) noexcept {
    return _mm256_cmp_ps(_mm256_and_ps(samples, magnitudeMask()), _mm256_set1_ps(__builtin_inff()),
                         _CMP_NLT_UQ);
}

// [any] Every infinity and NaN made 0.
__attribute__((target("avx"))) __m256 finiteOrZeroWide(__m256 samples) noexcept {
    return _mm256_andnot_ps(isNonFiniteWide(samples), samples);
}

// [audio] The store of the narrow kernel's tail: the samples as they are, or made finite.
template <bool kFinite>
struct NarrowStore {
    template <typename Samples>
    Samples operator()(Samples samples) const noexcept {
        if constexpr (kFinite) {
            return finiteOrZero(samples);
        } else {
            return samples;
        }
    }
};

// [audio] Eight samples copied, made finite with kFinite, and metered.
template <bool kFinite>
__attribute__((target("avx"))) void copyEight(const float* source, float* destination,
                                              __m256& peak) noexcept {
    const __m256 samples = _mm256_loadu_ps(source);
    _mm256_storeu_ps(destination, kFinite ? finiteOrZeroWide(samples) : samples);
    peak = widerOf(samples, peak);
}

// [audio] copyWithPeak eight samples a step.
template <bool kFinite>
__attribute__((target("avx"))) float copyEightsWithPeak(const float* source, float* destination,
                                                        std::uint32_t frames, float peak) noexcept {
    __m256 a = _mm256_setzero_ps();
    __m256 b = a;
    __m256 c = a;
    __m256 d = a;
    std::uint32_t i = 0;
    for (; i + 32 <= frames; i += 32) {
        copyEight<kFinite>(source + i, destination + i, a);
        copyEight<kFinite>(source + i + 8, destination + i + 8, b);
        copyEight<kFinite>(source + i + 16, destination + i + 16, c);
        copyEight<kFinite>(source + i + 24, destination + i + 24, d);
    }
    for (; i + 8 <= frames; i += 8) {
        copyEight<kFinite>(source + i, destination + i, a);
    }
    peak = peak_detail::tailPeak(widest(a, b, c, d), peak);
    if (i == frames) {
        return peak;
    }
    return copyWithPeak(source + i, destination + i, frames - i, peak, NarrowStore<kFinite>{});
}

// [any] As runMayHoldNonFinite, eight samples a vector.
__attribute__((target("avx"))) bool runMayHoldNonFiniteWide(const float* run) noexcept {
    __m256 a = _mm256_loadu_ps(run);
    __m256 b = _mm256_loadu_ps(run + 8);
    __m256 c = _mm256_loadu_ps(run + 16);
    __m256 d = _mm256_loadu_ps(run + 24);
    for (std::size_t k = 32; k < kNonFiniteRun; k += 32) {
        a = _mm256_add_ps(a, _mm256_loadu_ps(run + k));
        b = _mm256_add_ps(b, _mm256_loadu_ps(run + k + 8));
        c = _mm256_add_ps(c, _mm256_loadu_ps(run + k + 16));
        d = _mm256_add_ps(d, _mm256_loadu_ps(run + k + 24));
    }
    const __m256 sum = _mm256_add_ps(_mm256_add_ps(a, b), _mm256_add_ps(c, d));
    const __m256 difference = _mm256_sub_ps(sum, sum);
    return _mm256_movemask_ps(_mm256_cmp_ps(difference, difference, _CMP_UNORD_Q)) != 0;
}

} // namespace

__attribute__((target("avx"))) float wideChannelsPeak(const float* const* channels,
                                                      std::uint32_t count, std::uint32_t frames,
                                                      float peak) noexcept {
    __m256 a = _mm256_setzero_ps();
    __m256 b = a;
    __m256 c = a;
    __m256 d = a;
    const std::uint32_t eights = frames & ~7u;
    for (std::uint32_t channel = 0; channel < count; ++channel) {
        const float* samples = channels[channel];
        std::uint32_t i = 0;
        for (; i + 32 <= frames; i += 32) {
            a = widerOf(_mm256_loadu_ps(samples + i), a);
            b = widerOf(_mm256_loadu_ps(samples + i + 8), b);
            c = widerOf(_mm256_loadu_ps(samples + i + 16), c);
            d = widerOf(_mm256_loadu_ps(samples + i + 24), d);
        }
        for (; i < eights; i += 8) {
            a = widerOf(_mm256_loadu_ps(samples + i), a);
        }
        if (eights != frames) {
            const float* tail = samples + eights;
            peak = narrowChannelsPeak(&tail, 1, frames - eights, peak);
        }
    }
    return peak_detail::tailPeak(widest(a, b, c, d), peak);
}

float wideCopyWithPeak(const float* source, float* destination, std::uint32_t frames,
                       float peak) noexcept {
    return copyEightsWithPeak<false>(source, destination, frames, peak);
}

float wideCopyFiniteWithPeak(const float* source, float* destination, std::uint32_t frames,
                             float peak) noexcept {
    return copyEightsWithPeak<true>(source, destination, frames, peak);
}

__attribute__((target("avx"))) void wideClearNonFiniteRuns(float* samples,
                                                           std::size_t count) noexcept {
    std::size_t i = 0;
    for (; i + kNonFiniteRun <= count; i += kNonFiniteRun) {
        if (runMayHoldNonFiniteWide(samples + i)) {
            clearNonFiniteRun(samples + i);
        }
    }
    clearNonFinite(samples + i, count - i);
}

__attribute__((target("avx"))) void wideZero(float* channel, std::uint32_t frames) noexcept {
    std::uint32_t i = 0;
    for (; i + 8 <= frames; i += 8) {
        _mm256_storeu_ps(channel + i, _mm256_setzero_ps());
    }
    for (; i < frames; ++i) {
        channel[i] = 0.0f;
    }
}

} // namespace velkaphon::rack
