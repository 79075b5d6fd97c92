#include "hosting/clap_host.hpp"

#include "abi/clap/audio_ports.hpp"
#include "abi/clap/gui.hpp"
#include "abi/clap/latency.hpp"
#include "abi/clap/params.hpp"
#include "abi/clap/state.hpp"
#include "abi/clap/thread_check.hpp"

#include <cstring>

namespace velkaphon::rack {

namespace {

// Null only when a plug-in passes something other than its own host record.
ClapHostState* stateOf(const clap_host* host) {
    return host == nullptr ? nullptr : static_cast<ClapHostState*>(host->host_data);
}

void raise(const clap_host* host, std::atomic<bool> ClapHostState::*request) {
    if (ClapHostState* state = stateOf(host)) {
        (state->*request).exchange(true);
    }
}

void requestRestart(const clap_host* host) {
    raise(host, &ClapHostState::restartRequest);
}

void requestCallback(const clap_host* host) {
    raise(host, &ClapHostState::callbackRequest);
}

void requestFlush(const clap_host* host) {
    raise(host, &ClapHostState::flushRequest);
}

void ignoreHost(const clap_host*) {}

bool isMainThread(const clap_host* host) {
    const ClapHostState* state = stateOf(host);
    return state != nullptr && state->mainThreadId == currentThreadId();
}

bool isAudioThread(const clap_host* host) {
    const ClapHostState* state = stateOf(host);
    return state != nullptr &&
           state->audioThreadId.load(std::memory_order_relaxed) == currentThreadId();
}

void rescanParameters(const clap_host* host, std::uint32_t flags) {
    if ((flags & (CLAP_PARAM_RESCAN_VALUES | CLAP_PARAM_RESCAN_ALL)) != 0) {
        raise(host, &ClapHostState::valuesRequest);
    }
    if ((flags & CLAP_PARAM_RESCAN_ALL) != 0) {
        requestRestart(host);
    }
}

void clearParameter(const clap_host*, clap_id, std::uint32_t) {}

bool supportsEveryRescanFlag(const clap_host*, std::uint32_t) {
    return true;
}

void rescanAudioPorts(const clap_host* host, std::uint32_t) {
    requestRestart(host);
}

bool refuseResize(const clap_host*, std::uint32_t, std::uint32_t) {
    return false;
}

bool accept(const clap_host*) {
    return true;
}

void ignoreClosed(const clap_host*, bool) {}

constexpr clap_host_thread_check kThreadCheck{isMainThread, isAudioThread};
constexpr clap_host_gui kGui{ignoreHost, refuseResize, accept, accept, ignoreClosed};
constexpr clap_host_params kParams{rescanParameters, clearParameter, requestFlush};
constexpr clap_host_latency kLatency{requestRestart};
constexpr clap_host_audio_ports kAudioPorts{supportsEveryRescanFlag, rescanAudioPorts};
constexpr clap_host_state kState{requestCallback};

// Any other id, "clap.note-ports" included, gives null.
const void* hostExtension(const clap_host*, const char* id) {
    if (id == nullptr) {
        return nullptr;
    }
    const auto is = [id](const char* name) {
        return std::strcmp(id, name) == 0;
    };
    if (is(CLAP_EXT_THREAD_CHECK)) {
        return &kThreadCheck;
    }
    if (is(CLAP_EXT_GUI)) {
        return &kGui;
    }
    if (is(CLAP_EXT_PARAMS)) {
        return &kParams;
    }
    if (is(CLAP_EXT_LATENCY)) {
        return &kLatency;
    }
    if (is(CLAP_EXT_AUDIO_PORTS)) {
        return &kAudioPorts;
    }
    if (is(CLAP_EXT_STATE)) {
        return &kState;
    }
    return nullptr;
}

} // namespace

clap_host makeClapHost(ClapHostState& state) noexcept {
    return clap_host{kClapVersion, &state,           kClapHostName, kClapHostVendor,
                     kClapHostUrl, kClapHostVersion, hostExtension, requestRestart,
                     ignoreHost,   requestCallback};
}

} // namespace velkaphon::rack
