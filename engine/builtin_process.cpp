// The built-in modules' block kernels. Everything here runs on the audio thread.
#include "engine/builtin.hpp"
#include "engine/finite_samples.hpp"
#include "engine/sample_peak.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <emmintrin.h>

namespace velkaphon::rack {

namespace {

// The 32-bit float nearest 1e-20: smoothed gains below it become exactly 0.
constexpr double kGainFlushThreshold = static_cast<double>(1e-20F);

void copyChannel(const float* source, float* destination, std::uint32_t frames) {
    std::copy_n(source, frames, destination);
}

// A host channel to read or write, or null when the host bus has none there.
float* hostChannel(const BusSpan& host, std::uint64_t channel) {
    if (host.channels == nullptr || channel >= host.channelCount) {
        return nullptr;
    }
    return host.channels[channel];
}

// A channel the host does not give stays silent, written here so every output sample is.
float copyFromHost(const BusSpan& host, std::uint32_t offset, const PortBusSpan& output,
                   std::uint32_t frames) {
    float peak = 0.0F;
    for (std::uint32_t channel = 0; channel < output.channelCount; ++channel) {
        if (const float* source = hostChannel(host, std::uint64_t{offset} + channel)) {
            peak = copyWithPeak(source, output.channels[channel], frames, peak);
        } else {
            std::fill_n(output.channels[channel], frames, 0.0F);
        }
    }
    return peak;
}

// The one place where the rack's signal reaches a host's or device's buffers: infinities and
// NaNs become 0 on the way. Returns the peak of what came in, by the usual rule.
float writeHostChannel(const float* source, float* destination, std::uint32_t frames, float peak) {
    if (kWideVectors) {
        return wideCopyFiniteWithPeak(source, destination, frames, peak);
    }
    return copyWithPeak(source, destination, frames, peak,
                        [](auto sample) { return finiteOrZero(sample); });
}

float copyToHost(const PortBusSpan& input, std::uint32_t offset, const BusSpan& host,
                 std::uint32_t frames) {
    float peak = 0.0F;
    for (std::uint32_t channel = 0; channel < input.channelCount; ++channel) {
        if (float* destination = hostChannel(host, std::uint64_t{offset} + channel)) {
            peak = writeHostChannel(input.channels[channel], destination, frames, peak);
        } else {
            peak = channelPeak(input.channels[channel], frames, peak);
        }
    }
    return peak;
}

// Four frames at a time in two double accumulators, adding the inputs in port order from 0.0 as
// a per-frame sum would.
void sumInputs(const PortBusSpan* inputs, std::uint64_t inputCount, const PortBusSpan& output,
               std::uint32_t frames) {
    for (std::uint32_t channel = 0; channel < output.channelCount; ++channel) {
        float* destination = output.channels[channel];
        std::uint32_t frame = 0;
        for (; frame + 4 <= frames; frame += 4) {
            __m128d low = _mm_setzero_pd();
            __m128d high = _mm_setzero_pd();
            for (std::uint64_t input = 0; input < inputCount; ++input) {
                if (channel < inputs[input].channelCount) {
                    const __m128 samples = _mm_loadu_ps(inputs[input].channels[channel] + frame);
                    low = _mm_add_pd(low, _mm_cvtps_pd(samples));
                    high = _mm_add_pd(high, _mm_cvtps_pd(_mm_movehl_ps(samples, samples)));
                }
            }
            _mm_storeu_ps(destination + frame,
                          _mm_movelh_ps(_mm_cvtpd_ps(low), _mm_cvtpd_ps(high)));
        }
        for (; frame < frames; ++frame) {
            double sum = 0.0;
            for (std::uint64_t input = 0; input < inputCount; ++input) {
                if (channel < inputs[input].channelCount) {
                    sum += inputs[input].channels[channel][frame];
                }
            }
            destination[frame] = static_cast<float>(sum);
        }
    }
}

void distribute(const PortBusSpan& input, const PortBusSpan* outputs, std::uint64_t outputCount,
                std::uint32_t frames) {
    for (std::uint64_t output = 0; output < outputCount; ++output) {
        const std::uint32_t channels = std::min(input.channelCount, outputs[output].channelCount);
        for (std::uint32_t channel = 0; channel < channels; ++channel) {
            copyChannel(input.channels[channel], outputs[output].channels[channel], frames);
        }
    }
}

void breakOut(const PortBusSpan& input, const PortBusSpan* outputs, std::uint64_t outputCount,
              std::uint32_t frames) {
    for (std::uint32_t channel = 0; channel < input.channelCount && channel < outputCount;
         ++channel) {
        if (outputs[channel].channelCount > 0) {
            copyChannel(input.channels[channel], outputs[channel].channels[0], frames);
        }
    }
}

void routeMatrix(const PortBusSpan& input, const std::vector<std::int32_t>& mapping,
                 const PortBusSpan& output, std::uint32_t frames) {
    const std::size_t channels = std::min<std::size_t>(output.channelCount, mapping.size());
    for (std::size_t channel = 0; channel < channels; ++channel) {
        const std::int32_t source = mapping[channel];
        if (source >= 0 && static_cast<std::uint32_t>(source) < input.channelCount) {
            copyChannel(input.channels[source], output.channels[channel], frames);
        } else {
            std::fill_n(output.channels[channel], frames, 0.0F);
        }
    }
}

float busPeak(const PortBusSpan* buses, std::uint64_t count, std::uint32_t frames) {
    float peak = 0.0F;
    for (std::uint64_t bus = 0; bus < count; ++bus) {
        peak = channelsPeak(buses[bus].channels, buses[bus].channelCount, frames, peak);
    }
    return peak;
}

double smoothGain(double gain, double target, double coefficient) {
    const double next = gain + (target - gain) * coefficient;
    return std::abs(next) < kGainFlushThreshold ? 0.0 : next;
}

float applyGain(const float* input, float* output, std::uint32_t frame, double gain, float peak) {
    const auto sample = static_cast<float>(static_cast<double>(input[frame]) * gain);
    output[frame] = sample;
    return std::max(peak, std::abs(sample));
}

// A gain at rest, four samples at a time in double precision as the per-sample form computes
// it, then the peak while the block is in cache.
float applySteadyGain(const float* input, float* output, std::uint32_t frames, double gain,
                      float peak) {
    const __m128d factor = _mm_set1_pd(gain);
    std::uint32_t frame = 0;
    for (; frame + 4 <= frames; frame += 4) {
        const __m128 samples = _mm_loadu_ps(input + frame);
        const __m128d low = _mm_mul_pd(_mm_cvtps_pd(samples), factor);
        const __m128d high = _mm_mul_pd(_mm_cvtps_pd(_mm_movehl_ps(samples, samples)), factor);
        _mm_storeu_ps(output + frame, _mm_movelh_ps(_mm_cvtpd_ps(low), _mm_cvtpd_ps(high)));
    }
    for (; frame < frames; ++frame) {
        output[frame] = static_cast<float>(static_cast<double>(input[frame]) * gain);
    }
    return channelPeak(output, frames, peak);
}

void passEvents(const BlockContext& context) {
    if (context.outputEvents == nullptr || context.events == nullptr) {
        return;
    }
    for (std::uint64_t index = 0; index < context.eventCount; ++index) {
        context.outputEvents->push(context.events[index]);
    }
}

} // namespace

float Builtin::runFaderBank(BlockContext& context) {
    const std::uint64_t strips =
        std::min({std::uint64_t{stripCount()}, context.inputCount, context.outputCount});
    const std::uint32_t frames = context.frames;
    float blockPeak = 0.0F;
    for (std::uint32_t strip = 0; strip < strips; ++strip) {
        const PortBusSpan& input = context.inputs[strip];
        const PortBusSpan& output = context.outputs[strip];
        const std::uint32_t channels = std::min(input.channelCount, output.channelCount);
        const double target = blockStripTarget(strip);
        double gain = stripCurrentGain_[strip];
        float peak = 0.0F;
        // A step that leaves the gain unchanged leaves it so for every later frame: one gain for
        // the whole block gives the same samples as the per-frame recurrence.
        if (smoothGain(gain, target, smoothingCoefficient_) == gain) {
            for (std::uint32_t channel = 0; channel < channels; ++channel) {
                peak = applySteadyGain(input.channels[channel], output.channels[channel], frames,
                                       gain, peak);
            }
        } else {
            for (std::uint32_t frame = 0; frame < frames; ++frame) {
                gain = smoothGain(gain, target, smoothingCoefficient_);
                for (std::uint32_t channel = 0; channel < channels; ++channel) {
                    peak = applyGain(input.channels[channel], output.channels[channel], frame, gain,
                                     peak);
                }
            }
        }
        stripCurrentGain_[strip] = gain;
        stripPeak_[strip].store(peak, std::memory_order_relaxed);
        blockPeak = std::max(blockPeak, peak);
    }
    return blockPeak;
}

void Builtin::process(BlockContext& context) {
    const std::uint32_t frames = context.frames;
    const bool hasInput = context.inputCount > 0;
    const bool hasOutput = context.outputCount > 0;
    float peak = 0.0F;
    switch (kind_) {
    case BuiltinKind::Input:
        if (hasOutput) {
            peak = copyFromHost(context.hostInput, hostChannelOffset_, context.outputs[0], frames);
        }
        break;
    case BuiltinKind::Output:
        if (hasInput) {
            peak = copyToHost(context.inputs[0], hostChannelOffset_, context.hostOutput, frames);
        }
        break;
    case BuiltinKind::Summing:
        if (hasOutput) {
            sumInputs(context.inputs, context.inputCount, context.outputs[0], frames);
        }
        break;
    case BuiltinKind::Distributor:
        if (hasInput) {
            distribute(context.inputs[0], context.outputs, context.outputCount, frames);
        }
        break;
    case BuiltinKind::Breakout:
        if (hasInput) {
            breakOut(context.inputs[0], context.outputs, context.outputCount, frames);
        }
        break;
    case BuiltinKind::Matrix:
        if (hasInput && hasOutput) {
            routeMatrix(context.inputs[0], mapping_, context.outputs[0], frames);
        }
        break;
    case BuiltinKind::FaderBank:
        peak = runFaderBank(context);
        break;
    }
    // These three took their peak while writing.
    if (kind_ != BuiltinKind::Input && kind_ != BuiltinKind::Output &&
        kind_ != BuiltinKind::FaderBank) {
        peak = busPeak(context.outputs, context.outputCount, frames);
    }
    blockPeak_.store(peak, std::memory_order_relaxed);
    passEvents(context);
}

} // namespace velkaphon::rack
