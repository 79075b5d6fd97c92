#pragma once

// Shared by the tests that run the back end on simulated endpoints.

#include "audio/backend_control.hpp"
#include "audio/performance_counter.hpp"
#include "audio/simulated_audio_system.hpp"
#include "audio/spsc_ring.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

namespace velkaphon::rack::testing {

constexpr const char* kOutputId = "{0.0.0.00000000}.{out-main}";
constexpr const char* kSecondOutputId = "{0.0.0.00000000}.{out-phones}";
constexpr const char* kInputId = "{0.0.1.00000000}.{in-main}";

inline SimulatedEndpoint simulatedEndpoint(const std::string& id, const std::string& name,
                                           DataFlow flow, std::uint32_t rate = 48000,
                                           double trueRate = 0.0, std::uint16_t channels = 2) {
    SimulatedEndpoint setup;
    setup.id = id;
    setup.name = name;
    setup.flow = flow;
    setup.mixFormat = simulatedMixFormat(channels, rate);
    setup.trueRate = trueRate;
    setup.periodFrames = rate / 100;
    setup.sharedBufferFrames = rate * 3 / 100;
    return setup;
}

// Records what the master's worker hands the callback, and writes a 100 Hz tone into every
// output row, continuous across calls.
struct ToneCallback {
    static constexpr double kFrequency = 100.0;

    std::atomic<std::uint64_t> calls{0};
    std::atomic<std::uint64_t> frames{0};
    std::atomic<std::uint32_t> inputChannels{0};
    std::atomic<std::uint32_t> outputChannels{0};
    // The first calls' frame counts; written only on the master's thread.
    std::vector<std::uint32_t> firstChunks;
    double lastInput = 0.0;
    // A capture ring whose fill each call samples, as its reader (the master) sees it.
    const SpscRing* watchedRing = nullptr;
    double watchedFillSum = 0.0;
    std::uint64_t watchedSamples = 0;
    // The first call holds the master this long on the performance counter, so that its device
    // period runs late.
    double firstCallStallMs = 0.0;

    static void call(void* context, const float* const* inputRows, std::uint32_t inputs,
                     float* const* outputRows, std::uint32_t outputs, std::uint32_t count,
                     double sampleRate) {
        auto& self = *static_cast<ToneCallback*>(context);
        if (self.calls.load(std::memory_order_relaxed) == 0) {
            const double from = preciseTime100ns();
            while ((preciseTime100ns() - from) * 0.0001 < self.firstCallStallMs) {
            }
        }
        const std::uint64_t start = self.frames.load(std::memory_order_relaxed);
        if (self.firstChunks.size() < 16) {
            self.firstChunks.push_back(count);
        }
        for (std::uint32_t row = 0; row < outputs; ++row) {
            for (std::uint32_t i = 0; i < count; ++i) {
                outputRows[row][i] = static_cast<float>(
                    0.5 * std::sin(2.0 * std::numbers::pi * kFrequency * (start + i) / sampleRate));
            }
        }
        if (inputs > 0) {
            self.lastInput = inputRows[0][count - 1];
        }
        if (self.watchedRing != nullptr) {
            self.watchedFillSum += static_cast<double>(self.watchedRing->fill());
            ++self.watchedSamples;
        }
        self.inputChannels.store(inputs, std::memory_order_relaxed);
        self.outputChannels.store(outputs, std::memory_order_relaxed);
        self.frames.fetch_add(count, std::memory_order_relaxed);
        self.calls.fetch_add(1, std::memory_order_relaxed);
    }
};

// Watches a rendered stream for breaks: once past the start, a 100 Hz tone never jumps by more
// than its own slope allows, and never falls silent.
struct ContinuityWatch {
    std::uint64_t framesSeen = 0;
    std::uint64_t skipFrames = 0;
    double largestStep = 0.0;
    std::uint64_t breaks = 0;
    float previous = 0.0f;
    double limit = 0.0;

    ContinuityWatch(double rate, double skipSeconds)
        : skipFrames(static_cast<std::uint64_t>(rate * skipSeconds)),
          // The tone's steepest step, with room for the resampler's own error.
          limit(0.5 * 2.0 * std::numbers::pi * ToneCallback::kFrequency / rate * 1.2 + 1e-4) {}

    void observe(const float* interleaved, std::uint32_t count, std::uint32_t channels) {
        for (std::uint32_t i = 0; i < count; ++i, ++framesSeen) {
            const float value = interleaved[i * channels];
            if (framesSeen > skipFrames) {
                const double step = std::fabs(value - previous);
                largestStep = std::max(largestStep, step);
                breaks += step > limit ? 1 : 0;
            }
            previous = value;
        }
    }
};

class SimulatedBackendTest : public ::testing::Test {
protected:
    ~SimulatedBackendTest() override { destroyAudioBackend(backend); }

    AudioBackendConfig config(std::vector<std::string> inputs, std::vector<std::string> outputs,
                              std::uint32_t rate = 48000, std::uint32_t block = 128) {
        AudioBackendConfig result;
        for (const std::string& id : inputs) {
            result.inputs.push_back({id, 0});
        }
        for (const std::string& id : outputs) {
            result.outputs.push_back({id, 0});
        }
        result.sampleRate = rate;
        result.blockFrames = block;
        // Endpoints of several interfaces unless a test says otherwise.
        result.deviceMode = 1;
        return result;
    }

    bool start(const AudioBackendConfig& configuration) {
        return configureAndStart(*backend, configuration, ToneCallback::call, &tone, error);
    }

    const EndpointStatus& endpoint(const AudioStatus& status, const std::string& id) {
        for (const EndpointStatus& entry : status.endpoints) {
            if (entry.id == id) {
                return entry;
            }
        }
        ADD_FAILURE() << "no endpoint " << id;
        return status.endpoints.front();
    }

    SimulatedAudioSystem system;
    std::unique_ptr<AudioBackend> backend = createAudioBackend(system);
    ToneCallback tone;
    std::string error;
};

} // namespace velkaphon::rack::testing
