#pragma once

// The native routing and mixing modules: host input and output, summing, distributor, breakout,
// matrix and the fader bank, all behind one class.

#include "engine/graph_definition.hpp"
#include "engine/module.hpp"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

namespace velkaphon::rack {

enum class BuiltinKind : std::uint32_t {
    Input,
    Output,
    Summing,
    Distributor,
    Breakout,
    Matrix,
    FaderBank,
};

inline constexpr std::uint32_t kMaxFaderStrips = 64;

class Builtin final : public Module {
public:
    // [control] Validates the configuration and settles ports, mapping and fader state;
    // throws std::invalid_argument, or the JSON library's type error for a value of the wrong type.
    Builtin(BuiltinKind kind, const nlohmann::json& configuration);

    BuiltinKind kind() const { return kind_; }

    std::vector<PortSpec> inputs() const override { return inputPorts_; }
    std::vector<PortSpec> outputs() const override { return outputPorts_; }

    // [control] Sets the fader smoothing for the sample rate and resets nothing else.
    void prepare(const ProcessSpec& spec) override;

    // [audio]
    void process(BlockContext& context) override;

    std::uint32_t latencySamples() const override { return 0; }

    // [any] The largest absolute sample of the last block.
    float level() const override { return blockPeak_.load(std::memory_order_relaxed); }

    // [control, audio] Possibly at once. Fader bank only: index 2s is strip s's gain in
    // dB (clamped to -80..12), 2s + 1 its mute (value >= 0.5); anything else is ignored.
    void setControl(std::uint32_t index, double value) override;

    // [control] The configuration, with the fader bank's present gains, mutes and peaks.
    nlohmann::json status() const override;

    // [control] Every kernel writes all of its output channels, silence included, and only
    // reads its inputs.
    bool writesEveryOutputSample() const override { return true; }
    bool neverWritesInputs() const override { return true; }
    // [control] Every kind meters what the engine would while it writes or right after.
    bool levelIsNodePeak() const override { return true; }

private:
    void settleFaderBank();
    void settleRouting();

    // Returns the largest absolute output sample of all strips.
    float runFaderBank(BlockContext& context);
    // The linear gain a strip heads for: 0 when muted. A new strip starts at it, without a ramp.
    double targetStripGain(std::uint32_t strip) const;
    // [audio] The same, with the power taken only when the gain has moved.
    double blockStripTarget(std::uint32_t strip);
    std::uint32_t stripCount() const { return static_cast<std::uint32_t>(inputPorts_.size()); }

    BuiltinKind kind_;
    nlohmann::json configuration_;
    std::uint32_t hostChannelOffset_ = 0;
    std::vector<PortSpec> inputPorts_;
    std::vector<PortSpec> outputPorts_;
    std::vector<std::int32_t> mapping_;
    std::array<std::atomic<float>, kMaxFaderStrips> stripGainDb_{};
    // Written by the audio thread, read by status on the control thread.
    std::array<std::atomic<float>, kMaxFaderStrips> stripPeak_{};
    std::array<std::atomic<bool>, kMaxFaderStrips> stripMuted_{};
    std::array<double, kMaxFaderStrips> stripCurrentGain_{};
    // [audio] The gain in dB last turned into stripLinearGain_; NaN before the first block.
    std::array<float, kMaxFaderStrips> stripLinearGainDb_{};
    std::array<double, kMaxFaderStrips> stripLinearGain_{};
    double smoothingCoefficient_ = 0.0;
    std::atomic<float> blockPeak_{0.0F};
};

// [control] A new built-in module for the node's type name, or an empty pointer when the
// type is not a built-in one. Construction errors propagate.
std::unique_ptr<Builtin> createBuiltin(const NodeDefinition& node);

} // namespace velkaphon::rack
