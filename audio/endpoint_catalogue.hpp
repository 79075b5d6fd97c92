#pragma once

#include "audio/audio_backend.hpp"
#include "audio/audio_system.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace velkaphon::rack {

// One active endpoint as the catalogue lists it.
struct AudioPort {
    std::string id;
    std::string name;
    // The physical interface it belongs to; may be empty.
    std::string interfaceKey;
    bool isInput = false;
    std::uint32_t channels = 0;
    std::uint32_t sampleRate = 0;
    // The mix format was read and accepted; ports without it never reach the device list.
    bool mixKnown = false;
};

// [control] A fresh catalogue of every active capture and then render endpoint, sorted by
// direction and id, through the back end's system. COM failures leave "HRESULT 0x…" in error;
// what could be listed is listed anyway. The apartment is entered and left inside.
bool enumerateDevices(AudioBackend& backend, std::vector<AudioPort>& ports, std::string& error);
bool enumerateDevices(AudioSystem& system, std::vector<AudioPort>& ports, std::string& error);

// PKEY_Device_FriendlyName in UTF-8, or empty.
std::string readFriendlyName(AudioDeviceApi& device);

// "container:{…}" from PKEY_Device_ContainerId, or empty when there is no usable container.
std::string interfaceKeyFromContainer(AudioDeviceApi& device);

// "umc404hd-label:" and the device part for the interface's port-label names, else the id.
std::string interfaceKeyFromPortLabel(const std::string& name, const std::string& id);

bool checkEndpointSelection(const AudioBackendConfig& config, const std::vector<AudioPort>& ports,
                            std::string& error);
bool checkDeviceMode(const AudioBackendConfig& config, const std::vector<AudioPort>& ports,
                     std::string& error);
bool checkMasterRate(const AudioBackendConfig& config, const std::vector<AudioPort>& ports,
                     std::string& error);

// The sentence for an endpoint that did not reach "prepared": the first one that failed, else
// the one waited on.
std::string describePrepareFailure(const std::vector<std::string>& labels,
                                   const std::vector<std::uint32_t>& results, std::size_t index,
                                   bool timedOut);

} // namespace velkaphon::rack
