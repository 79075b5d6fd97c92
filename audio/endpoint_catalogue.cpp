#include "audio/endpoint_catalogue.hpp"

#include "audio/guid_text.hpp"
#include "audio/text_codec.hpp"

#include <algorithm>

namespace velkaphon::rack {

namespace {

constexpr const char* kLabelDevice = "BEHRINGER UMC 404HD 192k";
constexpr const char* kLabels[] = {"IN 1-2", "IN 3-4", "IN 1-4", "OUT 1-2", "OUT 3-4", "OUT 1-4"};
constexpr Guid kBuiltInContainer{
    0x00000000, 0x0000, 0x0000, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}};

// Leaves the apartment on every way out, unless the thread already had another one.
class ApartmentGuard {
public:
    ApartmentGuard(AudioSystem& system, Hresult result) : system_(system), result_(result) {}
    ~ApartmentGuard() {
        if (!hresultFailed(result_)) {
            system_.leaveApartment();
        }
    }
    ApartmentGuard(const ApartmentGuard&) = delete;
    ApartmentGuard& operator=(const ApartmentGuard&) = delete;

private:
    AudioSystem& system_;
    Hresult result_;
};

std::string hresultText(Hresult result) {
    return formatHresult(static_cast<std::uint32_t>(result));
}

void readMixFormat(AudioDeviceApi& device, AudioPort& port) {
    std::unique_ptr<AudioClientApi> client;
    WaveFormatBytes mix;
    NegotiatedFormat format;
    if (!hresultFailed(device.activateClient(client)) &&
        !hresultFailed(client->getMixFormat(mix)) && checkWaveFormat(format, asWaveFormat(mix))) {
        port.channels = format.channels;
        port.sampleRate = format.sampleRate;
        port.mixKnown = true;
    }
}

void listFlow(AudioEnumeratorApi& enumerator, DataFlow flow, std::vector<AudioPort>& ports,
              std::string& error) {
    std::vector<std::unique_ptr<AudioDeviceApi>> devices;
    const Hresult listed = enumerator.enumerateActive(flow, devices);
    if (hresultFailed(listed)) {
        error = hresultText(listed);
        return;
    }
    for (const auto& device : devices) {
        std::u16string wideId;
        if (hresultFailed(device->getId(wideId))) {
            continue;
        }
        AudioPort port;
        port.id = wideToUtf8(wideId.c_str());
        port.name = readFriendlyName(*device);
        port.isInput = flow == DataFlow::Capture;
        port.interfaceKey = interfaceKeyFromContainer(*device);
        if (port.interfaceKey.empty()) {
            port.interfaceKey = interfaceKeyFromPortLabel(port.name, port.id);
        }
        readMixFormat(*device, port);
        ports.push_back(std::move(port));
    }
}

bool isLabelDevice(const std::string& device) {
    if (device == kLabelDevice) {
        return true;
    }
    const std::size_t digits = device.find_first_not_of("0123456789");
    return digits != std::string::npos && digits > 0 &&
           device.compare(digits, std::string::npos, std::string("- ") + kLabelDevice) == 0;
}

const AudioPort* findPort(const std::vector<AudioPort>& ports, const std::string& id,
                          bool isInput) {
    for (const AudioPort& port : ports) {
        if (port.id == id && port.isInput == isInput) {
            return &port;
        }
    }
    return nullptr;
}

std::string groupKey(const AudioPort& port) {
    return port.interfaceKey.empty() ? interfaceKeyFromPortLabel(port.name, port.id)
                                     : port.interfaceKey;
}

bool checkDirection(const std::vector<EndpointSelection>& selections,
                    const std::vector<AudioPort>& ports, bool isInput, std::string& error) {
    std::vector<std::string> keys;
    for (const EndpointSelection& selection : selections) {
        const AudioPort* port = findPort(ports, selection.endpointId, isInput);
        if (port == nullptr) {
            error = "Selected endpoint absent from current device catalogue or wrong direction: " +
                    selection.endpointId;
            return false;
        }
        std::string key = groupKey(*port);
        if (std::find(keys.begin(), keys.end(), key) != keys.end()) {
            error = std::string("Select only one ") + (isInput ? "input" : "output") +
                    " endpoint per physical interface; overlapping endpoint aliases are not "
                    "additional inputs or outputs: " +
                    port->name;
            return false;
        }
        keys.push_back(std::move(key));
    }
    return true;
}

} // namespace

bool enumerateDevices(AudioBackend& backend, std::vector<AudioPort>& ports, std::string& error) {
    return enumerateDevices(*backend.system, ports, error);
}

bool enumerateDevices(AudioSystem& system, std::vector<AudioPort>& ports, std::string& error) {
    error.clear();
    ports.clear();
    const Hresult apartment = system.enterApartment();
    if (hresultFailed(apartment) && apartment != kHresultChangedMode) {
        error = hresultText(apartment);
        return false;
    }
    ApartmentGuard guard(system, apartment);
    std::unique_ptr<AudioEnumeratorApi> enumerator;
    const Hresult created = system.createEnumerator(enumerator);
    if (hresultFailed(created)) {
        error = hresultText(created);
        return false;
    }
    listFlow(*enumerator, DataFlow::Capture, ports, error);
    listFlow(*enumerator, DataFlow::Render, ports, error);
    std::sort(ports.begin(), ports.end(), [](const AudioPort& a, const AudioPort& b) {
        if (a.isInput != b.isInput) {
            return a.isInput > b.isInput;
        }
        return a.id < b.id;
    });
    return error.empty();
}

