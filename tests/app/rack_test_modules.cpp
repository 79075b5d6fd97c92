#include "tests/app/rack_test_modules.hpp"

#include <stdexcept>

namespace velkaphon::rack::testing {

namespace {

using nlohmann::json;

void passThrough(BlockContext& context) {
    if (context.inputCount == 0 || context.outputCount == 0) {
        return;
    }
    const PortBusSpan& in = context.inputs[0];
    const PortBusSpan& out = context.outputs[0];
    for (std::uint32_t channel = 0; channel < in.channelCount && channel < out.channelCount;
         ++channel) {
        for (std::uint32_t frame = 0; frame < context.frames; ++frame) {
            out.channels[channel][frame] = in.channels[channel][frame];
        }
    }
}

class PassModule : public Module {
public:
    PassModule(FakeModuleLog::Entry& entry, json configuration)
        : entry_(entry), configuration_(std::move(configuration)) {
        entry_.created.fetch_add(1);
    }

    std::vector<PortSpec> inputs() const override { return {{"in", "In", 2}}; }
    std::vector<PortSpec> outputs() const override { return {{"out", "Out", 2}}; }
    void prepare(const ProcessSpec& spec) override {
        if (spec.sampleRate == configuration_.value("refuseRate", 0.0)) {
            throw std::runtime_error("delay cannot run at this rate");
        }
        entry_.preparedRate = spec.sampleRate;
    }
    void process(BlockContext& context) override {
        entry_.lastPosition.store(context.transport.samplePosition);
        entry_.blocks.fetch_add(1);
        passThrough(context);
    }
    std::uint32_t latencySamples() const override { return configuration_.value("latency", 0u); }
    float level() const override { return 0.0f; }
    void setControl(std::uint32_t index, double value) override {
        entry_.controls.emplace_back(index, value);
    }
    json status() const override { return configuration_; }

private:
    FakeModuleLog::Entry& entry_;
    json configuration_;
};

class FakePlugin : public HostedModule {
public:
    FakePlugin(FakeModuleLog& log, const std::string& id, json configuration)
        : log_(log), id_(id), entry_(log[id]), configuration_(std::move(configuration)),
          editedState_(configuration_.value("componentState", 0.0)) {
        entry_.created.fetch_add(1);
    }

    std::vector<PortSpec> inputs() const override { return {{"in", "In", 2}}; }
    std::vector<PortSpec> outputs() const override { return {{"out", "Out", 2}}; }
    void prepare(const ProcessSpec&) override {
        if (entry_.refusePrepare.load()) {
            throw std::runtime_error(id_ + " cannot be prepared");
        }
    }
    void process(BlockContext& context) override { passThrough(context); }
    std::uint32_t latencySamples() const override { return 0; }
    float level() const override { return 0.0f; }
    // Index 99 stands for an edit in the plug-in's own editor.
    void setControl(std::uint32_t index, double value) override {
        if (index == 99) {
            editedState_.store(value);
            return;
        }
        if (index == 98) {
            asksRestart_.store(true);
            return;
        }
        entry_.controls.emplace_back(index, value);
    }
    json status() const override {
        json status = {{"parameters", configuration_.value("parameters", json::array())}};
        if (configuration_.contains("componentState")) {
            status["componentState"] = editedState_.load();
        }
        return status;
    }

