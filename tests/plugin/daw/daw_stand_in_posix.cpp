// A stand-in for a DAW, for the page tests: the rack in plug-in mode, set up as the plug-in's
// processor sets it up, and a host audio thread that asks for stereo blocks of 256 frames at
// about real time, with silent inputs and the transport rolling. Its 44.1 kHz is not the rack's
// default, so the page shows whose rate it is. It prints the page's address and runs the view as
// this machine's shell does, until SIGINT or SIGTERM.

#include "app/rack_application.hpp"
#include "view/loopback_rack_view.hpp"

#include <array>
#include <chrono>
#include <cstdint>
#include <iostream>
#include <stop_token>
#include <thread>

namespace {

using namespace velkaphon::rack;
using Clock = std::chrono::steady_clock;

constexpr double kSampleRate = 44100.0;
constexpr std::uint32_t kBlockFrames = 256;
constexpr std::uint32_t kChannels = 2;

// When the host asks for a block: measured from the start, so the pace never drifts.
Clock::duration blockTime(std::uint64_t block) {
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(static_cast<double>(block * kBlockFrames) / kSampleRate));
}

// [audio]
void runHostAudio(RackApplication& rack, const std::stop_token& stop) {
    std::array<std::array<float, kBlockFrames>, kChannels> input{};
    std::array<std::array<float, kBlockFrames>, kChannels> output{};
    std::array<float*, kChannels> inputRows{};
    std::array<float*, kChannels> outputRows{};
    for (std::uint32_t c = 0; c < kChannels; ++c) {
        inputRows[c] = input[c].data();
        outputRows[c] = output[c].data();
    }
    TransportInfo transport;
    transport.playing = true;
    const auto start = Clock::now();
    for (std::uint64_t block = 0; !stop.stop_requested(); ++block) {
        transport.samplePosition = static_cast<std::int64_t>(block * kBlockFrames);
        rack.processHostBlock(kBlockFrames, {inputRows.data(), kChannels},
                              {outputRows.data(), kChannels}, transport, nullptr, 0);
        std::this_thread::sleep_until(start + blockTime(block + 1));
    }
    // As a host's setProcessing(false) may, from the audio thread.
    rack.requestStop();
}

int runHost() {
    catchCloseSignals();
    RackApplication rack(true);
    rack.configure({kSampleRate, kBlockFrames});
    NativeViewHandle view = createNativeRackView(nullptr, &rack);
    std::cout << rackViewAddress(view) << std::endl;
    std::jthread audio([&rack](std::stop_token stop) { runHostAudio(rack, stop); });
    runRackViewLoop(view, rack, [] { return true; });
    // A host closes the editor, stops processing, then deactivates.
    destroyNativeRackView(view);
    audio.request_stop();
    audio.join();
    rack.stop();
    return 0;
}

} // namespace

int main() {
    try {
        return runHost();
    } catch (const std::exception& error) {
        std::cerr << error.what() << "\n";
        return 1;
    }
}
