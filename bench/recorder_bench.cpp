// How many frames per second the recorder's writer thread keeps up with, at 2, 16 and 64
// channels, against plain fwrite of the same bytes in the same run and against real time.
#include "engine/recorder_writer.hpp"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace velkaphon::rack;

constexpr std::uint32_t kBlock = 256;
constexpr std::uint64_t kSamplesPerRun = 16u << 20; // 64 MiB of samples per take

std::filesystem::path benchFile(const char* name) {
    return std::filesystem::temp_directory_path() / name;
}

// One take: the audio side pushes as fast as the ring has room (never dropping a frame).
void writerThroughput(benchmark::State& state) {
    const auto channels = static_cast<std::uint32_t>(state.range(0));
    const std::uint64_t frames = kSamplesPerRun / channels / kBlock * kBlock;
    std::vector<std::vector<float>> samples(channels, std::vector<float>(kBlock, 0.25f));
    std::vector<const float*> inputs;
    for (const auto& channel : samples) {
        inputs.push_back(channel.data());
    }
    const auto path = benchFile("velkaphon-recorder-bench.wav");
    std::uint64_t dropped = 0;
    for (auto _ : state) {
        std::filesystem::remove(path);
        RecorderWriter writer;
        writer.allocateRing();
        writer.setDestination(path, channels, 48000);
        writer.startCapture(0);
        for (std::uint64_t f = 0; f < frames; f += kBlock) {
            while (writer.pushedSamples() - writer.drainedSamples() + kBlock * channels >
                   kRecorderRingSamples) {
                std::this_thread::yield();
            }
            writer.pushToRing(inputs.data(), channels, kBlock, f);
        }
        writer.stopCapture();
        writer.stopAndJoin();
        dropped += writer.droppedFrames();
    }
    std::filesystem::remove(path);
    state.counters["dropped"] = static_cast<double>(dropped);
    state.SetItemsProcessed(static_cast<std::int64_t>(frames) * state.iterations());
}

// The same bytes written by one thread with fwrite in the writer's run size.
void fwriteBaseline(benchmark::State& state) {
    const auto channels = static_cast<std::uint32_t>(state.range(0));
    const std::uint64_t frames = kSamplesPerRun / channels / kBlock * kBlock;
    const std::vector<float> run(kRecorderRingSamples / 4, 0.25f);
    const auto path = benchFile("velkaphon-recorder-baseline.raw");
    for (auto _ : state) {
        std::FILE* file = std::fopen(path.c_str(), "wb");
        for (std::uint64_t left = frames * channels; left > 0;) {
            const std::uint64_t n = std::min<std::uint64_t>(left, run.size());
            std::fwrite(run.data(), sizeof(float), n, file);
            left -= n;
        }
        std::fclose(file);
    }
    std::filesystem::remove(path);
    state.SetItemsProcessed(static_cast<std::int64_t>(frames) * state.iterations());
}

BENCHMARK(writerThroughput)->Arg(2)->Arg(16)->Arg(64)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(fwriteBaseline)->Arg(2)->Arg(16)->Arg(64)->Unit(benchmark::kMillisecond)->UseRealTime();

class MarginReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            const auto rate = run.counters.find("items_per_second");
            if (run.run_type == Run::RT_Iteration && rate != run.counters.end()) {
                rates_[run.benchmark_name()] = rate->second;
            }
        }
    }

    void printMargins() const {
        for (const char* channels : {"2", "16", "64"}) {
            const auto ours =
                rates_.find(std::string("writerThroughput/") + channels + "/real_time");
            const auto plain =
                rates_.find(std::string("fwriteBaseline/") + channels + "/real_time");
            if (ours == rates_.end() || plain == rates_.end()) {
                continue;
            }
            std::printf("%s channels: %.0f frames/s, %.1fx real time at 48 kHz, %.1fx at 192 kHz, "
                        "%.2fx plain fwrite\n",
                        channels, ours->second, ours->second / 48000.0, ours->second / 192000.0,
                        ours->second / plain->second);
        }
    }

private:
    std::map<std::string, double> rates_;
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    MarginReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printMargins();
    benchmark::Shutdown();
    return 0;
}
