// The drift resampler against libsamplerate's medium sinc converter on the same signal, the
// quality of both (and of libsamplerate's best) on pure tones through a simulated device pair,
// and the per-sample cost of the device sample converters.
#include "audio/drift_resampler.hpp"
#include "audio/wave_format.hpp"
#include "ratio_reporter.hpp"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <random>
#include <samplerate.h>
#include <string>
#include <utility>
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
constexpr std::array<double, 3> kRatios = {1.0, 44100.0 / 48000.0, 2.0};
constexpr std::array<const char*, 3> kRatioNames = {"48->48 kHz", "44.1->48 kHz", "96->48 kHz"};

double ratioOf(int index) {
    return kRatios[static_cast<std::size_t>(index)];
}

void setChannelFrameCounter(benchmark::State& state, int channels) {
    state.counters["perChannelFrame"] = benchmark::Counter(
        static_cast<double>(kOutputFramesPerIteration) * channels,
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// Keeps the ring's fill at the target and stamps each write, as a producer running at the
// measured rate would.
class RingFeeder {
public:
    RingFeeder(SpscRing& ring, velkaphon::rack::RingWriteStamp& stamp, int channels, double rate)
        : ring_(ring), stamp_(stamp), signal_(interleavedSines(48000, channels, rate)),
          channels_(channels), rate_(rate) {}

    void topUp(double ahead) {
        while (static_cast<double>(ring_.writeIndex.load()) < ahead) {
            const std::size_t count = std::min<std::size_t>(256, 48000 - offset_);
            ring_.push(signal_.data() + offset_ * channels_, static_cast<std::int32_t>(count));
            stamp_.publish(ring_.writeIndex.load(), static_cast<double>(count),
                           static_cast<double>(ring_.writeIndex.load()) * 1e7 / rate_);
            offset_ = (offset_ + count) % 48000;
        }
    }

private:
    SpscRing& ring_;
    velkaphon::rack::RingWriteStamp& stamp_;
    std::vector<float> signal_;
    int channels_;
    double rate_;
    std::size_t offset_ = 0;
};

void driftResampler(benchmark::State& state) {
    const double ratio = ratioOf(static_cast<int>(state.range(0)));
    const int channels = static_cast<int>(state.range(1));
    SpscRing ring;
    ring.reset(channels, 16384);
    velkaphon::rack::RingWriteStamp stamp;
    DriftResampler resampler;
    resampler.configure(&ring, 48000.0 * ratio, 48000.0, kTarget, 0.0, &stamp);
    RingFeeder feeder(ring, stamp, channels, 48000.0 * ratio);
    std::vector<float> frame(static_cast<std::size_t>(channels));
    double ppm = 0.0;
    for (auto _ : state) {
        feeder.topUp(resampler.position + kTarget + 64.0 + kOutputFramesPerIteration * ratio);
        resampler.beginReads(resampler.position / ratio * 1e7 / 48000.0, kOutputFramesPerIteration);
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

void printRatios(const velkaphon::rack::bench::RatioReporter& reporter) {
    std::printf("\nResampler time per frame against libsamplerate medium\n");
    for (std::size_t ratio = 0; ratio < kRatios.size(); ++ratio) {
        for (const int channels : {1, 2, 8, 64}) {
            const std::string args = "/" + std::to_string(ratio) + "/" + std::to_string(channels);
            reporter.printRatio(std::string(kRatioNames[ratio]) + ", " + std::to_string(channels) +
                                    " ch: drift / libsamplerate medium",
                                "driftResampler" + args, "libsamplerateMedium" + args);
        }
    }
}

// Quality: a tone through a simulated device pair. The producer's clock hands over a 10 ms
// packet at a time at its true rate, the consumer wakes once a master period at its own and
// reads the period's frames at once, each side up to a millisecond late at random. The ratio is
// the producer's estimated rate over the consumer's, as the master's cycle computes it, and the
// producer stamps each write with its time, as the workers do. The fits start settleSeconds
// after the lock.
struct DevicePair {
    const char* name;
    double producerRate; // true
    double producerNominal;
    double consumerRate; // true and nominal
    bool steered;
    double settleSeconds;
};

constexpr std::array<DevicePair, 6> kPairs = {{
    {"fixed step, 48->48 kHz", 48000.0, 48000.0, 48000.0, false, 10.0},
    {"fixed step, 44.1->48 kHz", 44100.0, 44100.0, 48000.0, false, 10.0},
    {"controller, equal clocks", 48000.0, 48000.0, 48000.0, true, 10.0},
    {"controller, equal clocks", 48000.0, 48000.0, 48000.0, true, 360.0},
    {"controller, 48003->48000 Hz", 48003.0, 48000.0, 48000.0, true, 10.0},
    {"controller, 48003->48000 Hz", 48003.0, 48000.0, 48000.0, true, 360.0},
}};
constexpr double kFitSeconds = 4.0;
constexpr double kWindowSeconds = 0.1;
constexpr std::uint64_t kBlockFrames = 128;
constexpr double kMasterPeriodFrames = 480.0;
constexpr double kLatestWakeSeconds = 0.001;

float toneSample(double frequency, double rate, std::uint64_t n) {
    return static_cast<float>(
        0.5 * std::sin(2.0 * std::numbers::pi * frequency * static_cast<double>(n) / rate));
}

struct DriftRun {
    std::vector<float> output; // from the lock on
    double lowestPpm = 0.0;
    double highestPpm = 0.0;
    std::uint64_t lostFrames = 0;
};

DriftRun throughDriftResampler(const DevicePair& pair, double frequency) {
    const double scale = pair.producerNominal / pair.consumerRate;
    const auto packetFrames = static_cast<std::uint64_t>(pair.producerNominal / 100.0);
    const auto periodFrames = static_cast<std::uint64_t>(kMasterPeriodFrames);
    // Two interfaces: the block and both periods, in ring frames, and the margin.
    const double target =
        (kBlockFrames + kMasterPeriodFrames) * scale + static_cast<double>(packetFrames) + 64.0;
    SpscRing ring;
    ring.reset(1, 16384);
    velkaphon::rack::RingWriteStamp stamp;
    DriftResampler resampler;
    resampler.configure(&ring, pair.producerNominal, pair.consumerRate, target, 0.0, &stamp);
    velkaphon::rack::RateEstimator estimator;
    std::minstd_rand random(25);
    std::uniform_real_distribution<double> lateness(0.0, kLatestWakeSeconds);
    double ratio = scale;
    std::vector<float> packet(packetFrames);
    std::uint64_t produced = 0;
    double nextPacket = static_cast<double>(packetFrames) / pair.producerRate + lateness(random);
    DriftRun run;
    const auto total =
        static_cast<std::size_t>((pair.settleSeconds + kFitSeconds) * pair.consumerRate);
    const auto settled = static_cast<std::size_t>(pair.settleSeconds * pair.consumerRate);
    run.output.reserve(total);
    for (std::uint64_t period = 0; run.output.size() < total; ++period) {
        const double now =
            static_cast<double>(period * periodFrames) / pair.consumerRate + lateness(random);
        while (nextPacket <= now) {
            for (std::uint64_t i = 0; i < packetFrames; ++i) {
                packet[i] = toneSample(frequency, pair.producerRate, produced + i);
            }
            ring.push(packet.data(), static_cast<std::int32_t>(packetFrames));
            stamp.publish(ring.writeIndex.load(), static_cast<double>(packetFrames),
                          nextPacket * 1e7);
            produced += packetFrames;
            ratio = velkaphon::rack::estimateDeviceRate(estimator, static_cast<double>(produced),
                                                        static_cast<double>(produced) /
                                                            pair.producerRate * 1e7,
                                                        pair.producerNominal) /
                    pair.consumerRate;
            nextPacket =
                static_cast<double>(produced + packetFrames) / pair.producerRate + lateness(random);
        }
        resampler.beginReads(now * 1e7, static_cast<double>(periodFrames));
        for (std::uint64_t i = 0; i < periodFrames && run.output.size() < total; ++i) {
            float frame = 0.0f;
            double ppm = 0.0;
            const bool read = pair.steered ? resampler.readFrame(&frame, ratio, &ppm)
                                           : resampler.readFrameAtFixedStep(&frame);
            if (resampler.everPrimed == 0) {
                continue;
            }
            run.lostFrames += read ? 0 : 1;
            if (run.output.size() == settled) {
                run.lowestPpm = run.highestPpm = ppm;
            }
            run.lowestPpm = std::min(run.lowestPpm, ppm);
            run.highestPpm = std::max(run.highestPpm, ppm);
            run.output.push_back(frame);
        }
    }
    return run;
}

// The same tone through libsamplerate, from one second before the fitted span on: at a fixed
// ratio it has nothing to settle.
std::vector<float> throughLibsamplerate(const DevicePair& pair, double frequency, int converter) {
    const auto outputFrames = static_cast<std::size_t>((1.0 + kFitSeconds) * pair.consumerRate);
    const auto start = static_cast<std::uint64_t>((pair.settleSeconds - 1.0) * pair.producerRate);
    std::vector<float> input(static_cast<std::size_t>((kFitSeconds + 2.0) * pair.producerRate));
    for (std::size_t n = 0; n < input.size(); ++n) {
        input[n] = toneSample(frequency, pair.producerRate, start + n);
    }
    std::vector<float> output(outputFrames);
    SRC_DATA data{};
    data.data_in = input.data();
    data.input_frames = static_cast<long>(input.size());
    data.data_out = output.data();
    data.output_frames = static_cast<long>(output.size());
    data.src_ratio = pair.consumerRate / pair.producerRate;
    src_simple(&data, converter, 1);
    return output;
}

// Solves the 4 x 4 system a x = b by elimination with partial pivoting.
std::array<double, 4> solve(std::array<std::array<double, 5>, 4> a) {
    for (int col = 0; col < 4; ++col) {
        int pivot = col;
        for (int r = col + 1; r < 4; ++r) {
            if (std::fabs(a[r][col]) > std::fabs(a[pivot][col])) {
                pivot = r;
            }
        }
        std::swap(a[col], a[pivot]);
        for (int r = col + 1; r < 4; ++r) {
            const double factor = a[r][col] / a[col][col];
            for (int c = col; c < 5; ++c) {
                a[r][c] -= factor * a[col][c];
            }
        }
    }
    std::array<double, 4> x{};
    for (int r = 3; r >= 0; --r) {
        double sum = a[r][4];
        for (int c = r + 1; c < 4; ++c) {
            sum -= a[r][c] * x[c];
        }
        x[r] = sum / a[r][r];
    }
    return x;
}

struct SineFit {
    double snrDb = 0.0;
    double cyclesPerFrame = 0.0;
};

// Least-squares fit of a sine with free amplitude, phase, offset and frequency, started at the
// given frequency; everything it leaves over is noise.
SineFit fitSine(const float* samples, std::size_t count, double cyclesPerFrame) {
    const double middle = (static_cast<double>(count) - 1.0) / 2.0;
    double omega = 2.0 * std::numbers::pi * cyclesPerFrame;
    std::array<double, 4> p{};
    for (int iteration = 0; iteration < 6; ++iteration) {
        // Basis: cos, sin, 1 and the derivative by frequency (time scaled to the window).
        std::array<std::array<double, 5>, 4> normal{};
        for (std::size_t n = 0; n < count; ++n) {
            const double t = static_cast<double>(n) - middle;
            const double c = std::cos(omega * t);
            const double s = std::sin(omega * t);
            const std::array<double, 4> basis = {
                c, s, 1.0, iteration == 0 ? 0.0 : t / middle * (-p[0] * s + p[1] * c)};
            for (int i = 0; i < 4; ++i) {
                for (int j = 0; j < 4; ++j) {
                    normal[i][j] += basis[i] * basis[j];
                }
                normal[i][4] += basis[i] * samples[n];
            }
        }
        if (iteration == 0) {
            normal[3][3] = 1.0;
        }
        p = solve(normal);
        omega += p[3] / middle;
    }
    double noise = 0.0;
    for (std::size_t n = 0; n < count; ++n) {
        const double t = static_cast<double>(n) - middle;
        const double residual =
            samples[n] - (p[0] * std::cos(omega * t) + p[1] * std::sin(omega * t) + p[2]);
        noise += residual * residual;
    }
    const double signal = (p[0] * p[0] + p[1] * p[1]) / 2.0 * static_cast<double>(count);
    return {10.0 * std::log10(signal / noise), omega / (2.0 * std::numbers::pi)};
}

struct Quality {
    SineFit whole;
    double frequencyPpm = 0.0; // the whole span's fitted frequency against the ideal
    double worstWindowDb = 0.0;
    double medianWindowDb = 0.0;
};

// The fit over kFitSeconds from settledSeconds on, and over each 0.1 s window of that span.
Quality qualityOf(const std::vector<float>& output, double settledSeconds, const DevicePair& pair,
                  double frequency) {
    const auto settled = static_cast<std::size_t>(settledSeconds * pair.consumerRate);
    const auto span = static_cast<std::size_t>(kFitSeconds * pair.consumerRate);
    const auto window = static_cast<std::size_t>(kWindowSeconds * pair.consumerRate);
    const double cyclesPerFrame = frequency / pair.consumerRate;
    Quality quality;
    std::vector<double> windows;
    for (std::size_t start = settled; start + window <= settled + span; start += window) {
        windows.push_back(fitSine(output.data() + start, window, cyclesPerFrame).snrDb);
    }
    // A steered step may be a whole frequency bin of the span off the ideal: the first window's
    // fit, far coarser in frequency, starts the span's fit.
    const SineFit first = fitSine(output.data() + settled, window, cyclesPerFrame);
    quality.whole = fitSine(output.data() + settled, span, first.cyclesPerFrame);
    quality.frequencyPpm = (quality.whole.cyclesPerFrame / cyclesPerFrame - 1.0) * 1e6;
    std::sort(windows.begin(), windows.end());
    quality.worstWindowDb = windows.front();
    quality.medianWindowDb = windows[windows.size() / 2];
    return quality;
}

void printQuality() {
    std::printf("\nTone SNR by sine fit, dB: over %.0f s from the given second after the lock on, "
                "and the worst and median %.1f s window of that span\n",
                kFitSeconds, kWindowSeconds);
    std::printf("%-28s %6s %6s | %-36s %-19s %5s | %-19s | %-19s\n", "", "", "", "drift resampler",
                "step ppm", "lost", "libsamplerate medium", "libsamplerate best");
    std::printf("%-28s %6s %6s | %6s %6s %6s %14s %9s %9s %5s | %6s %6s %6s | %6s %6s %6s\n",
                "device pair", "from s", "tone", "4 s", "worst", "median", "fitted f ppm", "lowest",
                "highest", "", "4 s", "worst", "median", "4 s", "worst", "median");
    for (const DevicePair& pair : kPairs) {
        for (const double frequency : {1000.0, 10000.0, 18000.0}) {
            const DriftRun drift = throughDriftResampler(pair, frequency);
            const Quality ours = qualityOf(drift.output, pair.settleSeconds, pair, frequency);
            const Quality medium =
                qualityOf(throughLibsamplerate(pair, frequency, SRC_SINC_MEDIUM_QUALITY), 1.0, pair,
                          frequency);
            const Quality best = qualityOf(
                throughLibsamplerate(pair, frequency, SRC_SINC_BEST_QUALITY), 1.0, pair, frequency);
            std::printf(
                "%-28s %6.0f %6.0f | %6.1f %6.1f %6.1f %14.4f %9.3f %9.3f %5llu | %6.1f %6.1f "
                "%6.1f | %6.1f %6.1f %6.1f\n",
                pair.name, pair.settleSeconds, frequency, ours.whole.snrDb, ours.worstWindowDb,
                ours.medianWindowDb, ours.frequencyPpm, drift.lowestPpm, drift.highestPpm,
                static_cast<unsigned long long>(drift.lostFrames), medium.whole.snrDb,
                medium.worstWindowDb, medium.medianWindowDb, best.whole.snrDb, best.worstWindowDb,
                best.medianWindowDb);
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    const int result = velkaphon::rack::bench::runWithRatios(argc, argv, printRatios);
    printQuality();
    return result;
}
