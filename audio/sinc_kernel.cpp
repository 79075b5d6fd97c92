#include "audio/sinc_kernel.hpp"

#include <emmintrin.h>

namespace velkaphon::rack {

namespace {

// Two floats widened to doubles.
__m128d widenLow(__m128 values) noexcept {
    return _mm_cvtps_pd(values);
}
__m128d widenHigh(__m128 values) noexcept {
    return _mm_cvtps_pd(_mm_movehl_ps(values, values));
}

double horizontalSum(__m128d values) noexcept {
    return _mm_cvtsd_f64(_mm_add_sd(values, _mm_unpackhi_pd(values, values)));
}

// One channel with the window in one piece: eight taps a step, spread over four sums.
double sumMono(const float* samples, const float* coefficients) noexcept {
    __m128d sums[4] = {_mm_setzero_pd(), _mm_setzero_pd(), _mm_setzero_pd(), _mm_setzero_pd()};
    for (int k = 0; k < kSincTaps; k += 8) {
        const __m128 x0 = _mm_loadu_ps(samples + k);
        const __m128 x1 = _mm_loadu_ps(samples + k + 4);
        const __m128 h0 = _mm_loadu_ps(coefficients + k);
        const __m128 h1 = _mm_loadu_ps(coefficients + k + 4);
        sums[0] = _mm_add_pd(sums[0], _mm_mul_pd(widenLow(x0), widenLow(h0)));
        sums[1] = _mm_add_pd(sums[1], _mm_mul_pd(widenHigh(x0), widenHigh(h0)));
        sums[2] = _mm_add_pd(sums[2], _mm_mul_pd(widenLow(x1), widenLow(h1)));
        sums[3] = _mm_add_pd(sums[3], _mm_mul_pd(widenHigh(x1), widenHigh(h1)));
    }
    return horizontalSum(_mm_add_pd(_mm_add_pd(sums[0], sums[1]), _mm_add_pd(sums[2], sums[3])));
}

// Two interleaved channels with the window in one piece: two frames a load, both channels in
// one register.
__m128d sumStereo(const float* frames, const float* coefficients) noexcept {
    __m128d sums[2] = {_mm_setzero_pd(), _mm_setzero_pd()};
    for (int k = 0; k < kSincTaps; k += 4) {
        const __m128 h = _mm_loadu_ps(coefficients + k);
        const __m128d h01 = widenLow(h);
        const __m128d h23 = widenHigh(h);
        const __m128 x01 = _mm_loadu_ps(frames + 2 * k);
        const __m128 x23 = _mm_loadu_ps(frames + 2 * k + 4);
        sums[0] = _mm_add_pd(sums[0], _mm_mul_pd(widenLow(x01), _mm_unpacklo_pd(h01, h01)));
        sums[1] = _mm_add_pd(sums[1], _mm_mul_pd(widenHigh(x01), _mm_unpackhi_pd(h01, h01)));
        sums[0] = _mm_add_pd(sums[0], _mm_mul_pd(widenLow(x23), _mm_unpacklo_pd(h23, h23)));
        sums[1] = _mm_add_pd(sums[1], _mm_mul_pd(widenHigh(x23), _mm_unpackhi_pd(h23, h23)));
    }
    return _mm_add_pd(sums[0], sums[1]);
}

// Loads width (1, 2 or 4) floats of one frame from channel c on.
template <int Width>
__m128 loadChannels(const float* frame) noexcept {
    if constexpr (Width == 4) {
        return _mm_loadu_ps(frame);
    } else if constexpr (Width == 2) {
        return _mm_loadl_pi(_mm_setzero_ps(), reinterpret_cast<const __m64*>(frame));
    } else {
        return _mm_load_ss(frame);
    }
}

// Groups of four channels from c on (or the 1 or 2 channels left over) across all taps, one tap a
// step, with the ring's wrap taken frame by frame.
template <int Groups, int Width>
void sumChannels(const SpscRing& ring, std::uint64_t first, const float* coefficients, int c,
                 double* sums) noexcept {
    __m128d acc[2 * Groups];
    for (__m128d& value : acc) {
        value = _mm_setzero_pd();
    }
    for (int k = 0; k < kSincTaps; ++k) {
        const float* frame = ring.frameAt(first + static_cast<std::uint64_t>(k)) + c;
        const __m128d h = _mm_set1_pd(static_cast<double>(coefficients[k]));
        for (int g = 0; g < Groups; ++g) {
            const __m128 x = loadChannels<Width>(frame + 4 * g);
            acc[2 * g] = _mm_add_pd(acc[2 * g], _mm_mul_pd(widenLow(x), h));
            if constexpr (Width == 4) {
                acc[2 * g + 1] = _mm_add_pd(acc[2 * g + 1], _mm_mul_pd(widenHigh(x), h));
            }
        }
    }
    double lanes[2 * Groups * 2];
    for (int i = 0; i < 2 * Groups; ++i) {
        _mm_storeu_pd(lanes + 2 * i, acc[i]);
    }
    for (int i = 0; i < Groups * Width; ++i) {
        sums[c + i] = lanes[i];
    }
}

} // namespace

void interpolateCoefficients(const float* lower, const float* upper, float mu,
                             float* coefficients) noexcept {
    const __m128 weight = _mm_set1_ps(mu);
    for (int k = 0; k < kSincTaps; k += 4) {
        const __m128 a = _mm_loadu_ps(lower + k);
        const __m128 b = _mm_loadu_ps(upper + k);
        _mm_storeu_ps(coefficients + k, _mm_add_ps(a, _mm_mul_ps(_mm_sub_ps(b, a), weight)));
    }
}

void sumTaps(const SpscRing& ring, std::uint64_t first, const float* coefficients,
             double* sums) noexcept {
    const int channels = ring.channels;
    const bool whole = (first & (ring.capacity - 1)) + kSincTaps <= ring.capacity;
    if (whole && channels == 1) {
        sums[0] = sumMono(ring.frameAt(first), coefficients);
        return;
    }
    if (whole && channels == 2) {
        _mm_storeu_pd(sums, sumStereo(ring.frameAt(first), coefficients));
        return;
    }
    int c = 0;
    for (; c + 16 <= channels; c += 16) {
        sumChannels<4, 4>(ring, first, coefficients, c, sums);
    }
    if (c + 8 <= channels) {
        sumChannels<2, 4>(ring, first, coefficients, c, sums);
        c += 8;
    }
    if (c + 4 <= channels) {
        sumChannels<1, 4>(ring, first, coefficients, c, sums);
        c += 4;
    }
    if (c + 2 <= channels) {
        sumChannels<1, 2>(ring, first, coefficients, c, sums);
        c += 2;
    }
    if (c < channels) {
        sumChannels<1, 1>(ring, first, coefficients, c, sums);
    }
}

} // namespace velkaphon::rack
