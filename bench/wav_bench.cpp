// Reading a whole 60-second stereo file into floats: our reader against libsndfile.
#include "engine/wav_file.hpp"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sndfile.h>
#include <string>
#include <vector>

namespace {

using namespace velkaphon::rack;

constexpr int kRate = 48000;
constexpr int kChannels = 2;
constexpr int kFrames = 60 * kRate;

void put(std::vector<char>& bytes, std::uint32_t value, int count) {
    for (int i = 0; i < count; ++i) {
        bytes.push_back(static_cast<char>(value >> (8 * i)));
    }
}

// A file of the given depth holding a slow sweep, so that no two blocks look alike.
std::filesystem::path makeFile(int bits, bool ieee) {
    const auto path = std::filesystem::temp_directory_path() /
                      ("velkaphon-wav-bench-" + std::to_string(bits) + (ieee ? "f" : "i") + ".wav");
    const std::uint32_t align = kChannels * bits / 8;
    const std::uint32_t dataBytes = align * kFrames;
    std::vector<char> bytes;
    bytes.reserve(dataBytes + 44);
    for (const char c : std::string("RIFF"))
        bytes.push_back(c);
    put(bytes, dataBytes + 36, 4);
    for (const char c : std::string("WAVEfmt "))
        bytes.push_back(c);
    put(bytes, 16, 4);
    put(bytes, ieee ? 3 : 1, 2);
    put(bytes, kChannels, 2);
    put(bytes, kRate, 4);
    put(bytes, kRate * align, 4);
    put(bytes, align, 2);
    put(bytes, static_cast<std::uint32_t>(bits), 2);
    for (const char c : std::string("data"))
        bytes.push_back(c);
    put(bytes, dataBytes, 4);
    for (int i = 0; i < kFrames * kChannels; ++i) {
        const double value = 0.9 * ((i % 9973) / 4986.5 - 1.0);
        if (ieee) {
            const float sample = static_cast<float>(value);
            std::uint32_t raw;
            std::memcpy(&raw, &sample, sizeof raw);
            put(bytes, raw, 4);
        } else {
            const double scale = bits == 16 ? 32767.0 : 8388607.0;
            put(bytes, static_cast<std::uint32_t>(static_cast<std::int32_t>(value * scale)),
                bits / 8);
        }
    }
    std::ofstream(path, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path;
}

const std::filesystem::path& fileFor(int kind) {
    static const std::map<int, std::filesystem::path> files = {
        {16, makeFile(16, false)}, {24, makeFile(24, false)}, {32, makeFile(32, true)}};
    return files.at(kind);
}

void ourReader(benchmark::State& state) {
    const auto& path = fileFor(static_cast<int>(state.range(0)));
    const auto bytes = std::filesystem::file_size(path);
    for (auto _ : state) {
        WavAudio audio = readWavFile(path, wavPreloadLimit);
        benchmark::DoNotOptimize(audio.samples.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes) * state.iterations());
}

void libsndfileBaseline(benchmark::State& state) {
    const auto& path = fileFor(static_cast<int>(state.range(0)));
    const auto bytes = std::filesystem::file_size(path);
    for (auto _ : state) {
        SF_INFO info{};
        SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
        if (file == nullptr) {
            state.SkipWithError("libsndfile cannot open the file");
            break;
        }
        std::vector<float> samples(static_cast<std::size_t>(info.frames * info.channels));
        sf_readf_float(file, samples.data(), info.frames);
        sf_close(file);
        benchmark::DoNotOptimize(samples.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes) * state.iterations());
}

BENCHMARK(ourReader)->Arg(16)->Arg(24)->Arg(32)->Unit(benchmark::kMillisecond);
BENCHMARK(libsndfileBaseline)->Arg(16)->Arg(24)->Arg(32)->Unit(benchmark::kMillisecond);

// Keeps each run's time so that the ratio to the baseline can be printed at the end.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration && !run.error_occurred) {
                times_[run.benchmark_name()] = run.GetAdjustedRealTime();
            }
        }
    }

    void printRatios() const {
        for (const char* depth : {"16", "24", "32"}) {
            const auto ours = times_.find(std::string("ourReader/") + depth);
            const auto theirs = times_.find(std::string("libsndfileBaseline/") + depth);
            if (ours != times_.end() && theirs != times_.end() && ours->second > 0) {
                std::printf("%s-bit%s: our reader is %.2fx the speed of libsndfile\n", depth,
                            depth[0] == '3' ? " float" : "", theirs->second / ours->second);
            }
        }
    }

private:
    std::map<std::string, double> times_;
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatios();
    for (const int kind : {16, 24, 32}) {
        std::filesystem::remove(fileFor(kind));
    }
    benchmark::Shutdown();
    return 0;
}
