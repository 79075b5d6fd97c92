// Per-sample cost of the built-in kernels at 256 frames, each against the plain loop a developer
// would write for the same job, on the same buffers.
#include "engine/builtin.hpp"
#include "tests/engine/builtin_test_block.hpp"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

namespace {

using nlohmann::json;
using velkaphon::rack::Builtin;
using velkaphon::rack::createBuiltin;
using velkaphon::rack::NodeDefinition;
using velkaphon::rack::ProcessSpec;
using velkaphon::rack::testing::ChannelSet;
using velkaphon::rack::testing::ModuleBlock;

constexpr std::uint32_t kFrames = 256;
constexpr std::uint32_t kWidth = 64;
constexpr double kSampleRate = 48000.0;

std::unique_ptr<Builtin> makeModule(const char* type, const json& configuration) {
    auto module = createBuiltin(NodeDefinition{"bench", type, configuration});
    module->prepare(ProcessSpec{kSampleRate, kFrames});
    return module;
}

void fillNoise(ChannelSet& set, std::size_t buses, std::size_t channels) {
    std::uint32_t seed = 12345;
    for (std::size_t bus = 0; bus < buses; ++bus) {
        for (std::size_t channel = 0; channel < channels; ++channel) {
            for (float& sample : set.channel(bus, channel)) {
                seed = seed * 1664525U + 1013904223U;
                sample = static_cast<float>(seed >> 8) / 16777216.0F - 0.5F;
            }
        }
    }
}

void reportPerSample(benchmark::State& state, double samplesPerBlock) {
    state.counters["per_sample"] =
        benchmark::Counter(samplesPerBlock, benchmark::Counter::kIsIterationInvariantRate |
                                                benchmark::Counter::kInvert);
}

// Argument 0: gains at rest; 1: every block moves every fader, so the smoother runs per frame.
void faderBankModule(benchmark::State& state) {
    const bool ramping = state.range(0) != 0;
    auto module = makeModule("fader-bank", {{"strips", kWidth}});
    ModuleBlock block(*module, kFrames);
    fillNoise(block.inputs, kWidth, 2);
    std::uint32_t blocks = 0;
    for (auto _ : state) {
        if (ramping) {
            const double gainDb = (++blocks % 2 == 0) ? 0.0 : -6.0;
            for (std::uint32_t strip = 0; strip < kWidth; ++strip) {
                module->setControl(2 * strip, gainDb);
            }
        }
        module->process(block.context);
        benchmark::DoNotOptimize(block.outputs.channel(0, 0).data());
    }
    reportPerSample(state, kWidth * 2.0 * kFrames);
}

void faderBankBaseline(benchmark::State& state) {
    const bool ramping = state.range(0) != 0;
    ChannelSet inputs(std::vector<std::uint32_t>(kWidth, 2), kFrames);
    ChannelSet outputs(std::vector<std::uint32_t>(kWidth, 2), kFrames);
    fillNoise(inputs, kWidth, 2);
    const double coefficient = 1.0 - std::exp(-1.0 / (kSampleRate * 0.005));
    std::array<double, kWidth> gains;
    gains.fill(1.0);
    std::array<float, kWidth> peaks{};
    std::uint32_t blocks = 0;
    for (auto _ : state) {
        const double gainDb = ramping && (++blocks % 2 == 1) ? -6.0 : 0.0;
        for (std::uint32_t strip = 0; strip < kWidth; ++strip) {
            const double target = std::pow(10.0, gainDb / 20.0);
            const float* left = inputs.spans()[strip].channels[0];
            const float* right = inputs.spans()[strip].channels[1];
            float* outLeft = outputs.spans()[strip].channels[0];
            float* outRight = outputs.spans()[strip].channels[1];
            double gain = gains[strip];
            float peak = 0.0F;
            for (std::uint32_t frame = 0; frame < kFrames; ++frame) {
                gain += (target - gain) * coefficient;
                if (std::abs(gain) < 1e-20) {
                    gain = 0.0;
                }
                outLeft[frame] = static_cast<float>(left[frame] * gain);
                outRight[frame] = static_cast<float>(right[frame] * gain);
                peak = std::max({peak, std::abs(outLeft[frame]), std::abs(outRight[frame])});
            }
            gains[strip] = gain;
            peaks[strip] = peak;
        }
        benchmark::DoNotOptimize(outputs.channel(0, 0).data());
        benchmark::DoNotOptimize(peaks.data());
    }
    reportPerSample(state, kWidth * 2.0 * kFrames);
}

void summingModule(benchmark::State& state) {
    auto module = makeModule("summing", {{"channels", 2}, {"inputs", kWidth}});
    ModuleBlock block(*module, kFrames);
    fillNoise(block.inputs, kWidth, 2);
    for (auto _ : state) {
        module->process(block.context);
        benchmark::DoNotOptimize(block.outputs.channel(0, 0).data());
    }
    reportPerSample(state, kWidth * 2.0 * kFrames);
}

void summingBaseline(benchmark::State& state) {
    ChannelSet inputs(std::vector<std::uint32_t>(kWidth, 2), kFrames);
    ChannelSet output({2}, kFrames);
    fillNoise(inputs, kWidth, 2);
    for (auto _ : state) {
        for (std::uint32_t channel = 0; channel < 2; ++channel) {
            float* destination = output.spans()[0].channels[channel];
            for (std::uint32_t frame = 0; frame < kFrames; ++frame) {
                double sum = 0.0;
                for (std::uint32_t input = 0; input < kWidth; ++input) {
                    sum += inputs.spans()[input].channels[channel][frame];
                }
                destination[frame] = static_cast<float>(sum);
            }
        }
        float peak = 0.0F;
        for (std::uint32_t channel = 0; channel < 2; ++channel) {
            for (const float sample : output.channel(0, channel)) {
                peak = std::max(peak, std::abs(sample));
            }
        }
        benchmark::DoNotOptimize(output.channel(0, 0).data());
        benchmark::DoNotOptimize(peak);
    }
    reportPerSample(state, kWidth * 2.0 * kFrames);
}

json reversedMapping() {
    json mapping = json::array();
    for (std::uint32_t output = 0; output < kWidth; ++output) {
        mapping.push_back(kWidth - 1 - output);
    }
    return mapping;
}

void matrixModule(benchmark::State& state) {
    auto module = makeModule(
        "matrix",
        {{"inputChannels", kWidth}, {"outputChannels", kWidth}, {"mapping", reversedMapping()}});
    ModuleBlock block(*module, kFrames);
    fillNoise(block.inputs, 1, kWidth);
    for (auto _ : state) {
        module->process(block.context);
        benchmark::DoNotOptimize(block.outputs.channel(0, 0).data());
    }
    reportPerSample(state, kWidth * 1.0 * kFrames);
}

void matrixBaseline(benchmark::State& state) {
    ChannelSet input({kWidth}, kFrames);
    ChannelSet output({kWidth}, kFrames);
    fillNoise(input, 1, kWidth);
    for (auto _ : state) {
        for (std::uint32_t channel = 0; channel < kWidth; ++channel) {
            std::memcpy(output.spans()[0].channels[channel],
                        input.spans()[0].channels[kWidth - 1 - channel], kFrames * sizeof(float));
        }
        float peak = 0.0F;
        for (std::uint32_t channel = 0; channel < kWidth; ++channel) {
            for (const float sample : output.channel(0, channel)) {
                peak = std::max(peak, std::abs(sample));
            }
        }
        benchmark::DoNotOptimize(output.channel(0, 0).data());
        benchmark::DoNotOptimize(peak);
    }
    reportPerSample(state, kWidth * 1.0 * kFrames);
}

BENCHMARK(faderBankModule)->Arg(0)->Arg(1);
BENCHMARK(faderBankBaseline)->Arg(0)->Arg(1);
BENCHMARK(summingModule);
BENCHMARK(summingBaseline);
BENCHMARK(matrixModule);
BENCHMARK(matrixBaseline);

} // namespace