std::string readFriendlyName(AudioDeviceApi& device) {
    PropertyValue value;
    if (hresultFailed(device.readProperty(DeviceProperty::FriendlyName, value)) ||
        value.kind != PropertyValue::Kind::Text) {
        return {};
    }
    return wideToUtf8(value.text.c_str());
}

std::string interfaceKeyFromContainer(AudioDeviceApi& device) {
    PropertyValue value;
    if (hresultFailed(device.readProperty(DeviceProperty::ContainerId, value))) {
        return {};
    }
    Guid container;
    if (value.kind == PropertyValue::Kind::Guid) {
        container = value.guid;
    } else if (value.kind == PropertyValue::Kind::Text) {
        const std::optional<Guid> parsed = parseGuidText(value.text);
        if (!parsed) {
            return {};
        }
        container = *parsed;
    } else {
        return {};
    }
    if (container == Guid{} || container == kBuiltInContainer) {
        return {};
    }
    return "container:" + guidText(container);
}

std::string interfaceKeyFromPortLabel(const std::string& name, const std::string& id) {
    const std::size_t open = name.find(" (");
    if (name.size() < 2 || open == std::string::npos || name.back() != ')' ||
        open + 2 > name.size() - 1) {
        return id;
    }
    const std::string label = name.substr(0, open);
    const std::string device = name.substr(open + 2, name.size() - 1 - (open + 2));
    const bool knownLabel =
        std::find(std::begin(kLabels), std::end(kLabels), label) != std::end(kLabels);
    if (!knownLabel || !isLabelDevice(device)) {
        return id;
    }
    return "umc404hd-label:" + device;
}

bool checkEndpointSelection(const AudioBackendConfig& config, const std::vector<AudioPort>& ports,
                            std::string& error) {
    return checkDirection(config.inputs, ports, true, error) &&
           checkDirection(config.outputs, ports, false, error);
}

bool checkDeviceMode(const AudioBackendConfig& config, const std::vector<AudioPort>& ports,
                     std::string& error) {
    if (config.deviceMode > 1) {
        error = "Unknown audio device mode.";
        return false;
    }
    std::vector<const AudioPort*> selected;
    for (const auto* selections : {&config.inputs, &config.outputs}) {
        const bool isInput = selections == &config.inputs;
        for (const EndpointSelection& selection : *selections) {
            const AudioPort* port = findPort(ports, selection.endpointId, isInput);
            if (port == nullptr || !port->mixKnown) {
                error = "The selected audio endpoint is unavailable. Refresh devices and choose "
                        "an available input or output.";
                return false;
            }
            selected.push_back(port);
        }
    }
    if (config.deviceMode == 0 && !selected.empty()) {
        const std::string first = groupKey(*selected.front());
        for (const AudioPort* port : selected) {
            if (groupKey(*port) != first) {
                error = "Single-interface mode requires input and output on the same audio "
                        "interface. Choose matching ports, or select Multiple interfaces for a "
                        "separate microphone and headphones.";
                return false;
            }
        }
    }
    return true;
}

bool checkMasterRate(const AudioBackendConfig& config, const std::vector<AudioPort>& ports,
                     std::string& error) {
    if (config.outputs.empty()) {
        error = "Choose an audio output before starting audio.";
        return false;
    }
    const std::string& masterId =
        config.masterId.empty() ? config.outputs.front().endpointId : config.masterId;
    const auto master = std::find_if(
        config.outputs.begin(), config.outputs.end(),
        [&](const EndpointSelection& selection) { return selection.endpointId == masterId; });
    if (master == config.outputs.end()) {
        error = "Choose a clock master from the selected audio outputs.";
        return false;
    }
    const AudioPort* port = findPort(ports, masterId, false);
    if (port == nullptr || !port->mixKnown) {
        error = "The selected clock output is unavailable. Refresh devices and choose an "
                "available output.";
        return false;
    }
    if (master->requireExclusive || port->sampleRate == config.sampleRate) {
        return true;
    }
    error = "Audio output \"" + port->name + "\" uses " + std::to_string(port->sampleRate) +
            " Hz in Windows shared mode, but RACK requests " + std::to_string(config.sampleRate) +
            " Hz. Choose Automatic sample rate or match RACK to " +
            std::to_string(port->sampleRate) + " Hz in Advanced setup.";
    return false;
}

std::string describePrepareFailure(const std::vector<std::string>& labels,
                                   const std::vector<std::uint32_t>& results, std::size_t index,
                                   bool timedOut) {
    std::uint32_t result =
        static_cast<std::uint32_t>(timedOut ? kHresultTimeout : kHresultCancelled);
    bool failed = false;
    for (std::size_t i = 0; i < results.size(); ++i) {
        if (hresultFailed(static_cast<Hresult>(results[i]))) {
            index = i;
            result = results[i];
            failed = true;
            break;
        }
    }
    const std::string subject = index < labels.size() ? labels[index] : "selected audio device";
    const std::string resultText = formatHresult(result);
    if (failed) {
        return "Could not prepare " + subject + " (" + resultText + ").";
    }
    if (timedOut) {
        return "Timed out waiting for " + subject + " to prepare (" + resultText + ").";
    }
    return "Audio setup was cancelled while preparing " + subject + " (" + resultText + ").";
}

} // namespace velkaphon::rack
