// The drift resampler against libsamplerate's medium sinc converter on the same signal, the
// quality of both on pure tones, and the per-sample cost of the device sample converters.
#include "audio/drift_resampler.hpp"
#include "audio/wave_format.hpp"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <numbers>
#include <samplerate.h>
#include <string>
#include <vector>

namespace {

using velkaphon::rack::DriftResampler;
using velkaphon::rack::NegotiatedFormat;
using velkaphon::rack::SpscRing;

constexpr int kOutputFramesPerIteration = 512;
constexpr int kTarget = 2048;

std::vector<float> interleavedSines(std::size_t frames, int channels, double rate) {
    std::vector<float> signal(frames * static_cast<std::size_t>(channels));
    for (std::size_t i = 0; i < frames; ++i) {
        for (int c = 0; c < channels; ++c) {
            const double frequency = 440.0 * (1.0 + 0.1 * c);
            signal[i * channels + c] =
                static_cast<float>(0.5 * std::sin(2.0 * std::numbers::pi * frequency * i / rate));
        }
    }
    return signal;
}

// Ring frames per output frame for each benchmark argument.
double ratioOf(int index) {
    const double ratios[] = {1.0, 44100.0 / 48000.0, 2.0};
    return ratios[index];
}

void setChannelFrameCounter(benchmark::State& state, int channels) {
    state.counters["perChannelFrame"] = benchmark::Counter(
        static_cast<double>(kOutputFramesPerIteration) * channels,
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// Keeps the ring's fill at the target, as a producer running at the measured rate would.
class RingFeeder {
public:
    RingFeeder(SpscRing& ring, int channels, double rate)
        : ring_(ring), signal_(interleavedSines(48000, channels, rate)), channels_(channels) {}

    void topUp(double ahead) {
        while (static_cast<double>(ring_.writeIndex.load()) < ahead) {
            const std::size_t count = std::min<std::size_t>(256, 48000 - offset_);
            ring_.push(signal_.data() + offset_ * channels_, static_cast<std::int32_t>(count));
            offset_ = (offset_ + count) % 48000;
        }
    }

private:
    SpscRing& ring_;
    std::vector<float> signal_;
    int channels_;
    std::size_t offset_ = 0;
};

void driftResampler(benchmark::State& state) {
    const double ratio = ratioOf(static_cast<int>(state.range(0)));
    const int channels = static_cast<int>(state.range(1));
    SpscRing ring;
    ring.reset(channels, 16384);
    DriftResampler resampler;
    resampler.configure(&ring, 48000.0 * ratio, 48000.0, kTarget);
    RingFeeder feeder(ring, channels, 48000.0 * ratio);
    std::vector<float> frame(static_cast<std::size_t>(channels));
    double ppm = 0.0;
    for (auto _ : state) {
        feeder.topUp(resampler.position + kTarget + 64.0 + kOutputFramesPerIteration * ratio);
        for (int i = 0; i < kOutputFramesPerIteration; ++i) {
            resampler.readFrame(frame.data(), ratio, &ppm);
        }
        benchmark::DoNotOptimize(frame.data());
    }
    setChannelFrameCounter(state, channels);
}

void libsamplerateMedium(benchmark::State& state) {
    const double ratio = ratioOf(static_cast<int>(state.range(0)));
    const int channels = static_cast<int>(state.range(1));
    int error = 0;
    SRC_STATE* converter = src_new(SRC_SINC_MEDIUM_QUALITY, channels, &error);
    const std::vector<float> signal = interleavedSines(48000, channels, 48000.0 * ratio);
    std::vector<float> output(static_cast<std::size_t>(kOutputFramesPerIteration + 64) * channels);
    const long inputPerIteration = std::lround(kOutputFramesPerIteration * ratio);
    long offset = 0;
    for (auto _ : state) {
        SRC_DATA data{};
        if (offset + inputPerIteration > 48000) {
            offset = 0;
        }
        data.data_in = signal.data() + offset * channels;
        data.input_frames = inputPerIteration;
        data.data_out = output.data();
        data.output_frames = kOutputFramesPerIteration + 64;
        data.src_ratio = 1.0 / ratio;
        src_process(converter, &data);
        offset += data.input_frames_used;
        benchmark::DoNotOptimize(output.data());
    }
    src_delete(converter);
    setChannelFrameCounter(state, channels);
}

void resamplerArguments(benchmark::internal::Benchmark* benchmark) {
    for (int ratio = 0; ratio < 3; ++ratio) {
        for (int channels : {1, 2, 8, 64}) {
            benchmark->Args({ratio, channels});
        }
    }
}

BENCHMARK(driftResampler)->Apply(resamplerArguments);
BENCHMARK(libsamplerateMedium)->Apply(resamplerArguments);

// Sample converters, per sample, against a plain 16-bit scaling loop.
constexpr std::size_t kSamples = 4096;

NegotiatedFormat formatOf(int kind) {
    NegotiatedFormat format;
    format.channels = 1;
    format.sampleRate = 48000;
    const std::uint32_t layouts[][3] = {{0, 2, 16}, {0, 3, 24}, {0, 4, 32},
                                        {0, 4, 24}, {1, 4, 32}, {1, 8, 64}};
    format.isFloat = static_cast<std::uint8_t>(layouts[kind][0]);
    format.bytesPerSample = layouts[kind][1];
    format.validBits = layouts[kind][2];
    return format;
}

const char* formatName(int kind) {
    const char* names[] = {"pcm16", "pcm24", "pcm32", "pcm24in32", "float32", "float64"};
    return names[kind];
}

void setSampleCounter(benchmark::State& state) {
    state.counters["perSample"] = benchmark::Counter(static_cast<double>(kSamples),
                                                     benchmark::Counter::kIsIterationInvariantRate |
                                                         benchmark::Counter::kInvert);
}

void decodeSamplesBench(benchmark::State& state) {
    const NegotiatedFormat format = formatOf(static_cast<int>(state.range(0)));
    state.SetLabel(formatName(static_cast<int>(state.range(0))));
    std::vector<std::uint8_t> bytes(kSamples * format.bytesPerSample);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 37);
    }
    if (format.isFloat != 0) {
        for (std::size_t i = 0; i < kSamples; ++i) {
            velkaphon::rack::encodeSamples(format, bytes.data() + i * format.bytesPerSample,
                                           std::sin(0.01f * i));
        }
    }
    std::vector<float> out(kSamples);
    for (auto _ : state) {
        for (std::size_t i = 0; i < kSamples; ++i) {
            out[i] =
                velkaphon::rack::decodeSamples(format, bytes.data() + i * format.bytesPerSample);
        }
        benchmark::DoNotOptimize(out.data());
    }
    setSampleCounter(state);
}

void encodeSamplesBench(benchmark::State& state) {
    const NegotiatedFormat format = formatOf(static_cast<int>(state.range(0)));
    state.SetLabel(formatName(static_cast<int>(state.range(0))));
    std::vector<float> in(kSamples);
    for (std::size_t i = 0; i < kSamples; ++i) {
        in[i] = 1.2f * std::sin(0.01f * i);
    }
    std::vector<std::uint8_t> bytes(kSamples * format.bytesPerSample);
    for (auto _ : state) {
        for (std::size_t i = 0; i < kSamples; ++i) {
            velkaphon::rack::encodeSamples(format, bytes.data() + i * format.bytesPerSample, in[i]);
        }
        benchmark::DoNotOptimize(bytes.data());
    }
    setSampleCounter(state);
}

void plainSixteenBitBaseline(benchmark::State& state) {
    std::vector<std::int16_t> codes(kSamples);
    for (std::size_t i = 0; i < kSamples; ++i) {
        codes[i] = static_cast<std::int16_t>(i * 37);
    }
    std::vector<float> out(kSamples);
    for (auto _ : state) {
        for (std::size_t i = 0; i < kSamples; ++i) {
            out[i] = codes[i] * (1.0f / 32768.0f);
        }
        benchmark::DoNotOptimize(out.data());
    }
    setSampleCounter(state);
}

BENCHMARK(decodeSamplesBench)->DenseRange(0, 5);
BENCHMARK(encodeSamplesBench)->DenseRange(0, 5);
BENCHMARK(plainSixteenBitBaseline);

double snrDb(double signal, double noise) {
    return 10.0 * std::log10(signal / noise);
}

// Signal-to-noise of a tone at a fixed rate: a least-squares fit of the tone, and everything
// left over counted as noise.
double toneSnrDb(const std::vector<float>& output, double frequency, double rate) {
    double ss = 0, sc = 0, cc = 0, sy = 0, cy = 0;
    for (std::size_t n = 0; n < output.size(); ++n) {
        const double phase = 2.0 * std::numbers::pi * frequency * n / rate;
        const double s = std::sin(phase);
        const double c = std::cos(phase);
        ss += s * s;
        sc += s * c;
        cc += c * c;
        sy += s * output[n];
        cy += c * output[n];
    }
    const double determinant = ss * cc - sc * sc;
    const double a = (sy * cc - cy * sc) / determinant;
    const double b = (cy * ss - sy * sc) / determinant;
    double signal = 0, noise = 0;
    for (std::size_t n = 0; n < output.size(); ++n) {
        const double phase = 2.0 * std::numbers::pi * frequency * n / rate;
        const double fitted = a * std::sin(phase) + b * std::cos(phase);
        signal += fitted * fitted;
        noise += (output[n] - fitted) * (output[n] - fitted);
    }
    return snrDb(signal, noise);
}

std::vector<float> tone(std::size_t frames, double frequency, double rate) {
    std::vector<float> result(frames);
    for (std::size_t i = 0; i < frames; ++i) {
        result[i] =
            static_cast<float>(0.5 * std::sin(2.0 * std::numbers::pi * frequency * i / rate));
    }
    return result;
}

constexpr std::size_t kSettle = 4800;
constexpr std::size_t kMeasured = 96000;

// Feeds the ring in packets of packetFrames whenever its fill drops to the target, and compares
// every output frame with the tone at the exact read position the resampler chose, so that the
// controller's steering is not mistaken for noise.
double driftResamplerSnrDb(double frequency, double inputRate, double outputRate,
                           std::size_t packetFrames) {
    const std::vector<float> input = tone(300000, frequency, inputRate);
    SpscRing ring;
    ring.reset(1, 16384);
    DriftResampler resampler;
    const double target = 128.0 + static_cast<double>(packetFrames) + 64.0;
    resampler.configure(&ring, inputRate, outputRate, target);
    std::size_t offset = 0;
    std::size_t produced = 0;
    double signal = 0.0;
    double noise = 0.0;
    double ppm = 0.0;
    const double ratio = inputRate / outputRate;
    while (produced < kSettle + kMeasured) {
        while (static_cast<double>(ring.fill()) < target + 64.0 + 1.0) {
            ring.push(input.data() + offset, static_cast<std::int32_t>(packetFrames));
            offset += packetFrames;
        }
        const bool wasPrimed = resampler.primed != 0;
        const double position = resampler.position;
        float frame = 0.0f;
        if (!resampler.readFrame(&frame, ratio, &ppm)) {
            continue;
        }
        // The tone's first sample sits just past the ring's initial silence.
        const double inputFrame = (wasPrimed ? position : resampler.position - resampler.step) -
                                  static_cast<double>(SpscRing::kInitialFrames);
        const double expected =
            0.5 * std::sin(2.0 * std::numbers::pi * frequency * inputFrame / inputRate);
        if (produced++ >= kSettle) {
            signal += expected * expected;
            noise += (frame - expected) * (frame - expected);
        }
    }
    return snrDb(signal, noise);
}

std::vector<float> throughLibsamplerate(double frequency, double inputRate, double outputRate) {
    const std::vector<float> input = tone(300000, frequency, inputRate);
    std::vector<float> output(kSettle + kMeasured);
    SRC_DATA data{};
    data.data_in = input.data();
    data.input_frames = static_cast<long>(input.size());
    data.data_out = output.data();
    data.output_frames = static_cast<long>(output.size());
    data.src_ratio = outputRate / inputRate;
    src_simple(&data, SRC_SINC_MEDIUM_QUALITY, 1);
    output.erase(output.begin(), output.begin() + kSettle);
    return output;
}

void printQuality() {
    std::printf("\nSignal-to-noise of a tone, dB\n");
    std::printf("%-10s %22s %22s %28s\n", "tone", "drift, 44.1->48 kHz", "libsamplerate, same",
                "drift, equal clocks, 480s");
    for (double frequency : {1000.0, 10000.0}) {
        const double fixedStep = driftResamplerSnrDb(frequency, 44100.0, 48000.0, 1);
        const double baseline =
            toneSnrDb(throughLibsamplerate(frequency, 44100.0, 48000.0), frequency, 48000.0);
        const double controlled = driftResamplerSnrDb(frequency, 48000.0, 48000.0, 480);
        std::printf("%-10.0f %22.1f %22.1f %28.1f\n", frequency, fixedStep, baseline, controlled);
    }
}

// Keeps every run so the two resamplers can be set side by side at the end.
class SideBySideReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            const auto counter = run.counters.find("perChannelFrame");
            if (counter != run.counters.end()) {
                record(run.benchmark_name(), counter->second.value * 1e9);
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void printRatios() const {
        std::printf("\nResampler, ns per channel-frame\n");
        std::printf("%-8s %-9s %12s %14s %8s\n", "ratio", "channels", "drift", "libsamplerate",
                    "ratio");
        for (const auto& [arguments, times] : nsPerChannelFrame_) {
            std::printf("%-8.4f %-9d %12.2f %14.2f %8.2f\n", ratioOf(arguments.first),
                        arguments.second, times.first, times.second, times.first / times.second);
        }
    }

private:
    // "name/ratio/channels"
    void record(const std::string& name, double nanoseconds) {
        const std::size_t first = name.find('/');
        const std::size_t second = name.find('/', first + 1);
        const std::pair<int, int> arguments{std::stoi(name.substr(first + 1)),
                                            std::stoi(name.substr(second + 1))};
        auto& times = nsPerChannelFrame_[arguments];
        (name.rfind("driftResampler/", 0) == 0 ? times.first : times.second) = nanoseconds;
    }

    // (drift, libsamplerate) by (ratio index, channels).
    std::map<std::pair<int, int>, std::pair<double, double>> nsPerChannelFrame_;
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    SideBySideReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatios();
    printQuality();
    benchmark::Shutdown();
    return 0;
}
