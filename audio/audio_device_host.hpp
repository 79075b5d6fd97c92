#pragma once

#include "audio/backend_control.hpp"
#include "audio/endpoint_catalogue.hpp"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace velkaphon::rack {

// The user's choice from the "start" command.
struct AudioDeviceSettings {
    // 0 = WASAPI; nothing else exists.
    std::uint32_t backendKind = 0;
    std::string inputId;
    std::string outputId;
    // 0 = Automatic: the output's mix rate.
    std::uint32_t sampleRate = 0;
    std::uint32_t blockFrames = 0;
    bool requireExclusive = false;
    bool exclusive = false;
};

// One physical interface with its ports.
struct AudioDevice {
    std::string key;
    std::string name;
    std::vector<AudioPort> inputs;
    std::vector<AudioPort> outputs;
};

// What the rack application calls, all on its control thread.
namespace AudioDeviceHost {

// The endpoints with a known mix format, grouped into interfaces and sorted by key. A failed
// refresh leaves its text in error; whatever it listed is still grouped.
std::vector<AudioDevice>& listDevices(std::unique_ptr<AudioBackend>& backend,
                                      std::vector<AudioDevice>& devices, std::string& error);

bool checkSettings(const AudioDeviceSettings& settings, const std::vector<AudioDevice>& devices,
                   std::string& error);

// Lists the devices, checks the settings and starts the aggregate with the output as master;
// `ended`, when given, runs on the audio thread as it ends.
bool start(std::unique_ptr<AudioBackend>& backend, const AudioDeviceSettings& settings,
           AudioCallback callback, void* context, std::string& error,
           AudioEndCallback ended = nullptr);

// The back end's own status and stop under the names the application calls them by: the same
// functions, not wrappers.
inline constexpr AudioStatus (&status)(AudioBackend&) = snapshotStatus;
inline constexpr void (&stop)(AudioBackend&) = stopAudioBackend;

} // namespace AudioDeviceHost

} // namespace velkaphon::rack
