#pragma once

#include "engine/module.hpp"
#include "engine/recorder_writer.hpp"
#include "tests/engine/player_recorder_block.hpp"

#include <filesystem>
#include <string>
#include <vector>

namespace velkaphon::rack::testing {

// Sample value of a frame and channel that no other frame and channel share (exact in float).
inline float frameValue(std::uint64_t frame, std::uint32_t channel) {
    return static_cast<float>(frame % 1048576) / 1048576.0f + static_cast<float>(channel) / 64.0f;
}

// One block of numbered frames for a writer, as the audio thread would push it.
class NumberedSource {
public:
    NumberedSource(std::uint32_t channels, std::uint32_t frames)
        : samples_(channels, std::vector<float>(frames)), pointers_(channels) {
        for (std::uint32_t c = 0; c < channels; ++c) {
            pointers_[c] = samples_[c].data();
        }
    }

    // Pushes the frames from position on.
    void push(RecorderWriter& writer, std::uint64_t position) {
        const auto frames = static_cast<std::uint32_t>(samples_.front().size());
        for (std::uint32_t c = 0; c < samples_.size(); ++c) {
            for (std::uint32_t i = 0; i < frames; ++i) {
                samples_[c][i] = frameValue(position + i, c);
            }
        }
        writer.pushToRing(pointers_.data(), static_cast<std::uint32_t>(pointers_.size()), frames,
                          position);
    }

private:
    std::vector<std::vector<float>> samples_;
    std::vector<const float*> pointers_;
};

// Fills the block's inputs with frameValue for the frames at position and runs it.
inline void runNumbered(Module& module, TestBlock& block, std::int64_t position,
                        std::uint32_t channels, const std::vector<RackEvent>& events = {}) {
    for (std::uint32_t c = 0; c < channels; ++c) {
        auto& input = block.input(c);
        for (std::size_t i = 0; i < input.size(); ++i) {
            input[i] = frameValue(static_cast<std::uint64_t>(position) + i, c);
        }
    }
    block.run(module, position, events);
}

inline std::string utf8Text(const std::filesystem::path& path) {
    const auto text = path.u8string();
    return {text.begin(), text.end()};
}

} // namespace velkaphon::rack::testing
