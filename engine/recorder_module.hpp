#pragma once

#include "engine/module.hpp"
#include "engine/recorder_meters.hpp"
#include "engine/recorder_writer.hpp"

#include <atomic>
#include <filesystem>
#include <functional>

namespace velkaphon::rack {

// The take file for a requested path: the path itself when nothing is there, else the first free
// "<stem>-take<N>.wav" beside it (N = 1..99999), where a stem that already ends in "-take<N>" is
// taken without it, so that names advance instead of nesting. With every name taken the last
// candidate is returned, for the caller to refuse.
std::filesystem::path
chooseTakePath(const std::filesystem::path& requested,
               const std::function<bool(const std::filesystem::path&)>& exists);

// The module of type "recorder": records its input to a 32-bit float WAV file through a writer
// thread and passes the input through for monitoring.
class RecorderModule final : public Module {
public:
    // [control] Throws "Media channels must be 1..64" or the JSON library's errors.
    explicit RecorderModule(nlohmann::json configuration);
    // [control] Finishes the take at once; a take file that got no frame is removed.
    ~RecorderModule() override;

    std::vector<PortSpec> inputs() const override;
    std::vector<PortSpec> outputs() const override;
    // [control] An armed recorder creates its take file here and rewrites "path".
    void prepare(const ProcessSpec& spec) override;
    // [audio]
    void process(BlockContext& context) override;
    std::uint32_t latencySamples() const override { return 0; }
    float level() const override { return 0.0f; }
    // [control, audio]
    void setControl(std::uint32_t index, double value) override;
    // [control]
    nlohmann::json status() const override;

    // [control] The ring, charged against the graph's budget and made once it has passed.
    std::uint64_t storageBytes() const override { return kRecorderRingSamples * sizeof(float); }
    void allocateStorage() override { writer_.allocateRing(); }
    bool writesEveryOutputSample() const override { return true; }
    bool neverWritesInputs() const override { return true; }

    // [control] With the rack stopped: ends the take at once and disarms.
    void stop();

private:
    nlohmann::json configuration_;
    RecorderWriter writer_;
    RecorderMeters meters_;
    std::uint32_t channels_ = 2;
    bool lastTransportRecording_ = false;
    bool followTransport_ = false;
    bool armed_ = false;
    double sampleRate_ = 48000.0;
    double silenceSeconds_ = 0.5;
    double maxTailSeconds_ = 30.0;
    double silenceDb_ = -80.0;
    std::atomic<std::uint32_t> commandMailbox_{0};
};

} // namespace velkaphon::rack
