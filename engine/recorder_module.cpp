#include "engine/recorder_module.hpp"

#include "engine/file_system_failure.hpp"
#include "engine/media_configuration.hpp"

#include <algorithm>
#include <cmath>
#include <string>

namespace velkaphon::rack {

namespace {

constexpr std::uint32_t kLastTakeNumber = 99999;

// "song-take12" -> "song"; any other stem stays as it is.
std::u8string stemWithoutTakeNumber(const std::u8string& stem) {
    std::size_t digits = stem.size();
    while (digits > 0 && stem[digits - 1] >= u8'0' && stem[digits - 1] <= u8'9') {
        --digits;
    }
    const std::u8string marker = u8"-take";
    if (digits == stem.size() || digits < marker.size() ||
        stem.compare(digits - marker.size(), marker.size(), marker) != 0) {
        return stem;
    }
    return stem.substr(0, digits - marker.size());
}

bool pathExists(const std::filesystem::path& path) {
    std::error_code error;
    const bool found = std::filesystem::exists(path, error);
    if (error) {
        throwFileSystemFailure("Cannot check the recording destination", error);
    }
    return found;
}

std::uint64_t blockPosition(const TransportInfo& transport) {
    return static_cast<std::uint64_t>(std::max<std::int64_t>(0, transport.samplePosition));
}

} // namespace

std::filesystem::path
chooseTakePath(const std::filesystem::path& requested,
               const std::function<bool(const std::filesystem::path&)>& exists) {
    const std::u8string stem = stemWithoutTakeNumber(requested.stem().u8string());
    std::filesystem::path candidate = requested;
    for (std::uint32_t number = 1;; ++number) {
        if (!exists(candidate) || number > kLastTakeNumber) {
            return candidate;
        }
        const auto digits = std::to_string(number);
        candidate = requested.parent_path() /
                    std::filesystem::path(stem + u8"-take" +
                                          std::u8string(digits.begin(), digits.end()) + u8".wav");
    }
}

RecorderModule::RecorderModule(nlohmann::json configuration)
    : configuration_(std::move(configuration)) {
    channels_ = mediaChannels(configuration_);
    followTransport_ = mediaFlag(configuration_, "followTransport", false);
    armed_ = mediaFlag(configuration_, "armed", false);
    silenceSeconds_ = mediaNumber(configuration_, "silenceSeconds", 0.5);
    maxTailSeconds_ = mediaNumber(configuration_, "maxTailSeconds", 30.0);
    silenceDb_ = mediaNumber(configuration_, "silenceDb", -80.0);
}

RecorderModule::~RecorderModule() {
    writer_.stopAndJoin();
    writer_.discardEmptyTake();
}

std::vector<PortSpec> RecorderModule::inputs() const {
    return {{"in", "Record audio", channels_}};
}

std::vector<PortSpec> RecorderModule::outputs() const {
    return {{"out", "Monitor thru", channels_}};
}

void RecorderModule::prepare(const ProcessSpec& spec) {
    sampleRate_ = spec.sampleRate;
    configureMeters(meters_, channels_, spec.sampleRate);
    if (armed_) {
        const auto requested = mediaPath(configuration_, "Cannot create recording file");
        const auto chosen = chooseTakePath(requested, pathExists);
        writer_.setDestination(chosen, channels_, static_cast<std::uint32_t>(spec.sampleRate));
        configuration_["path"] = mediaPathText(chosen);
    }
    lastTransportRecording_ = false;
}

void RecorderModule::process(BlockContext& context) {
    const std::uint32_t frames = context.frames;
    if (context.inputs == nullptr || context.inputCount == 0) {
        updateMeters(meters_, nullptr, 0, frames);
        return;
    }
    const PortBusSpan& input = context.inputs[0];
    updateMeters(meters_, input.channels, input.channelCount, frames);
    const std::uint64_t position = blockPosition(context.transport);
    const std::uint32_t command = commandMailbox_.exchange(0);
    const bool recording = context.transport.recording;
    if ((followTransport_ && recording && !lastTransportRecording_) || command == 1) {
        writer_.startCapture(position);
    }
    if ((followTransport_ && !recording && lastTransportRecording_) || command == 2) {
        writer_.beginTail(position, silenceSeconds_, maxTailSeconds_, silenceDb_);
    }
    lastTransportRecording_ = recording;

    const std::uint32_t m =
        input.channels == nullptr ? 0 : std::min(input.channelCount, kMeterChannels);
    std::array<const float*, kMeterChannels> frame{};
    std::uint64_t next = 0;
    for (std::uint32_t i = 0; i < frames; ++i) {
        for (; next < context.eventCount && context.events[next].sampleOffset <= i; ++next) {
            const RackEvent& event = context.events[next];
            if (event.sampleOffset != i) {
                continue;
            }
            if (event.kind == RackEventKind::Start) {
                writer_.startCapture(position + i);
            } else if (event.kind == RackEventKind::Stop || event.kind == RackEventKind::Ended) {
                writer_.beginTail(position + i, silenceSeconds_, maxTailSeconds_, silenceDb_);
            }
        }
        for (std::uint32_t c = 0; c < m; ++c) {
            frame[c] = input.channels[c] != nullptr ? input.channels[c] + i : nullptr;
        }
        writer_.pushToRing(frame.data(), m, 1, position + i);
    }

    if (context.outputs == nullptr || context.outputCount == 0) {
        return;
    }
    const PortBusSpan& output = context.outputs[0];
    for (std::uint32_t c = 0; output.channels != nullptr && c < output.channelCount; ++c) {
        float* out = output.channels[c];
        if (out == nullptr) {
            continue;
        }
        const float* in = c < m ? input.channels[c] : nullptr;
        for (std::uint32_t i = 0; i < frames; ++i) {
            out[i] = in != nullptr && std::isfinite(in[i]) ? in[i] : 0.0f;
        }
    }
}

void RecorderModule::setControl(std::uint32_t index, double value) {
    if (index == 0) {
        commandMailbox_.exchange(value > 0.5 ? 1u : 2u);
    }
}

nlohmann::json RecorderModule::status() const {
    const MeterSnapshot meters = snapshotMeters(meters_);
    const std::uint32_t takeChannels = writer_.channels();
    const std::uint32_t takeRate = writer_.sampleRate();
    const double rate = takeRate != 0 ? static_cast<double>(takeRate) : sampleRate_;
    const std::uint64_t accepted = takeChannels == 0 ? 0 : writer_.pushedSamples() / takeChannels;
    const bool capturing = writer_.capturing();

    nlohmann::json peaks = nlohmann::json::array();
    nlohmann::json rms = nlohmann::json::array();
    nlohmann::json clips = nlohmann::json::array();
    bool anyClip = false;
    for (std::uint32_t c = 0; c < std::min(channels_, kMeterChannels); ++c) {
        peaks.push_back(meters.peaks[c]);
        rms.push_back(meters.rms[c]);
        clips.push_back(meters.clips[c]);
        anyClip = anyClip || meters.clips[c];
    }
    const bool hasRight = channels_ > 1;
    nlohmann::json state = {
        {"ready", writer_.ready()},
        {"recording", capturing},
        {"tail", capturing && writer_.inTail()},
        {"finalizing", writer_.finalizing()},
        {"finalized", writer_.finalized()},
        {"hasDestination", writer_.hasDestination()},
        {"failed", writer_.failed()},
        {"error", writer_.failureText()},
        {"frames", writer_.framesWritten()},
        {"acceptedFrames", accepted},
        {"seconds", rate > 0.0 ? static_cast<double>(accepted) / rate : 0.0},
        {"sampleRate", rate},
        {"channels", channels_},
        {"droppedFrames", writer_.droppedFrames()},
        {"levelL", meters.peaks[0]},
        {"rmsL", meters.rms[0]},
        {"clipL", meters.clips[0]},
        {"levelR", hasRight ? meters.peaks[1] : 0.0f},
        {"rmsR", hasRight ? meters.rms[1] : 0.0f},
        {"clipR", hasRight && meters.clips[1]},
        {"clip", anyClip},
        {"inputPeaks", std::move(peaks)},
        {"inputRms", std::move(rms)},
        {"inputClips", std::move(clips)},
        {"invalidSamples", meters.invalidSamples},
        {"meterGeneration", meters.generation},
        {"meterSnapshotCoherent", meters.coherent},
    };
    nlohmann::json result = configuration_;
    result["status"] = std::move(state);
    return result;
}

void RecorderModule::stop() {
    writer_.stopCapture();
    writer_.stopAndJoin();
    resetMeters(meters_);
    lastTransportRecording_ = false;
    commandMailbox_.store(0);
    armed_ = false;
    configuration_["armed"] = false;
}

} // namespace velkaphon::rack
