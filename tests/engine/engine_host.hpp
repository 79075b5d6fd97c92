#pragma once

// Host buses and graphs for driving an AudioEngine from a test.

#include "engine/audio_engine.hpp"
#include "engine/graph_compiler.hpp"
#include "tests/engine/test_module.hpp"

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

namespace velkaphon::rack {

// Reaches what publishGraph's own draining keeps a test from seeing: a full retired ring.
struct AudioEngineTestAccess {
    static void offerGraph(AudioEngine& engine, std::unique_ptr<PreparedGraph> graph) {
        engine.offerGraph(std::move(graph));
    }
};

namespace testing {

// Planar host channels, each prefilled with one value.
class HostBus {
public:
    HostBus(std::size_t channels, std::uint32_t frames, float fill = 0.0f)
        : samples_(channels, std::vector<float>(frames, fill)) {
        for (std::vector<float>& channel : samples_) {
            pointers_.push_back(channel.data());
        }
    }

    BusSpan span() const { return {pointers_.data(), pointers_.size()}; }
    std::vector<float>& channel(std::size_t c) { return samples_[c]; }
    void withoutBuffer(std::size_t c) { pointers_[c] = nullptr; }
    void fill(float value) {
        for (std::vector<float>& channel : samples_) {
            std::fill(channel.begin(), channel.end(), value);
        }
    }

private:
    std::vector<std::vector<float>> samples_;
    std::vector<float*> pointers_;
};

} // namespace testing
} // namespace velkaphon::rack
