#pragma once

#include "abi/clap/host.hpp"
#include "hosting/clap_thread_id.hpp"

#include <atomic>
#include <cstdint>

namespace velkaphon::rack {

// What the host callbacks of one CLAP instance set and read. The plug-in may call them from any
// thread, the audio thread included, so they only exchange atomic flags and compare thread ids.
struct ClapHostState {
    // The plug-in needs new ports, latency or a restart.
    std::atomic<bool> restartRequest{false};
    // The plug-in wants on_main_thread.
    std::atomic<bool> callbackRequest{false};
    // The plug-in's parameter values changed and want reading again.
    std::atomic<bool> valuesRequest{false};
    // The plug-in wants its parameters flushed.
    std::atomic<bool> flushRequest{false};
    // The thread that created the instance; fixed before the plug-in exists.
    std::uint32_t mainThreadId = currentThreadId();
    // The thread inside process or stop_processing, else 0.
    std::atomic<std::uint32_t> audioThreadId{0};
};

inline constexpr const char* kClapHostName = "VELKAPHON RACK";
inline constexpr const char* kClapHostVendor = "VELKAPHON";
inline constexpr const char* kClapHostUrl = "https://velkaphon.example/rack";
inline constexpr const char* kClapHostVersion = "0.1.0-beta.3";

// [control] The host record of one instance. Its host_data is the state, which must
// outlive the plug-in.
clap_host makeClapHost(ClapHostState& state) noexcept;

} // namespace velkaphon::rack
