// The aggregate cycle's own cost per block with an empty callback, as a share of the block's
// real-time duration at 48 kHz, against a bare loop that only clears the rows and calls back.
// The capture endpoint runs at 48 or 44.1 kHz.
#include "audio/aggregate_cycle.hpp"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

using namespace velkaphon::rack;

void emptyCallback(void*, const float* const*, std::uint32_t, float* const*, std::uint32_t,
                   std::uint32_t, double) {}

// A master with two output channels, one stereo capture and one stereo secondary output.
struct Aggregate {
    AudioBackend backend;

    Aggregate(std::uint32_t block, std::uint32_t captureRate) {
        backend.sampleRate = 48000;
        backend.blockFrames = block;
        backend.callback = emptyCallback;
        add(false, true, 48000);
        add(true, false, captureRate);
        add(false, false, 48000);
        layOutPlanarRows(backend);
    }

    void add(bool capture, bool master, std::uint32_t rate) {
        auto worker = std::make_unique<EndpointWorker>();
        worker->isCapture = capture ? 1 : 0;
        worker->isMaster = master ? 1 : 0;
        worker->format.channels = 2;
        worker->format.sampleRate = rate;
        worker->measuredRate = rate;
        worker->state = kEndpointRunning;
        std::uint32_t& total = capture ? backend.inputChannels : backend.outputChannels;
        worker->channelOffset = total;
        total += 2;
        worker->ring.reset(2, 65536);
        const double scale = rate / 48000.0;
        worker->resampler.configure(&worker->ring, rate, 48000.0,
                                    (backend.blockFrames + 480.0) * scale + 64.0, 0.0,
                                    &worker->writeStamp);
        worker->interleavedScratch.assign(4096 * 2, 0.0f);
        backend.workers.push_back(std::move(worker));
    }

    double time = 0.0;

    EndpointWorker& capture() { return *backend.workers[1]; }
    EndpointWorker& secondary() { return *backend.workers[2]; }

    // Plays the two other endpoints' parts: feed and stamp the capture ring, drain the
    // secondary's. Time moves on by the block, in 100-ns units.
    void serviceRings(std::uint32_t frames) {
        static const std::vector<float> silence(4096 * 2, 0.0f);
        time += frames * 1e7 / 48000.0;
        SpscRing& in = capture().ring;
        while (in.fill() < capture().resampler.target + 64.0 + frames) {
            in.push(silence.data(), static_cast<std::int32_t>(frames));
            capture().writeStamp.publish(in.writeIndex.load(), frames, time);
        }
        SpscRing& out = secondary().ring;
        out.readIndex.store(out.writeIndex.load());
    }
};

void setShareOfBlock(benchmark::State& state, std::uint32_t block) {
    // Seconds of audio per iteration; the counter shows what fraction of it the work took.
    state.counters["shareOfBlock"] =
        benchmark::Counter(block / 48000.0, benchmark::Counter::kIsIterationInvariantRate |
                                                benchmark::Counter::kInvert);
}

void aggregateCycle(benchmark::State& state) {
    const auto block = static_cast<std::uint32_t>(state.range(0));
    Aggregate aggregate(block, static_cast<std::uint32_t>(state.range(1)));
    for (auto _ : state) {
        state.PauseTiming();
        aggregate.serviceRings(block);
        state.ResumeTiming();
        // The master begins a period before each block here, the most it ever does.
        beginAggregatePeriod(aggregate.backend, aggregate.time, block);
        runAggregateCycle(aggregate.backend, static_cast<std::int32_t>(block));
    }
    setShareOfBlock(state, block);
}

void clearAndCallBaseline(benchmark::State& state) {
    const auto block = static_cast<std::uint32_t>(state.range(0));
    Aggregate aggregate(block, static_cast<std::uint32_t>(state.range(1)));
    AudioBackend& backend = aggregate.backend;
    for (auto _ : state) {
        for (float* row : backend.inputRowPointers) {
            std::fill_n(row, block, 0.0f);
        }
        for (float* row : backend.outputRowPointers) {
            std::fill_n(row, block, 0.0f);
        }
        backend.callback(backend.context, backend.inputRowPointers.data(), backend.inputChannels,
                         backend.outputRowPointers.data(), backend.outputChannels, block, 48000.0);
        benchmark::DoNotOptimize(backend.outputRows.data());
    }
    setShareOfBlock(state, block);
}

BENCHMARK(aggregateCycle)->ArgsProduct({{16, 128, 1024}, {48000, 44100}});
BENCHMARK(clearAndCallBaseline)->ArgsProduct({{16, 128, 1024}, {48000}});

} // namespace
