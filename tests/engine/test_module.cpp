#include "tests/engine/test_module.hpp"

#include <algorithm>
#include <stdexcept>
#include <xmmintrin.h>

namespace velkaphon::rack::testing {

namespace {

class TestModule final : public Module {
public:
    TestModule(const std::string& id, const TestModuleSetup& setup, TestModuleRecord& record,
               TestLog& log)
        : id_(id), setup_(setup), record_(record), log_(log) {
        log_.alive.fetch_add(1);
    }

    ~TestModule() override {
        if (std::this_thread::get_id() == log_.forbiddenThread) {
            log_.destroyedOnForbiddenThread.fetch_add(1);
        }
        log_.destroyed.push_back(id_);
        log_.alive.fetch_sub(1);
    }

    std::vector<PortSpec> inputs() const override { return setup_.inputs; }
    std::vector<PortSpec> outputs() const override { return setup_.outputs; }

    void prepare(const ProcessSpec& spec) override {
        ++record_.prepares;
        record_.preparedWith = spec;
        if (!setup_.prepareError.empty()) {
            throw std::runtime_error(setup_.prepareError);
        }
    }

    void finishProcessing() noexcept override { ++record_.finishes; }

    void process(BlockContext& context) override {
        if (log_.processedCount < TestLog::kCapacity) {
            log_.processed[log_.processedCount++] = &id_;
        }
        record_.lastFrames = context.frames;
        record_.lastTransport = context.transport;
        record_.lastHostInput = context.hostInput;
        record_.lastHostOutput = context.hostOutput;
        record_.floatModeInProcess = _mm_getcsr();
        for (std::uint64_t e = 0; e < context.eventCount; ++e) {
            if (record_.receivedCount < TestModuleRecord::kCapacity) {
                record_.received[record_.receivedCount++] = {record_.blocks, context.events[e]};
            }
        }
        if (context.inputCount == 0) {
            playSource(context);
        } else {
            applyGain(context);
        }
        exchangeWithHost(context);
        emitEvents(context);
        ++record_.blocks;
        sourcePosition_ += context.frames;
    }

    std::uint32_t latencySamples() const override {
        const std::size_t answer = std::min(latencyReads_, setup_.latencyAnswers.size() - 1);
        ++latencyReads_;
        return setup_.latencyAnswers[answer];
    }

    float level() const override { return 0.0f; }

    void setControl(std::uint32_t index, double value) override {
        if (record_.controlCount < TestModuleRecord::kCapacity) {
            record_.controls[record_.controlCount++] = {index, value};
        }
    }

    nlohmann::json status() const override { return {{"id", id_}}; }

private:
    void playSource(BlockContext& context) const {
        if (sourcePosition_ >= setup_.sourceSamples.size()) {
            return;
        }
        for (std::uint64_t p = 0; p < context.outputCount; ++p) {
            const PortBusSpan& bus = context.outputs[p];
            for (std::uint32_t c = 0; c < bus.channelCount; ++c) {
                for (std::uint32_t i = 0; i < context.frames; ++i) {
                    const std::size_t n = sourcePosition_ + i;
                    if (n < setup_.sourceSamples.size()) {
                        bus.channels[c][i] = setup_.sourceSamples[n] * static_cast<float>(c + 1);
                    }
                }
            }
        }
    }

    void applyGain(BlockContext& context) const {
        const std::uint64_t ports = std::min(context.inputCount, context.outputCount);
        for (std::uint64_t p = 0; p < ports; ++p) {
            const PortBusSpan& in = context.inputs[p];
            const PortBusSpan& out = context.outputs[p];
            for (std::uint32_t c = 0; c < std::min(in.channelCount, out.channelCount); ++c) {
                const float* source = in.channels[c];
                float* target = out.channels[c];
                const float gain = setup_.gain;
                for (std::uint32_t i = 0; i < context.frames; ++i) {
                    target[i] = source[i] * gain;
                }
            }
        }
    }

    void exchangeWithHost(BlockContext& context) const {
        if (setup_.hostRole == HostRole::ReadsHostInput && context.outputCount > 0) {
            const PortBusSpan& out = context.outputs[0];
            for (std::uint32_t c = 0; c < out.channelCount; ++c) {
                const std::uint64_t h = std::uint64_t{setup_.hostOffset} + c;
                if (h < context.hostInput.channelCount && context.hostInput.channels[h]) {
                    std::copy_n(context.hostInput.channels[h], context.frames, out.channels[c]);
                }
            }
        }
        if (setup_.hostRole == HostRole::WritesHostOutput && context.inputCount > 0) {
            const PortBusSpan& in = context.inputs[0];
            for (std::uint32_t c = 0; c < in.channelCount; ++c) {
                const std::uint64_t h = std::uint64_t{setup_.hostOffset} + c;
                if (h < context.hostOutput.channelCount && context.hostOutput.channels[h]) {
                    std::copy_n(in.channels[c], context.frames, context.hostOutput.channels[h]);
                }
            }
        }
    }

    void emitEvents(BlockContext& context) const {
        for (const ScheduledEvent& scheduled : setup_.emitted) {
            if (scheduled.block == record_.blocks) {
                context.outputEvents->push(scheduled.event);
            }
        }
        if (setup_.passEvents) {
            for (std::uint64_t e = 0; e < context.eventCount; ++e) {
                context.outputEvents->push(context.events[e]);
            }
        }
    }

    const std::string& id_;
    const TestModuleSetup& setup_;
    TestModuleRecord& record_;
    TestLog& log_;
    std::size_t sourcePosition_ = 0;
    mutable std::size_t latencyReads_ = 0;
};

} // namespace

PortSpec port(const std::string& id, std::uint32_t channels) {
    return {id, id, channels};
}

NodeDefinition node(const std::string& id, const std::string& type, nlohmann::json configuration) {
    return {id, type, std::move(configuration)};
}

CableDefinition cable(const std::string& from, const std::string& output, const std::string& to,
                      const std::string& input) {
    return {from, output, to, input};
}

std::vector<std::string> TestLog::processOrder() const {
    std::vector<std::string> order;
    for (std::size_t i = 0; i < processedCount; ++i) {
        order.push_back(*processed[i]);
    }
    return order;
}

TestModuleSetup& TestModuleFactory::add(const std::string& nodeId, TestModuleSetup setup) {
    // Modules already made keep references into their entry.
    if (entries_.count(nodeId) != 0) {
        throw std::logic_error("test module added twice: " + nodeId);
    }
    Entry& entry = entries_[nodeId];
    entry.id = nodeId;
    entry.setup = std::move(setup);
    entry.record = std::make_unique<TestModuleRecord>();
    return entry.setup;
}

TestModuleRecord& TestModuleFactory::record(const std::string& nodeId) {
    return *entries_.at(nodeId).record;
}

ModuleFactory TestModuleFactory::factory() {
    return [this](const NodeDefinition& node) -> std::unique_ptr<Module> {
        const auto found = entries_.find(node.id);
        if (found == entries_.end()) {
            return nullptr;
        }
        ++created_;
        Entry& entry = found->second;
        return std::make_unique<TestModule>(entry.id, entry.setup, *entry.record, log_);
    };
}

} // namespace velkaphon::rack::testing
