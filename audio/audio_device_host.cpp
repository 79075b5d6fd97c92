#include "audio/audio_device_host.hpp"

#include <algorithm>

namespace velkaphon::rack::AudioDeviceHost {

namespace {

constexpr const char* kRateOrBlockMessage =
    "Choose a valid sample rate (Automatic or 8-192 kHz) and a block from 16 to 4096 frames.";

// The device of the last usable port with that id in the list, or null.
const AudioDevice* findDevice(const std::vector<AudioDevice>& devices, const std::string& id,
                              bool input) {
    const AudioDevice* found = nullptr;
    for (const AudioDevice& device : devices) {
        for (const AudioPort& port : input ? device.inputs : device.outputs) {
            if (port.mixKnown && port.id == id) {
                found = &device;
            }
        }
    }
    return found;
}

std::uint32_t outputMixRate(const std::vector<AudioDevice>& devices, const std::string& id) {
    std::uint32_t rate = 0;
    for (const AudioDevice& device : devices) {
        for (const AudioPort& port : device.outputs) {
            if (port.id == id) {
                rate = port.sampleRate;
            }
        }
    }
    return rate;
}

} // namespace

std::vector<AudioDevice>& listDevices(std::unique_ptr<AudioBackend>& backend,
                                      std::vector<AudioDevice>& devices, std::string& error) {
    std::vector<AudioPort> ports;
    enumerateDevices(*backend, ports, error);
    devices.clear();
    for (const AudioPort& port : ports) {
        if (!port.mixKnown) {
            continue;
        }
        const std::string& key = port.interfaceKey.empty() ? port.id : port.interfaceKey;
        auto device = std::find_if(devices.begin(), devices.end(),
                                   [&](const AudioDevice& d) { return d.key == key; });
        if (device == devices.end()) {
            devices.push_back(AudioDevice{key, port.name, {}, {}});
            device = devices.end() - 1;
        }
        if (port.isInput) {
            device->inputs.push_back(port);
        } else {
            device->outputs.push_back(port);
            device->name = port.name;
        }
    }
    std::sort(devices.begin(), devices.end(),
              [](const AudioDevice& a, const AudioDevice& b) { return a.key < b.key; });
    return devices;
}

bool checkSettings(const AudioDeviceSettings& settings, const std::vector<AudioDevice>& devices,
                   std::string& error) {
    error.clear();
    if (settings.backendKind != 0) {
        error = "ASIO is not included in this build. Choose WASAPI. ASIO requires a licensed "
                "backend; no ASIO driver is opened.";
        return false;
    }
    if (settings.outputId.empty()) {
        error = "Choose an output on your audio interface.";
        return false;
    }
    if (settings.blockFrames - 16u > 4080u ||
        (settings.sampleRate != 0 && settings.sampleRate - 8000u > 184000u)) {
        error = kRateOrBlockMessage;
        return false;
    }
    const AudioDevice* output = findDevice(devices, settings.outputId, false);
    if (output == nullptr) {
        error = "The selected output is unavailable. Find devices and choose an available output.";
        return false;
    }
    if (settings.inputId.empty()) {
        return true;
    }
    const AudioDevice* input = findDevice(devices, settings.inputId, true);
    if (input == nullptr) {
        error = "The selected input is unavailable. Find devices and choose an available input.";
        return false;
    }
    if (input->key != output->key) {
        error = "RACK uses one audio interface. Choose input and output ports of the same device, "
                "or use output only for file processing.";
        return false;
    }
    return true;
}

bool start(std::unique_ptr<AudioBackend>& backend, const AudioDeviceSettings& settings,
           AudioCallback callback, void* context, std::string& error, AudioEndCallback ended) {
    if (callback == nullptr) {
        error = "An audio processing callback is required.";
        return false;
    }
    std::vector<AudioDevice> devices;
    listDevices(backend, devices, error);
    if (!error.empty() || !checkSettings(settings, devices, error)) {
        return false;
    }
    AudioBackendConfig config;
    if (!settings.inputId.empty()) {
        config.inputs.push_back({settings.inputId, settings.requireExclusive});
    }
    config.outputs.push_back({settings.outputId, settings.requireExclusive});
    config.masterId = settings.outputId;
    config.sampleRate =
        settings.sampleRate != 0 ? settings.sampleRate : outputMixRate(devices, settings.outputId);
    config.blockFrames = settings.blockFrames;
    config.deviceMode = 0;
    config.lowLatencyShared = true;
    config.preferExclusive = settings.exclusive;
    return configureAndStart(*backend, config, callback, context, error, ended);
}

} // namespace velkaphon::rack::AudioDeviceHost