    std::vector<HostedParameter> parameters() const override {
        std::vector<HostedParameter> list;
        for (const json& entry : configuration_.value("parameters", json::array())) {
            list.push_back({entry.at("id").get<std::uint32_t>(), entry.value("name", ""), "dB",
                            entry.value("value", 0.0), false});
        }
        return list;
    }
    bool openEditor(NativeWindowHandle, std::string& error) override {
        error = "editor of " + id_;
        return configuration_.value("editorResult", false);
    }
    void closeEditor() override { entry_.editorCloses.fetch_add(1); }
    void idle() override {
        entry_.idleCalls.fetch_add(1);
        log_.idleOrder.push_back(id_);
        const std::string throws = configuration_.value("idleThrows", "");
        if (throws == "standard") {
            throw std::runtime_error("idle of " + id_ + " failed");
        }
        if (throws == "other") {
            throw 7;
        }
    }
    bool restartRequested() const override {
        return asksRestart_.load() || configuration_.value("restart", false);
    }
    bool stateRefused() const override { return configuration_.value("refusesState", false); }
    std::optional<std::string> processFault() const override {
        if (!configuration_.contains("fault")) {
            return std::nullopt;
        }
        return configuration_["fault"].get<std::string>();
    }
    bool hasEventInput() const override { return configuration_.value("eventInput", false); }
    bool hasEventOutput() const override { return configuration_.value("eventOutput", false); }

private:
    FakeModuleLog& log_;
    std::string id_;
    FakeModuleLog::Entry& entry_;
    json configuration_;
    std::atomic<double> editedState_;
    std::atomic<bool> asksRestart_{false};
};

// Reports the media state that the test keeps in the log, as a recorder's status does.
class FakeRecorder : public PassModule {
public:
    FakeRecorder(FakeModuleLog::Entry& entry, json configuration)
        : PassModule(entry, configuration), entry_(entry),
          configuration_(std::move(configuration)) {}

    json status() const override {
        json status = configuration_;
        if (configuration_.contains("pickedPath")) {
            status["path"] = configuration_["pickedPath"];
        }
        status["status"] = entry_.mediaState;
        return status;
    }

private:
    FakeModuleLog::Entry& entry_;
    json configuration_;
};

} // namespace

FakeModuleLog::Entry& FakeModuleLog::operator[](const std::string& id) {
    auto& entry = entries[id];
    if (!entry) {
        entry = std::make_unique<Entry>();
    }
    return *entry;
}

ModuleFactory fakeModules(FakeModuleLog& log) {
    return [&log](const NodeDefinition& node) -> std::unique_ptr<Module> {
        if (node.type == "delay" || node.type == "probe") {
            return std::make_unique<PassModule>(log[node.id], node.configuration);
        }
        if (node.type == "recorder") {
            return std::make_unique<FakeRecorder>(log[node.id], node.configuration);
        }
        if (node.type == "plugin" || node.type == "vst3") {
            return std::make_unique<FakePlugin>(log, node.id, node.configuration);
        }
        return nullptr;
    };
}

json request(const std::string& method, json params) {
    json message = {{"id", 1}, {"method", method}};
    if (!params.is_null()) {
        message["params"] = std::move(params);
    }
    return message;
}

std::string refusal(RackApplication& rack, const json& command) {
    try {
        rack.handleCommand(command);
    } catch (const std::exception& error) {
        return error.what();
    }
    return "no error";
}

json chain(const std::vector<std::pair<std::string, std::string>>& middle) {
    json nodes = json::array({{{"id", "input"},
                               {"type", "input"},
                               {"configuration", {{"channels", 2}, {"offset", 0}}}}});
    json cables = json::array();
    std::string previous = "input";
    for (const auto& [id, type] : middle) {
        nodes.push_back({{"id", id}, {"type", type}, {"configuration", json::object()}});
        cables.push_back({{"from", previous}, {"output", "out"}, {"to", id}, {"input", "in"}});
        previous = id;
    }
    nodes.push_back({{"id", "output"},
                     {"type", "output"},
                     {"configuration", {{"channels", 2}, {"offset", 0}}}});
    cables.push_back({{"from", previous}, {"output", "out"}, {"to", "output"}, {"input", "in"}});
    return {{"schema", 1}, {"nodes", nodes}, {"cables", cables}, {"eventCables", json::array()}};
}

json pluginChain(const std::string& type, const json& configuration) {
    json patch = chain({{"fx", type}});
    patch["nodes"][1]["configuration"] = configuration;
    patch["cables"][0]["input"] = "0";
    patch["cables"][1]["output"] = "0";
    return patch;
}

} // namespace velkaphon::rack::testing
