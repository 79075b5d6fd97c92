#pragma once

// A module whose ports, latency and events a test chooses, and which records what it was given.

#include "engine/module.hpp"
#include "engine/module_factory.hpp"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace velkaphon::rack::testing {

PortSpec port(const std::string& id, std::uint32_t channels);

NodeDefinition node(const std::string& id, const std::string& type = "test",
                    nlohmann::json configuration = nlohmann::json::object());
CableDefinition cable(const std::string& from, const std::string& output, const std::string& to,
                      const std::string& input);

struct ScheduledEvent {
    // Zero-based count of the module's process calls.
    std::uint64_t block = 0;
    RackEvent event;
};

enum class HostRole {
    None,
    // Output port 0 takes host input channels from hostOffset on.
    ReadsHostInput,
    // Input port 0 overwrites host output channels from hostOffset on.
    WritesHostOutput,
};

struct TestModuleSetup {
    std::vector<PortSpec> inputs;
    std::vector<PortSpec> outputs;
    // Successive answers of latencySamples; the last one repeats.
    std::vector<std::uint32_t> latencyAnswers{0};
    // Output port p channel c = input port p channel c x gain, where both exist.
    float gain = 1.0f;
    // Without input ports, output channel c plays these samples times (c + 1), then silence.
    std::vector<float> sourceSamples;
    HostRole hostRole = HostRole::None;
    std::uint32_t hostOffset = 0;
    std::vector<ScheduledEvent> emitted;
    // Input events go out again unchanged, after the scheduled ones.
    bool passEvents = false;
    // When not empty, prepare throws std::runtime_error with this text.
    std::string prepareError;
};

struct ReceivedEvent {
    std::uint64_t block = 0;
    RackEvent event;
};

struct ControlCall {
    std::uint32_t index = 0;
    double value = 0.0;
};

// What the modules made for one node id saw, across every graph compiled with them. Written on
// the audio thread without allocating; read by the test once its blocks have run.
struct TestModuleRecord {
    static constexpr std::size_t kCapacity = 4096;

    int prepares = 0;
    ProcessSpec preparedWith;
    std::uint64_t blocks = 0;
    int finishes = 0;
    std::uint32_t lastFrames = 0;
    TransportInfo lastTransport;
    BusSpan lastHostInput;
    BusSpan lastHostOutput;
    unsigned int floatModeInProcess = 0;
    std::array<ReceivedEvent, kCapacity> received{};
    std::size_t receivedCount = 0;
    std::array<ControlCall, kCapacity> controls{};
    std::size_t controlCount = 0;
};

// Shared by every module of one factory.
struct TestLog {
    static constexpr std::size_t kCapacity = 8192;

    // Node ids in the order their modules ran, across blocks.
    std::array<const std::string*, kCapacity> processed{};
    std::size_t processedCount = 0;
    // [control] only.
    std::vector<std::string> destroyed;
    std::atomic<int> alive{0};
    // A module destroyed on this thread counts as a fault.
    std::thread::id forbiddenThread;
    std::atomic<int> destroyedOnForbiddenThread{0};

    std::vector<std::string> processOrder() const;
};

// Makes a test module for every node id it was told about and an empty pointer for any other.
class TestModuleFactory {
public:
    TestModuleSetup& add(const std::string& nodeId, TestModuleSetup setup);
    TestModuleRecord& record(const std::string& nodeId);
    TestLog& log() { return log_; }
    int created() const { return created_; }

    // Valid while this object lives.
    ModuleFactory factory();

private:
    struct Entry {
        std::string id;
        TestModuleSetup setup;
        std::unique_ptr<TestModuleRecord> record;
    };

    std::map<std::string, Entry> entries_;
    TestLog log_;
    int created_ = 0;
};

} // namespace velkaphon::rack::testing
