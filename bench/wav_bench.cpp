// Reading a whole 23 MB file into floats: our reader against libsndfile, at each depth, stereo
// and 8 channels.
#include "bench/ratio_reporter.hpp"
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
constexpr std::uint32_t kFileBytes = 23000000;

void put(std::vector<char>& bytes, std::uint32_t value, int count) {
    for (int i = 0; i < count; ++i) {
        bytes.push_back(static_cast<char>(value >> (8 * i)));
    }
}

std::filesystem::path benchFilePath(int bits, int channels) {
    return std::filesystem::temp_directory_path() / ("velkaphon-wav-bench-" + std::to_string(bits) +
                                                     "-" + std::to_string(channels) + ".wav");
}

// A file of the given depth holding a slow sweep, so that no two blocks look alike.
std::filesystem::path makeFile(int bits, int channels) {
    const bool ieee = bits == 32;
    const auto path = benchFilePath(bits, channels);
    const std::uint32_t align = channels * bits / 8;
    const std::uint32_t frames = kFileBytes / align;
    const std::uint32_t dataBytes = align * frames;
    std::vector<char> bytes;
    bytes.reserve(dataBytes + 44);
    for (const char c : std::string("RIFF"))
        bytes.push_back(c);
    put(bytes, dataBytes + 36, 4);
    for (const char c : std::string("WAVEfmt "))
        bytes.push_back(c);
    put(bytes, 16, 4);
    put(bytes, ieee ? 3 : 1, 2);
    put(bytes, channels, 2);
    put(bytes, kRate, 4);
    put(bytes, kRate * align, 4);
    put(bytes, align, 2);
    put(bytes, static_cast<std::uint32_t>(bits), 2);
    for (const char c : std::string("data"))
        bytes.push_back(c);
    put(bytes, dataBytes, 4);
    for (std::uint32_t i = 0; i < frames * channels; ++i) {
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

// Argument 0 is the depth (32 for float), argument 1 the channel count.
const std::filesystem::path& fileFor(const benchmark::State& state) {
    static std::map<std::pair<int, int>, std::filesystem::path> files;
    const std::pair<int, int> key{static_cast<int>(state.range(0)),
                                  static_cast<int>(state.range(1))};
    auto found = files.find(key);
    if (found == files.end()) {
        found = files.emplace(key, makeFile(key.first, key.second)).first;
    }
    return found->second;
}

void ourReader(benchmark::State& state) {
    const auto& path = fileFor(state);
    const auto bytes = std::filesystem::file_size(path);
    for (auto _ : state) {
        WavAudio audio = readWavFile(path, wavPreloadLimit);
        benchmark::DoNotOptimize(audio.samples.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes) * state.iterations());
}

void libsndfileBaseline(benchmark::State& state) {
    const auto& path = fileFor(state);
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

const std::vector<std::vector<std::int64_t>> kFiles = {{16, 24, 32}, {2, 8}};

BENCHMARK(ourReader)->ArgsProduct(kFiles)->Unit(benchmark::kMillisecond);
BENCHMARK(libsndfileBaseline)->ArgsProduct(kFiles)->Unit(benchmark::kMillisecond);

void printRatios(const velkaphon::rack::bench::RatioReporter& reporter) {
    for (const char* depth : {"16", "24", "32"}) {
        for (const char* channels : {"2", "8"}) {
            const std::string args = std::string("/") + depth + "/" + channels;
            reporter.printRatio(std::string(depth) + (depth[0] == '3' ? "-bit float, " : "-bit, ") +
                                    channels + " ch: libsndfile time / ours",
                                "libsndfileBaseline" + args, "ourReader" + args);
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    const int result = velkaphon::rack::bench::runWithRatios(argc, argv, printRatios);
    for (const int depth : {16, 24, 32}) {
        for (const int channels : {2, 8}) {
            std::filesystem::remove(benchFilePath(depth, channels));
        }
    }
    return result;
}
