#include "engine/builtin.hpp"

#include "engine/builtin_configuration.hpp"
#include "engine/module_kind.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <utility>

namespace velkaphon::rack {

namespace {

using nlohmann::json;

constexpr std::pair<ModuleKind, BuiltinKind> kBuiltinKinds[] = {
    {ModuleKind::Input, BuiltinKind::Input},
    {ModuleKind::Output, BuiltinKind::Output},
    {ModuleKind::Summing, BuiltinKind::Summing},
    {ModuleKind::Distributor, BuiltinKind::Distributor},
    {ModuleKind::Breakout, BuiltinKind::Breakout},
    {ModuleKind::Matrix, BuiltinKind::Matrix},
    {ModuleKind::FaderBank, BuiltinKind::FaderBank},
};

// A 5 ms one-pole time constant.
constexpr double kSmoothingSeconds = 0.005;

} // namespace

Builtin::Builtin(BuiltinKind kind, const json& configuration)
    : kind_(kind), configuration_(configuration) {
    if (!configuration_.is_object()) {
        throw std::invalid_argument("Module configuration must be an object");
    }
    if (kind_ == BuiltinKind::FaderBank) {
        settleFaderBank();
    } else {
        settleRouting();
    }
}

void Builtin::settleFaderBank() {
    const std::uint32_t strips = readCount(configuration_, "strips", 1, kMaxFaderStrips);
    const json channels = configuration_.value("channels", json::array());
    const json gains = configuration_.value("gainsDb", json::array());
    const json mutes = configuration_.value("mutes", json::array());
    const bool arraysValid = channels.is_array() &&
                             (channels.empty() || channels.size() == strips) && gains.is_array() &&
                             mutes.is_array() && gains.size() <= strips && mutes.size() <= strips;
    if (!arraysValid) {
        throw std::invalid_argument("Fader bank configuration arrays are invalid");
    }
    for (std::uint32_t strip = 0; strip < strips; ++strip) {
        const std::uint32_t stripChannels =
            channels.empty() ? 2 : readStripChannels(channels[strip]);
        inputPorts_.push_back(makeIndexedPort("in", strip, stripChannels));
        outputPorts_.push_back(makeIndexedPort("out", strip, stripChannels));
        stripGainDb_[strip].exchange(strip < gains.size() ? readFaderGain(gains[strip]) : 0.0F);
        stripMuted_[strip].exchange(strip < mutes.size() ? mutes[strip].get<bool>() : false);
        stripCurrentGain_[strip] = targetStripGain(strip);
        stripLinearGainDb_[strip] = std::numeric_limits<float>::quiet_NaN();
    }
}

void Builtin::settleRouting() {
    const std::uint32_t channels = readCount(configuration_, "channels", 2, kMaxPortChannels);
    switch (kind_) {
    case BuiltinKind::Input:
        hostChannelOffset_ = readHostChannelOffset(configuration_);
        outputPorts_.push_back(makePort("out", channels));
        break;
    case BuiltinKind::Output:
        hostChannelOffset_ = readHostChannelOffset(configuration_);
        inputPorts_.push_back(makePort("in", channels));
        break;
    case BuiltinKind::Summing: {
        const std::uint32_t inputs = readCount(configuration_, "inputs", 2, kMaxPortChannels);
        for (std::uint32_t index = 0; index < inputs; ++index) {
            inputPorts_.push_back(makeIndexedPort("in", index, channels));
        }
        outputPorts_.push_back(makePort("out", channels));
        break;
    }
    case BuiltinKind::Distributor: {
        inputPorts_.push_back(makePort("in", channels));
        const std::uint32_t outputs = readCount(configuration_, "outputs", 2, kMaxPortChannels);
        for (std::uint32_t index = 0; index < outputs; ++index) {
            outputPorts_.push_back(makeIndexedPort("out", index, channels));
        }
        break;
    }
    case BuiltinKind::Breakout:
        inputPorts_.push_back(makePort("in", channels));
        for (std::uint32_t channel = 0; channel < channels; ++channel) {
            outputPorts_.push_back(makeIndexedPort("out", channel, 1));
        }
        break;
    case BuiltinKind::Matrix: {
        const std::uint32_t inputChannels =
            readCount(configuration_, "inputChannels", 2, kMaxPortChannels);
        const std::uint32_t outputChannels =
            readCount(configuration_, "outputChannels", 2, kMaxPortChannels);
        inputPorts_.push_back(makePort("in", inputChannels));
        outputPorts_.push_back(makePort("out", outputChannels));
        mapping_ = readMatrixMapping(configuration_, inputChannels, outputChannels);
        break;
    }
    case BuiltinKind::FaderBank:
        break;
    }
}

void Builtin::prepare(const ProcessSpec& spec) {
    smoothingCoefficient_ = 1.0 - std::exp(-1.0 / (spec.sampleRate * kSmoothingSeconds));
}

double Builtin::blockStripTarget(std::uint32_t strip) {
    if (stripMuted_[strip].load(std::memory_order_relaxed)) {
        return 0.0;
    }
    const float gainDb = stripGainDb_[strip].load(std::memory_order_relaxed);
    if (gainDb != stripLinearGainDb_[strip]) {
        stripLinearGainDb_[strip] = gainDb;
        stripLinearGain_[strip] = std::pow(10.0, static_cast<double>(gainDb) / 20.0);
    }
    return stripLinearGain_[strip];
}

double Builtin::targetStripGain(std::uint32_t strip) const {
    if (stripMuted_[strip].load(std::memory_order_relaxed)) {
        return 0.0;
    }
    const double gainDb = stripGainDb_[strip].load(std::memory_order_relaxed);
    return std::pow(10.0, gainDb / 20.0);
}

void Builtin::setControl(std::uint32_t index, double value) {
    if (kind_ != BuiltinKind::FaderBank || !std::isfinite(value)) {
        return;
    }
    const std::uint32_t strip = index / 2;
    if (strip >= stripCount()) {
        return;
    }
    if (index % 2 == 1) {
        stripMuted_[strip].store(value >= 0.5, std::memory_order_relaxed);
    } else {
        const double clamped = std::clamp(value, static_cast<double>(kMinFaderGainDb),
                                          static_cast<double>(kMaxFaderGainDb));
        stripGainDb_[strip].store(static_cast<float>(clamped), std::memory_order_relaxed);
    }
}

json Builtin::status() const {
    json result = configuration_;
    if (kind_ != BuiltinKind::FaderBank) {
        return result;
    }
    json gains = json::array();
    json mutes = json::array();
    json peaks = json::array();
    for (std::uint32_t strip = 0; strip < stripCount(); ++strip) {
        gains.push_back(stripGainDb_[strip].load(std::memory_order_relaxed));
        mutes.push_back(stripMuted_[strip].load(std::memory_order_relaxed));
        peaks.push_back(stripPeak_[strip].load(std::memory_order_relaxed));
    }
    result["gainsDb"] = std::move(gains);
    result["mutes"] = std::move(mutes);
    result["peaks"] = std::move(peaks);
    return result;
}

std::unique_ptr<Builtin> createBuiltin(const NodeDefinition& node) {
    const ModuleKind kind = moduleKindOf(node.type);
    for (const auto& [moduleKind, builtinKind] : kBuiltinKinds) {
        if (kind == moduleKind) {
            return std::make_unique<Builtin>(builtinKind, node.configuration);
        }
    }
    return nullptr;
}

} // namespace velkaphon::rack
